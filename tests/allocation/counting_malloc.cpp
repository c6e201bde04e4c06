// The counting allocator of the allocation tests (counting_malloc.h says how it counts).
#include "counting_malloc.h"

#include <cerrno>
#include <cstdlib>
#include <new>

std::size_t allocations = 0;
std::size_t failingFrom = 0;

namespace {
// Counts one more allocation; true when it is to fail.
bool countedFails() {
  ++allocations;
  return failingFrom != 0 && allocations >= failingFrom;
}
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);

void* malloc(std::size_t size) {
  if (countedFails()) return nullptr;
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  if (countedFails()) return nullptr;
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  if (countedFails()) return nullptr;  // the block stays as it was
  return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  if (countedFails()) return nullptr;
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  if (countedFails()) return nullptr;
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
    return EINVAL;
  }
  if (countedFails()) return ENOMEM;
  void* pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}
void free(void* pointer) { __libc_free(pointer); }
}

void* operator new(std::size_t size) {
  if (void* pointer = std::malloc(size == 0 ? 1 : size)) return pointer;
  throw std::bad_alloc();
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return std::malloc(size == 0 ? 1 : size);
}
void operator delete(void* pointer) noexcept { std::free(pointer); }
void operator delete[](void* pointer) noexcept { std::free(pointer); }
void operator delete(void* pointer, std::size_t) noexcept { std::free(pointer); }
void operator delete[](void* pointer, std::size_t) noexcept { std::free(pointer); }
