// Any world -> a few passes of the tick loop: every set the loop creates is released before it
// waits, each pass ends with the release followed by scriptWait(0), and nothing crashes.
//
// Recording every call would make large counts slow, so the calls are watched from the answers:
// the release turns recording on just long enough to catch the wait that must follow it.
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
long waitsSeen = 0;

// The wait that the host has just seen must be scriptWait(0) straight after the set release.
void checkWait() {
  const sim::HostState& host = sim::host();
  fuzz::require(lastNative == releasePedSetNative, "a pass ends with the set release");
  fuzz::require(openSets.empty(), "no set is held across a wait");
  fuzz::require(!host.calls.empty() && host.calls.front().isWait,
                "the release is followed by a wait");
  fuzz::require(host.calls.front().slots.at(0) == 0, "the wait is scriptWait(0)");
}

void watchCallOrder(std::uint64_t hash) {
  sim::HostState& host = sim::host();
  if (host.waitCount != waitsSeen) {
    fuzz::require(host.waitCount == waitsSeen + 1, "one wait per pass");
    checkWait();
    waitsSeen = host.waitCount;
  }
  host.recording = false;
  host.calls.clear();
  lastNative = hash;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::answerGameFromInput();
  fuzz::beforeEachNative = watchCallOrder;
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
    sim::host().recording = true;  // to see the wait that follows
  });
  openSets.reserve(8);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::startInput(data, size);
  sim::HostState& host = sim::host();
  host.recording = false;
  host.waitCount = 0;
  host.waitsBeforeStop = fuzz::input.byte() % 4;  // one to four passes
  openSets.clear();
  lastNative = 0;
  waitsSeen = 0;
  weaponBoneTable.clear();
  displayAccuracy = fuzz::input.truthWord() != 0;
  angleLeniency = fuzz::input.real();

  try {
    runTickLoop();
  } catch (const sim::ScriptStopped&) {
  }

  fuzz::require(host.waitCount == waitsSeen, "one wait per pass");
  checkWait();  // the wait at which the host stopped the script
  fuzz::require(host.unknownNatives.empty(), "only natives the game knows are called");
  return 0;
}
