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
  // Per pass, the accuracy the captured plug-in set on an actor (the last one set), and the label
  // today's plug-in drew for an actor (its index in the frame's labels); only those there are,
  // so that the record grows with the capture's calls, never with passes times peds.
  struct ActorValue {
    std::size_t actor;
    std::int32_t value;
  };
  struct PassNotes {
    std::vector<ActorValue> capturedAccuracy;
    std::vector<ActorValue> labels;
  };
  std::vector<PassNotes> passes;
  // Questions the capture holds no answer for, as "pass N: 0xHASH(arguments)"; the first ones.
  std::vector<std::string> unanswered;
  std::uint64_t unansweredCount = 0;
};

// Installs the world a capture stands for (the player and a ped per handle the game answered,
// where the game said they stand, and the settings in force as the scene's settings file), every
// native answered from the capture. A question the
// capture cannot answer gets zero answer slots (false, no entity, 0, the origin), but a bone
// lookup gets -1, the game's answer for a bone the model lacks; it is named in the record.
// Empty, or what keeps the capture from being replayed (the world then stays as it was). The
// capture is kept in the record: moved in, a large one is not held twice.
std::string installReplay(Capture capture, const std::string& name);

// A pass's notes as a value per actor, -1 where none is noted.
std::vector<std::int32_t> perActor(const std::vector<ReplayRecord::ActorValue>& notes,
                                   std::size_t actors);

// The replay installed last; empty before any.
const ReplayRecord& replayRecord();

}  // namespace sim
