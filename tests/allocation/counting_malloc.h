// The allocation tests' own malloc: it counts every allocation of the process and can make them
// fail, as when memory runs out.
//
// How allocations are counted: this binary defines malloc, calloc, realloc, free and the aligned
// allocators itself and forwards them to glibc's __libc_* entry points, which glibc exports for
// this purpose. The dynamic linker binds every malloc of the process to the executable's
// definition first, the C library's internal ones (strdup, stdio buffers) and libstdc++'s
// operator new included. operator new and delete are replaced too, on top of the counting
// malloc, so C++ allocations are counted even with a runtime whose operator new bypassed malloc.
// AddressSanitizer brings a malloc of its own, so this binary is built only without it.
#pragma once

#include <cstddef>

// One thread: the test and the plug-in's script context are one.
extern std::size_t allocations;  // every allocation so far, failed ones included
extern std::size_t failingFrom;  // from this count of allocations on, each one fails; 0: none
