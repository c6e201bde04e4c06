// Where the capture flavour hooks into the plug-in: the same calls in both flavours. In the
// release build every hook is empty and inline, so it compiles to nothing and the release plug-in
// holds none of the recorder; the capture build (PLUGIN_CAPTURE) gets the recorder's.
//
//   settings   captureSettingsDefaults() before the file is read, captureSettingsRead(ini) after
//   script     captureScriptStart() after the start-up log, capturePassEnd() before scriptWait
//   unload     captureUnload(processEnding) in DllMain's detach
//   natives    captureCallStart<Result>(hash, slots...) before the call, captureCallEnd<Result>
//              after it
#pragma once

#include <cstdint>

#ifdef PLUGIN_CAPTURE
#include "capture/capture_recorder.h"
#else
template <typename Ini>
inline void captureSettingsRead(const Ini&) {}
inline void captureSettingsDefaults() {}
inline void captureScriptStart() {}
inline void capturePassEnd() {}
inline void captureUnload(bool) {}
template <typename Result, typename... Args>
constexpr bool captureCallStart(std::uint64_t, const Args&...) {
  return false;
}
template <typename Result>
constexpr void captureCallEnd(bool, const std::uint64_t*) {}
#endif
