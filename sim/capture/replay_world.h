// A world that answers the plug-in from a capture of the real game: by pass, native and
// arguments, so that today's plug-in meets the answers the game gave, whatever it changed. The
// capture is read a pass at a time: only the pass running is held, with its lookup.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture.h"
#include "world.h"

namespace sim {

// What a replay runs with besides the capture: settings of one's own in place of the captured
// ones, and an expectation file to judge today's accuracies by (or to write them to).
struct ReplayOptions {
  std::optional<float> angle;
  std::optional<bool> displayAccuracy;
  std::string expectPath;  // empty: judged by the captured accuracies
  bool accept = false;     // today's accuracies are written to expectPath as the expected ones
};

// An accuracy set on an actor in a pass, in the order the sets came.
struct ActorValue {
  std::size_t actor;
  std::int32_t value;
};

// How many accuracies a replay compared against others, how many differ, and the first that did.
struct Comparison {
  std::uint64_t compared = 0;
  std::uint64_t differing = 0;
  std::uint64_t passesDiffering = 0;
  std::uint64_t firstPass = 0;  // 0: none differs
  Entity firstPed = 0;
};

// What a replay keeps beside the world's record of each frame.
struct ReplayRecord {
  std::string name;  // the capture file, as it was given
  CaptureInfo info;
  CaptureEnding ending;
  ReplayOptions options;
  std::string settingsText;     // the settings file the replay put down
  std::vector<Entity> handles;  // per actor of the scene, as the game gave them out
  // Per pass the world kept, by its number: the accuracies the captured plug-in set, those
  // today's set, the expected ones, and the labels today's drew (the actor and its index in the
  // frame's labels). Only for passes kept, so that the record grows with what is reported, never
  // with passes times peds.
  struct PassNotes {
    std::vector<ActorValue> captured;
    std::vector<ActorValue> now;
    std::vector<ActorValue> expected;
    std::vector<ActorValue> labels;
    bool differs = false;          // from the captured accuracies
    bool differsExpected = false;  // from the expected ones
  };
  std::map<std::uint64_t, PassNotes> kept;
  // Passes not kept though unlike the pass before them (every accuracy as judged, or they
  // would be kept): the world keeps only so many such frames.
  std::vector<std::uint64_t> unlikeBeforeNotShown;
  Comparison captured;  // today's accuracies against the captured ones
  Comparison expected;  // against the expectation file, when one is given
  // Questions the capture holds no answer for, as "pass N: name(arguments)"; the first ones.
  std::vector<std::string> unanswered;
  std::uint64_t unansweredCount = 0;
  std::string expectationText;  // today's accuracies as an expectation file, when accepting
  std::string readError;        // a fault met reading the passes a second time
};

// Reads the capture at `path` once through for its cast (the player and a ped per handle the game
// answered, where the game said they stand, and the settings in force, or the options' ones, as
// the scene's settings file) and installs that world, every native answered from the capture
// pass by pass. A question the capture cannot answer gets zero answer slots (false, no entity, 0,
// the origin), but a bone lookup gets -1, the game's answer for a bone the model lacks; it is
// named in the record. Empty, or what keeps the capture from being replayed (the world then
// stays as it was). `passes` is set to the passes to run.
std::string installReplay(const std::string& path, const std::string& name,
                          const ReplayOptions& options, std::uint32_t& passes);

// The replay installed last; empty before any.
const ReplayRecord& replayRecord();

// Whether the replay's accuracies differ from those it is judged by (the expectation file's
// when one is given, else the captured ones).
bool replayDiffers();

// Whether these bytes are a settings file a replay puts down, whatever its two values: one left
// by a replay with other settings is no one's own, and may be replaced.
bool isReplaySettingsFile(std::string_view bytes);

// The expectation file's text: per pass and ped (its handle), the accuracies today's plug-in
// set, a line each, under a few lines saying what it is.
std::string expectationFile(const ReplayRecord& record);

}  // namespace sim
