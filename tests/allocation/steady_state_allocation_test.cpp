// Steady passes allocate nothing: over a crowd with labels on, passes 2 to 100 must not touch the
// heap (the first one inserts the weapon table's entries).
//
// How allocations are counted: this binary defines malloc, calloc, realloc, free and the aligned
// allocators itself and forwards them to glibc's __libc_* entry points, which glibc exports for
// this purpose. The dynamic linker binds every malloc of the process to the executable's
// definition first, the C library's internal ones (strdup, stdio buffers) and libstdc++'s
// operator new included. operator new and delete are replaced too, on top of the counting
// malloc, so C++ allocations are counted even with a runtime whose operator new bypassed malloc.
// The first test checks that every one of these paths is really counted, so that a counter that
// saw nothing could not pass for a pass that allocated nothing. AddressSanitizer brings a malloc
// of its own, so this binary is built only without it.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "accuracy/weapon_bones.h"
#include "host/host.h"
#include "scene.h"
#include "script/script.h"
#include "settings/settings.h"
#include "world.h"

namespace {
std::size_t allocations = 0;  // one thread: the test and the plug-in's script context are one
}  // namespace

extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void __libc_free(void* pointer);

void* malloc(std::size_t size) {
  ++allocations;
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  ++allocations;
  return __libc_calloc(count, size);
}
void* realloc(void* pointer, std::size_t size) {
  ++allocations;
  return __libc_realloc(pointer, size);
}
void* memalign(std::size_t alignment, std::size_t size) {
  ++allocations;
  return __libc_memalign(alignment, size);
}
void* aligned_alloc(std::size_t alignment, std::size_t size) {
  ++allocations;
  return __libc_memalign(alignment, size);
}
int posix_memalign(void** out, std::size_t alignment, std::size_t size) {
  if (alignment == 0 || alignment % sizeof(void*) != 0 || (alignment & (alignment - 1)) != 0) {
    return EINVAL;
  }
  ++allocations;
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

namespace {

constexpr int crowd = 64;

// Stores that the optimiser must keep, so that no allocation below is elided.
void* volatile keep = nullptr;

TEST(AllocationCounter, SeesEveryWayOfAllocating) {
  std::size_t before = allocations;
  keep = new int(1);
  delete static_cast<int*>(keep);
  EXPECT_EQ(allocations - before, 1u) << "operator new";

  before = allocations;
  keep = std::malloc(24);
  std::free(keep);
  EXPECT_EQ(allocations - before, 1u) << "malloc";

  before = allocations;
  {
    std::string longer(100, 'x');  // beyond the small-string buffer
    keep = longer.data();
  }
  EXPECT_EQ(allocations - before, 1u) << "std::string";

  before = allocations;
  keep = strdup("inside the C library");
  std::free(keep);
  EXPECT_EQ(allocations - before, 1u) << "the C library's own malloc";
}

TEST(SteadyPasses, AllocateNothingAfterTheFirst) {
  sim::installWorld(sim::crowdScene(crowd));
  sim::world().recordFrames = false;
  displayAccuracy = true;
  angleLeniency = 3.0f;
  weaponBoneTable.clear();

  std::size_t before = allocations;
  runTickPass();
  scriptWait(0);
  EXPECT_GE(allocations - before, static_cast<std::size_t>(weaponBoneRowCount))
      << "the first pass inserts the table's entries";

  before = allocations;
  for (int pass = 2; pass <= 100; ++pass) {
    runTickPass();
    scriptWait(0);
  }
  EXPECT_EQ(allocations - before, 0u) << "heap allocations in passes 2 to 100";

  // The passes did the whole job: every ped treated and labelled, nothing unknown asked.
  sim::world().recordFrames = true;
  runTickPass();
  scriptWait(0);
  const sim::FrameRecord& frame = sim::world().frames.at(0);
  EXPECT_EQ(frame.labels.size(), static_cast<std::size_t>(crowd));
  for (std::size_t i = 1; i < frame.actors.size(); ++i) EXPECT_EQ(frame.actors[i].accuracySets, 1);
  EXPECT_TRUE(sim::host().unknownNatives.empty());
  EXPECT_TRUE(sim::world().protocolErrors.empty());
}

}  // namespace
