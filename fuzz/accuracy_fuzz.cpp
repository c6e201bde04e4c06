// Any answers from the game -> computeShooterAccuracy: the result is -1 or 0..100, and the ped's
// accuracy is set exactly once with that result when it is treated and never when it is not.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "accuracy/accuracy.h"
#include "accuracy/weapon_bones.h"
#include "fuzz_game.h"
#include "settings/settings.h"

namespace {

constexpr std::uint64_t setAccuracyNative = 0x7AEFB85C1D49DEB6;

struct AccuracySet {
  std::uint64_t pedSlot;
  std::uint64_t valueSlot;
};
std::vector<AccuracySet> accuracySets;
std::size_t tableSize = 0;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerGameFromInput();
  fuzz::answerWith(setAccuracyNative, [](const sim::NativeContext& call) {
    accuracySets.push_back({call.slot(0), call.slot(1)});
  });
  sim::host().recording = false;  // the checks need only the accuracy setter's calls
  buildWeaponBoneTable();
  tableSize = weaponBoneTable.size();
  accuracySets.reserve(8);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::startInput(data, size);
  accuracySets.clear();
  const Entity ped = fuzz::input.handle();
  angleLeniency = fuzz::input.real();

  const std::int32_t result = computeShooterAccuracy(ped);

  fuzz::require(result == -1 || (result >= 0 && result <= 100), "the result is -1 or 0..100");
  if (result == -1) {
    fuzz::require(accuracySets.empty(), "an untreated ped's accuracy is left as it was");
  } else {
    fuzz::require(accuracySets.size() == 1, "a treated ped's accuracy is set exactly once");
    fuzz::require(accuracySets[0].pedSlot == nativeSlot(ped), "the accuracy is set on the ped");
    fuzz::require(accuracySets[0].valueSlot == nativeSlot(result), "the value set is the result");
  }
  fuzz::require(sim::host().unknownNatives.empty(), "only natives the game knows are called");
  fuzz::require(weaponBoneTable.size() == tableSize, "the weapon table is only read");
  return 0;
}
