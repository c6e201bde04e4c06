// Runs passes over a crowd, for counting instructions under callgrind:
//
//   pass_driver PEDS PASSES [labels] [floor]
//
// Only measuredPasses is worth collecting (--toggle-collect=measuredPasses): the set-up and the
// first pass, which inserts the weapon table's entries, happen before it. With "floor" the
// passes are replays of a real pass's native calls instead, the cost without the plug-in.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "accuracy/weapon_bones.h"
#include "bench_support.h"
#include "host/host.h"
#include "script/script.h"

namespace {
NativeReplay* floorReplay = nullptr;  // set: the passes are replays
}

extern "C" __attribute__((noinline)) void measuredPasses(int passes) {
  for (int pass = 0; pass < passes; ++pass) {
    if (floorReplay != nullptr) {
      replayNatives(*floorReplay);
    } else {
      runTickPass();
    }
    scriptWait(0);
  }
}

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s PEDS PASSES [labels]\n", argv[0]);
    return 2;
  }
  const int peds = std::atoi(argv[1]);
  const int passes = std::atoi(argv[2]);
  bool labels = false;
  bool floor = false;
  for (int i = 3; i < argc; ++i) {
    labels = labels || std::strcmp(argv[i], "labels") == 0;
    floor = floor || std::strcmp(argv[i], "floor") == 0;
  }
  enterCrowd(peds, labels);
  const int treated = pedsTreatedByAPass();
  NativeReplay replay;
  if (floor) {
    replay = recordNatives(runTickPass);
    scriptWait(0);
    const std::string difference = replayDiffersFromPass(replay);
    if (!difference.empty()) {
      std::fprintf(stderr, "the floor differs from the pass: %s\n", difference.c_str());
      return 1;
    }
    floorReplay = &replay;
  }
  measuredPasses(passes);
  std::printf("%d peds, %d treated per pass, %d %s%s\n", peds, treated, passes,
              floor ? "replays of a pass's natives" : "passes", labels ? ", labels on" : "");
  // Each pass rebuilds the weapon table: the instruction guard budgets it per row.
  std::printf("weapon rows: %d\n", weaponBoneRowCount);
  return treated == peds ? 0 : 1;
}
