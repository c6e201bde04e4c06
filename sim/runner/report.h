// What a run of the simulated game shows: a table per frame, a picture of the last frame from
// the player's view, and the results as JSON for the tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "game_api.h"
#include "world.h"

namespace sim {

struct LoadedModule {
  std::string file;
  std::uintptr_t module = 0;
};

struct RunInfo {
  int framesRequested = 0;
  std::vector<LoadedModule> modules;
  std::uint64_t keyboardEvents = 0;
  std::vector<ReloadRecord> reloads;  // one per load of the plug-ins when the run reloads them
};

// The label of a frame drawn at this actor's anchor (one metre above it), or nullptr.
const Label* labelOf(const FrameRecord& frame, const Scene& scene, std::size_t actorIndex);

// Why the plug-in did what it did to an actor in a frame, from the game's answers as it got
// them: what decided a 0 or a 100, a bone not found, or why it set nothing; empty otherwise.
std::string pedReason(const WorldState& state, const FrameRecord& frame, std::size_t actorIndex);

std::string frameTable(const WorldState& state, std::size_t frameIndex);
std::string runReport(const WorldState& state, const RunInfo& run);
std::string resultsJson(const WorldState& state, const RunInfo& run);
std::string frameSvg(const WorldState& state, std::size_t frameIndex);

}  // namespace sim
