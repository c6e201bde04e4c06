// Any world -> a few passes of the tick loop: every set the loop creates is released before it
// waits, each pass ends with the release followed by scriptWait(0), and nothing crashes.
//
// Nothing is recorded, so that large counts stay quick: the answers and the host's wait hook
// watch the order as it happens.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "accuracy/weapon_bones.h"
#include "fuzz_game.h"
#include "script/script.h"
#include "settings/settings.h"

namespace {

constexpr std::uint64_t createPedSetNative = 0xA1AF16083320065A;
constexpr std::uint64_t findNearbyPedsNative = 0x59B57C4B06531E1E;
constexpr std::uint64_t releasePedSetNative = 0x712BC69F10549B92;

// Found counts above this wrap around, so that a run stays quick; negative ones stay as they are.
constexpr std::int32_t maxFound = 3000;

std::vector<std::int32_t> openSets;
std::uint64_t lastNative = 0;

void checkWait(DWORD milliseconds) {
  fuzz::require(lastNative == releasePedSetNative, "a pass ends with the set release");
  fuzz::require(openSets.empty(), "no set is held across a wait");
  fuzz::require(milliseconds == 0, "the wait is scriptWait(0)");
  lastNative = 0;  // a second wait in a row has no release before it
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerGameFromInput();
  fuzz::beforeEachNative = [](std::uint64_t hash) { lastNative = hash; };
  sim::host().onWait = checkWait;
  sim::host().recording = false;
  fuzz::answerWith(createPedSetNative, [](const sim::NativeContext& call) {
    openSets.push_back(fuzz::input.handle());
    call.setInt(openSets.back());
  });
  fuzz::answerWith(findNearbyPedsNative, [](const sim::NativeContext& call) {
    fuzz::require(!openSets.empty() && call.intSlot(4) == openSets.back(),
                  "the search fills the pass's set");
    std::int32_t found = fuzz::input.integer();
    if (found > maxFound) found %= maxFound + 1;
    call.setInt(found);
  });
  fuzz::answerWith(releasePedSetNative, [](const sim::NativeContext& call) {
    const auto set = std::find(openSets.begin(), openSets.end(), call.intSlot(0));
    fuzz::require(set != openSets.end(), "only a created set is released");
    openSets.erase(set);
  });
  openSets.reserve(8);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::startInput(data, size);
  sim::HostState& host = sim::host();
  host.waitCount = 0;
  host.waitsBeforeStop = fuzz::input.byte() % 4;  // one to four passes
  openSets.clear();
  lastNative = 0;
  weaponBoneTable.clear();
  displayAccuracy = fuzz::input.truthWord() != 0;
  angleLeniency = fuzz::input.real();

  try {
    runTickLoop();
  } catch (const sim::ScriptStopped&) {
  }

  fuzz::require(host.unknownNatives.empty(), "only natives the game knows are called");
  return 0;
}
