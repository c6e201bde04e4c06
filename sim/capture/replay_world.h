// A world that answers the plug-in from a capture of the real game: by pass, native and
// arguments, so that today's plug-in meets the answers the game gave, whatever it changed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "world.h"

namespace sim {

// What a replay keeps beside the world's record of each frame.
struct ReplayRecord {
  std::string name;  // the capture file, as it was given
  Capture capture;
  std::vector<std::int32_t> handles;  // per actor of the scene, as the game gave them out
  // Per pass and actor, the accuracy the captured plug-in set last (-1: none), and the label
  // the plug-in drew now for the actor (its index in the frame's labels; -1: none).
  std::vector<std::vector<std::int32_t>> capturedAccuracy;
  std::vector<std::vector<std::int32_t>> labelIndex;
  // Questions the capture holds no answer for, as "pass N: 0xHASH(arguments)"; the first ones.
  std::vector<std::string> unanswered;
  std::uint64_t unansweredCount = 0;
};

// The scene a capture stands for: the player and a ped per handle the game answered, where the
// game said they stand, and the settings in force as the scene's settings file.
Scene sceneOfCapture(const Capture& capture, const std::string& name);

// Installs the world of that scene, every native answered from the capture. A question the
// capture cannot answer gets zero answer slots (false, no entity, 0, the origin), but a bone
// lookup gets -1, the game's answer for a bone the model lacks; it is named in the record.
void installReplay(const Capture& capture, const std::string& name);

// The replay installed last; empty before any.
const ReplayRecord& replayRecord();

}  // namespace sim
