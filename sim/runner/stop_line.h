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

// Samples taken every tick by a watchdog thread: true once one and the same call into the
// plug-ins has run for the limit or longer. Only time the process ran counts: the watchdog
// thread stops with the process (Ctrl-Z, a debugger), so a gap of more than two ticks between
// two samples is taken for such a stop (or a machine too busy to wake the watchdog) and counts
// as two ticks.
struct CallWatch {
  std::uint64_t limitMilliseconds = 0;
  std::uint64_t calls = 0;
  std::uint64_t ran = 0;  // milliseconds the call seen has run, as far as the samples tell
  std::uint64_t lastSample = 0;
  bool sampled = false;

  explicit CallWatch(std::uint64_t limit) : limitMilliseconds(limit) {}
  // A tenth of the limit, within 10 ms and 0.1 s: a hang is caught within the limit and a tick.
  std::uint64_t tickMilliseconds() const;
  // nowMilliseconds from a clock that only ever goes forward.
  bool overdue(const PluginActivity& activity, std::uint64_t nowMilliseconds);
};
