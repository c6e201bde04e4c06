// What a replay of a capture shows: the scene report's table of each ped's accuracy and reason,
// beside the accuracy the captured plug-in set, and the questions the capture could not answer.
#pragma once

#include <string>

#include "replay_world.h"
#include "report.h"

namespace sim {

// Why the plug-in did what it did to an actor in a replayed frame, as pedReason gives it; a ped
// the game's answers say nothing more of is named by what the capture shows.
std::string replayReason(const WorldState& state, const FrameRecord& frame, std::size_t actor);

std::string replayReport(const WorldState& state, const RunInfo& run, const ReplayRecord& replay);
std::string replayJson(const WorldState& state, const RunInfo& run, const ReplayRecord& replay);

}  // namespace sim
