// The line a run ends with when a plug-in crashes or does not come back to the game, and the
// exit statuses that go with it. Built in a buffer of its own, with neither the heap nor a lock,
// so that a signal or exception handler can write it whatever the process was doing.
#pragma once

#include <cstddef>
#include <cstdint>

#include "exit_status.h"
#include "game_api.h"

struct StopLine {
  char text[768];
  std::size_t length = 0;

  StopLine& add(const char* part);
  StopLine& add(const char* part, std::size_t count);
  StopLine& number(std::uint64_t value);
  StopLine& hex(std::uint64_t value);
  // "game-sim: the plug-in crashed: ", or the same of the game's own code when no plug-in ran.
  StopLine& crashed(const PluginActivity& activity);
  // ", in frame 2 (pass)" and the like: which call into the plug-ins it was; on the thread that
  // made the call, with the native the script called last.
  StopLine& where(const PluginActivity& activity, bool withLastNative);
};

// The line for a call into the plug-ins that has run past the limit.
StopLine didNotYield(const PluginActivity& activity, std::uint64_t limitMilliseconds);

// Samples taken now and then by a watchdog thread: true once one and the same call into the
// plug-ins has been seen running for the limit or longer.
struct CallWatch {
  std::uint64_t calls = 0;
  std::uint64_t since = 0;

  bool overdue(const PluginActivity& activity, std::uint64_t nowMilliseconds,
               std::uint64_t limitMilliseconds);
};
