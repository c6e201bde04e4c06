// What the benchmarks and the instruction-count driver share: a crowd of treated peds in the
// simulated world, and the native calls of a real pass kept for replay without the plug-in.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "native_replay.h"

// Installs a crowd of `peds` treated peds, sets the two settings and runs the first pass (the
// one that fills the weapon table), so that what follows is a steady frame.
void enterCrowd(int peds, bool labels);

// How many peds a real pass sets an accuracy on (its frame ended and dropped again).
int pedsTreatedByAPass();

using sim::NativeReplay;
using sim::ReplayCall;

// Records the native calls `work` makes, ready for replay.
NativeReplay recordNatives(const std::function<void()>& work);

// The same calls through the same host entry points, with no plug-in logic: the floor. The only
// thing carried from one answer to later slots is the set handle the game gives this frame.
void replayNatives(NativeReplay& replay);

// Runs a real pass and a replay of `replay`, each ending its frame, and compares what the world
// saw; returns an empty string when they agree, or the first difference.
std::string replayDiffersFromPass(NativeReplay& replay);
