// Steady passes allocate nothing: over a crowd with labels on, passes 2 to 100 must not touch the
// heap (the first one inserts the weapon table's entries). The first test checks that every way
// of allocating is really counted, so that a counter that saw nothing could not pass for a pass
// that allocated nothing.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "accuracy/weapon_bones.h"
#include "counting_malloc.h"
#include "host/host.h"
#include "scene.h"
#include "script/script.h"
#include "settings/settings.h"
#include "world.h"

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
