// Records the native calls of some work and makes them again, against the same world, without
// the plug-in.
#include "native_replay.h"

#include <utility>

#include "natives.h"
#include "world.h"

namespace sim {
namespace {

// Which slot of a native names the frame's set.
int setSlotOf(std::uint64_t hash) {
  switch (hash) {
    case natives::findNearbyPedsNative: return 4;
    case natives::pedSetItemNative: return 1;
    case natives::releasePedSetNative: return 0;
    default: return -1;
  }
}
}  // namespace

NativeReplay replayOf(const std::vector<RecordedCall>& recorded) {
  NativeReplay replay;
  std::vector<std::pair<std::size_t, std::size_t>> textSlots;    // slot index, text offset
  std::vector<std::pair<std::size_t, std::size_t>> outputSlots;  // slot index, output index
  for (const RecordedCall& event : recorded) {
    if (event.isWait) continue;
    ReplayCall call;
    call.hash = event.hash;
    call.firstSlot = static_cast<std::uint32_t>(replay.slots.size());
    call.slotCount = static_cast<std::uint32_t>(event.slots.size());
    call.createsSet = event.hash == natives::createPedSetNative;
    const unsigned addresses = addressSlotsOf(event.hash);
    const int textSlot = textSlotOf(event.hash);
    const int setSlot = setSlotOf(event.hash);
    for (std::size_t i = 0; i < event.slots.size(); ++i) {
      const std::size_t index = replay.slots.size();
      replay.slots.push_back(event.slots[i]);
      if (static_cast<int>(i) == setSlot) replay.setSlots.push_back(index);
      if ((addresses >> i & 1u) == 0 || event.slots[i] == 0) continue;
      if (static_cast<int>(i) == textSlot) {
        textSlots.emplace_back(index, replay.texts.size());
        replay.texts.insert(replay.texts.end(), event.text.begin(), event.text.end());
        replay.texts.push_back('\0');
      } else {
        outputSlots.emplace_back(index, replay.outputs.size());
        replay.outputs.push_back(0);
      }
    }
    replay.calls.push_back(call);
  }
  // The storage is complete: now the addresses into it stay put.
  for (const auto& [slot, offset] : textSlots) {
    replay.slots[slot] = reinterpret_cast<std::uintptr_t>(replay.texts.data() + offset);
  }
  for (const auto& [slot, output] : outputSlots) {
    replay.slots[slot] = reinterpret_cast<std::uintptr_t>(replay.outputs.data() + output);
  }
  return replay;
}

}  // namespace sim
