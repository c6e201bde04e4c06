// game-sim's options: one row each, for the parser and --help alike.
#pragma once

#include <cstdint>
#include <string>

// Memory stays flat however long the run: a billion frames are over 4000 hours at 60 FPS.
constexpr long maxFrames = 1000000000;

struct Options {
  int frames = 3;
  bool framesGiven = false;
  const char* scene = nullptr;
  const char* replay = nullptr;
  // A replay's own settings in place of the captured ones, and its expectation file.
  bool angleGiven = false;
  float angle = 0.0f;
  bool displayAccuracyGiven = false;
  bool displayAccuracy = false;
  const char* expect = nullptr;
  bool accept = false;
  const char* dump = nullptr;
  const char* json = nullptr;
  const char* svg = nullptr;
  bool quiet = false;
  bool printScene = false;
  bool help = false;
  const char* modulePath = nullptr;
  const char* holdSettings = nullptr;
  const char* locale = nullptr;
  int crowd = 0;
  int saveLoadEvery = 0;
  bool keysEveryFrame = false;
  const char* heapJson = nullptr;
  bool replaceSettings = false;
  int reloads = 0;
  std::uint32_t passTimeout = 5000;  // milliseconds
};

// Empty when every option was understood; otherwise what was wrong, naming the option.
std::string parseOptions(int argc, char** argv, Options& options);

std::string helpText();

// Empty, or the option given with --replay that a replay takes from its capture instead, or an
// option only a replay takes given without it.
std::string replayConflict(const Options& options);
