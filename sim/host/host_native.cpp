// The host operations and Windows calls of the native build, served by the fake game.
#include <algorithm>
#include <string>

#include "fake_host.h"
#include "file_versions.h"
#include "game_api.h"
#include "host/host.h"
#include "host/platform.h"

void scriptRegister(HMODULE module, ScriptEntry entry) { sim::hostScriptRegister(module, entry); }
void scriptUnregister(HMODULE module) { sim::hostScriptUnregister(module); }
void keyboardHandlerRegister(KeyboardHandler handler) { sim::hostKeyboardHandlerRegister(handler); }
void keyboardHandlerUnregister(KeyboardHandler handler) {
  sim::hostKeyboardHandlerUnregister(handler);
}
void scriptWait(DWORD milliseconds) { sim::hostScriptWait(milliseconds); }
void nativeInit(std::uint64_t hash) { sim::hostNativeInit(hash); }
void nativePush64(std::uint64_t slot) { sim::hostNativePush64(slot); }
std::uint64_t* nativeCall() { return sim::hostNativeCall(); }

namespace {
std::string executablePathValue = "/game/game.exe";
bool executablePathFails = false;
std::uint32_t tickCountValue = 0;
}  // namespace

void sim::setExecutablePath(const std::string& path, bool fail) {
  executablePathValue = path;
  executablePathFails = fail;
}

void sim::setTickCount(std::uint32_t value) { tickCountValue = value; }

// Behaves as GetModuleFileNameA: a path cut to size - 1 characters when too long, and the
// size itself as the result then. On failure Windows leaves the buffer undefined: here it holds
// the path anyway, the worst junk for a caller that reads it.
std::uint32_t executablePath(char* buffer, std::uint32_t size) {
  if (size == 0) return 0;
  if (executablePathFails) {
    const std::size_t junk = executablePathValue.copy(buffer, size - 1);
    buffer[junk] = '\0';
    return 0;
  }
  const std::size_t length = executablePathValue.size();
  if (length >= size) {
    executablePathValue.copy(buffer, size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  executablePathValue.copy(buffer, length);
  buffer[length] = '\0';
  return static_cast<std::uint32_t>(length);
}

// Natively paths are UTF-8 bytes, which name a folder in any script exactly.
std::FILE* openBesideGame(const char* path, const char* mode) { return std::fopen(path, mode); }
bool opensByUnicodeName(const char*) { return false; }

std::uint32_t tickCount() { return tickCountValue; }

// What the version resources of game-sim.exe and the stand-in host hold; no other module has one.
bool moduleFileVersion(const char* moduleName, std::uint16_t (&version)[4]) {
  const std::uint16_t game[4] = {SIM_GAME_FILE_VERSION};
  const std::uint16_t host[4] = {SIM_HOST_FILE_VERSION};
  const std::uint16_t* found = nullptr;
  if (moduleName == nullptr) {
    found = game;
  } else if (std::string(moduleName) == "ScriptHookRDR2.dll") {
    found = host;
  } else {
    return false;
  }
  std::copy(found, found + 4, version);
  return true;
}

std::uint64_t sim::keyboardEventsSent = 0;

namespace {
std::uint64_t lastFrameOfPart = 0;  // the last frame before the next save load or the end
bool scriptStarted = false;

// Between two frames: the frame just closed is told, and the next one begins when the wait
// returns, unless the stop count unwinds the script first.
void betweenFrames() {
  sim::pluginActivity().leave();
  sim::FrameSchedule& schedule = sim::frameSchedule();
  if (schedule.afterFrame != nullptr) schedule.afterFrame(schedule.framesRun, scriptStarted);
  scriptStarted = false;
  if (schedule.framesRun >= lastFrameOfPart) return;
  sim::pluginActivity().frame.store(++schedule.framesRun, std::memory_order_relaxed);
  if (schedule.keysEveryFrame) sim::keyboardEventsSent += sim::sendKeyboardEvents();
  sim::pluginActivity().enter(phasePass);
}
}  // namespace

// In-process the script runs on the caller's stack: scriptWait closes each frame and, after the
// last one, unwinds the never-ending loop with ScriptStopped.
//
// A save load unwinds it the same way and calls the entry again. The fiber host instead
// abandons the script's stack without destroying what it holds; both leave the plug-in's
// globals as they were and make it read its settings anew, which is what a save load tests. A
// leak from the abandoned stack shows only in the DLL's heap count under Wine.
void sim::runScriptFrames(int frames) {
  HostState& state = host();
  if (state.scriptEntry == nullptr || frames <= 0) return;
  keyboardEventsSent += sendKeyboardEvents();
  FrameSchedule& schedule = frameSchedule();
  const std::uint64_t end = schedule.framesRun + static_cast<std::uint64_t>(frames);
  state.afterWait = betweenFrames;
  while (schedule.framesRun < end) {
    const std::uint64_t first = ++schedule.framesRun;
    pluginActivity().frame.store(first, std::memory_order_relaxed);
    if (schedule.saveLoadAt(first) && schedule.beforeSaveLoad != nullptr) {
      schedule.beforeSaveLoad();
    }
    lastFrameOfPart = end;
    if (schedule.saveLoadEvery > 0) {
      const auto every = static_cast<std::uint64_t>(schedule.saveLoadEvery);
      lastFrameOfPart = std::min(end, (first / every + 1) * every - 1);
    }
    if (schedule.keysEveryFrame) keyboardEventsSent += sendKeyboardEvents();
    scriptStarted = true;
    state.waitsBeforeStop = state.waitCount + static_cast<long>(lastFrameOfPart - first);
    pluginActivity().enter(phaseScriptStart);
    try {
      state.scriptEntry();
    } catch (const ScriptStopped&) {
    }
    pluginActivity().leave();
  }
  state.waitsBeforeStop = -1;
  state.afterWait = nullptr;
}
