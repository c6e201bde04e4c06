#include "stop_line.h"

#include <algorithm>

StopLine& StopLine::add(const char* part, std::size_t count) {
  for (std::size_t i = 0; i < count && length < sizeof text - 1; ++i) text[length++] = part[i];
  return *this;
}

StopLine& StopLine::add(const char* part) {
  std::size_t count = 0;
  while (part[count] != '\0') ++count;
  return add(part, count);
}

StopLine& StopLine::number(std::uint64_t value) {
  char digits[20];  // 2^64 has 20
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (count > 0) add(&digits[--count], 1);
  return *this;
}

StopLine& StopLine::hex(std::uint64_t value) {
  char digits[16];
  std::size_t count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value % 16];
    value /= 16;
  } while (value != 0);
  add("0x");
  while (count > 0) add(&digits[--count], 1);
  return *this;
}

StopLine& StopLine::crashed(const PluginActivity& activity) {
  return add(activity.phase.load() == phaseGame ? "game-sim: crashed in the game's own code: "
                                                : "game-sim: the plug-in crashed: ");
}

StopLine& StopLine::where(const PluginActivity& activity, bool withLastNative) {
  const std::uint32_t phase = activity.phase.load();
  const std::uint64_t frame = activity.frame.load();
  if (frame == 0) {
    add(", before the first frame");
  } else {
    const bool loader = phase == phaseAttach || phase == phaseDetach;
    add(loader ? ", after frame " : ", in frame ").number(frame);
  }
  switch (phase) {
    case phaseAttach: return add(" (attach: its DLL entry as it loaded)");
    case phaseKeyboard: return add(" (keyboard handler)");
    case phaseDetach: return add(" (detach: its DLL entry as it unloaded)");
    case phaseScriptStart: add(" (script start"); break;
    case phasePass: add(" (pass"); break;
    default: return *this;
  }
  // Only a script calls natives; the last one tells how far it got, such as into a label.
  const std::uint64_t native = withLastNative ? *activity.lastNative : 0;
  if (native != 0) {
    const char* name = activity.nativeName(native);
    add("; last native called: ").hex(native);
    bool plain = true;  // a constant's name, not the game's remark that there is none
    for (const char* c = name; *c != '\0'; ++c) plain = plain && *c != ':';
    if (plain) add(", ").add(name);
  }
  return add(")");
}

StopLine didNotYield(const PluginActivity& activity, std::uint64_t limitMilliseconds) {
  StopLine line;
  line.add("game-sim: the plug-in did not yield: it has not come back to the game within ")
      .number(limitMilliseconds / 1000);
  if (limitMilliseconds % 1000 != 0) {
    char decimals[4] = {static_cast<char>('0' + limitMilliseconds / 100 % 10),
                        static_cast<char>('0' + limitMilliseconds / 10 % 10),
                        static_cast<char>('0' + limitMilliseconds % 10), '\0'};
    for (int last = 2; last > 0 && decimals[last] == '0'; --last) decimals[last] = '\0';
    line.add(".").add(decimals);
  }
  return line.add(" s").where(activity, false).add("; --pass-timeout SECONDS sets the limit\n");
}

std::uint64_t CallWatch::tickMilliseconds() const {
  return std::clamp<std::uint64_t>(limitMilliseconds / 10, 10, 100);
}

bool CallWatch::overdue(const PluginActivity& activity, std::uint64_t nowMilliseconds) {
  const std::uint64_t gap = sampled ? nowMilliseconds - lastSample : 0;
  lastSample = nowMilliseconds;
  sampled = true;
  const std::uint32_t phase = activity.phase.load(std::memory_order_acquire);
  const std::uint64_t seen = activity.calls.load(std::memory_order_relaxed);
  if (phase == phaseGame || seen != calls) {
    calls = seen;
    ran = 0;
    return false;
  }
  ran += std::min(gap, 2 * tickMilliseconds());
  return ran >= limitMilliseconds;
}
