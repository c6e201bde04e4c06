// The native calls of some work, kept to be made again without the plug-in: the floor that the
// benchmarks, native and under Wine, measure the plug-in against.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fake_host.h"

namespace sim {

// One native call of a replay: its slots live in NativeReplay::slots.
struct ReplayCall {
  std::uint64_t hash = 0;
  std::uint32_t firstSlot = 0;
  std::uint32_t slotCount = 0;
  bool createsSet = false;  // its answer is the frame's set handle
};

// The calls with every address moved to the replay's own storage: the plug-in's stack buffers
// are gone by the time the calls are made again. The only thing carried from one answer to later
// slots is the set handle the game gives each frame (the slots listed in setSlots).
struct NativeReplay {
  std::vector<ReplayCall> calls;
  std::vector<std::uint64_t> slots;
  std::vector<std::size_t> setSlots;   // the slots that carry the frame's set handle
  std::vector<char> texts;             // the texts that text slots point at
  std::vector<std::uint64_t> outputs;  // where out-parameters land
};

// The replay of recorded host events; scriptWaits are left out.
NativeReplay replayOf(const std::vector<RecordedCall>& recorded);

// The set handle a call of `replay` answered with: what its set slots must carry from then on.
inline std::uint64_t setHandleOf(const std::uint64_t* result) {
  return static_cast<std::uint32_t>(result[0]);
}

}  // namespace sim
