// What the benchmarks and the instruction-count driver share: a crowd of treated peds in the
// simulated world, and the native calls of a real pass kept for replay without the plug-in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// Installs a crowd of `peds` treated peds, sets the two settings and runs the first pass (the
// one that fills the weapon table), so that what follows is a steady frame.
void enterCrowd(int peds, bool labels);

// How many peds a real pass sets an accuracy on (its frame ended and dropped again).
int pedsTreatedByAPass();

// One native call of a recording: its slots live in NativeReplay::slots.
struct ReplayCall {
  std::uint64_t hash = 0;
  std::uint32_t firstSlot = 0;
  std::uint32_t slotCount = 0;
  bool createsSet = false;  // its answer is the frame's set handle
};

// The native calls some work made, with every address moved to the recording's own storage:
// the plug-in's stack buffers are gone by the time the calls are made again.
struct NativeReplay {
  std::vector<ReplayCall> calls;
  std::vector<std::uint64_t> slots;
  std::vector<std::size_t> setSlots;   // the slots that carry the frame's set handle
  std::vector<char> texts;             // the texts that text slots point at
  std::vector<std::uint64_t> outputs;  // where out-parameters land
};

NativeReplay recordNatives(const std::function<void()>& work);

// The same calls through the same host entry points, with no plug-in logic: the floor. The only
// thing carried from one answer to later slots is the set handle the game gives this frame.
void replayNatives(NativeReplay& replay);

// Runs a real pass and a replay of `replay`, each ending its frame, and compares what the world
// saw; returns an empty string when they agree, or the first difference.
std::string replayDiffersFromPass(NativeReplay& replay);
