// The stand-in ScriptHookRDR2.dll: the host operations under the names the plug-in imports
// (see stand_in_host.def), each registered script run in a fiber of its own.
#include <windows.h>

#include <deque>

#include "fake_host.h"
#include "game_api.h"

namespace {

struct ScriptFiber {
  HMODULE module;
  void (*entry)();
  LPVOID fiber;
  bool finished;
};

LPVOID hostFiber = nullptr;
std::deque<ScriptFiber> scripts;  // fibers point at their entries: never moved

void yieldToHost() { SwitchToFiber(hostFiber); }

void WINAPI runScript(LPVOID parameter) {
  auto* script = static_cast<ScriptFiber*>(parameter);
  script->entry();
  // A script entry that returns is done; a fiber must never return from its start routine.
  script->finished = true;
  for (;;) SwitchToFiber(hostFiber);
}

DWORD WINAPI keyboardThread(LPVOID) {
  sim::keyboardEventsSent += sim::sendKeyboardEvents();
  return 0;
}

}  // namespace

std::uint64_t sim::keyboardEventsSent = 0;

namespace {

// A save load as the game's host plays it: each script is abandoned where it waits, its fiber
// deleted and never resumed, and its entry runs anew on a fresh fiber in this frame. Whatever
// its stack held at the wait is gone without being destroyed.
void saveLoad(const sim::FrameSchedule& schedule) {
  if (schedule.beforeSaveLoad != nullptr) schedule.beforeSaveLoad();
  for (ScriptFiber& script : scripts) {
    if (script.fiber != nullptr) DeleteFiber(script.fiber);
    script.fiber = nullptr;
  }
}

}  // namespace

// One frame: every registered script runs until its next scriptWait.
void sim::runScriptFrames(int frames) {
  if (hostFiber == nullptr) hostFiber = ConvertThreadToFiber(nullptr);  // the game's main thread
  if (hostFiber == nullptr) return;
  host().yieldToHost = yieldToHost;
  // The game calls keyboard handlers from a thread of its own, never from a script's fiber.
  if (HANDLE thread = CreateThread(nullptr, 0, keyboardThread, nullptr, 0, nullptr)) {
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
  }
  FrameSchedule& schedule = frameSchedule();
  for (int frame = 0; frame < frames; ++frame) {
    const std::uint64_t number = ++schedule.framesRun;
    pluginActivity().frame.store(number, std::memory_order_relaxed);
    if (schedule.saveLoadAt(number)) saveLoad(schedule);
    if (schedule.keysEveryFrame) keyboardEventsSent += sendKeyboardEvents();
    bool started = false;
    for (ScriptFiber& script : scripts) {
      if (script.finished) continue;
      const bool starting = script.fiber == nullptr;
      if (starting) {
        script.fiber = CreateFiber(0, runScript, &script);
        started = script.fiber != nullptr;
      }
      if (script.fiber == nullptr) continue;
      pluginActivity().enter(starting ? phaseScriptStart : phasePass);
      SwitchToFiber(script.fiber);
      pluginActivity().leave();
    }
    if (schedule.afterFrame != nullptr) schedule.afterFrame(number, started);
  }
}

extern "C" {

void hostScriptRegister(HMODULE module, void (*entry)()) {
  sim::hostScriptRegister(module, entry);
  // A plug-in loaded again takes the place of one unloaded, whose fiber is gone: a thousand
  // reloads keep the host's memory flat.
  for (ScriptFiber& script : scripts) {
    if (script.finished && script.fiber == nullptr) {
      script = {module, entry, nullptr, false};
      return;
    }
  }
  scripts.push_back({module, entry, nullptr, false});
}

// The plug-in's script stops with its module: its fiber is deleted, never resumed.
void hostScriptUnregister(HMODULE module) {
  sim::hostScriptUnregister(module);
  for (ScriptFiber& script : scripts) {
    if (script.module != module) continue;
    if (script.fiber != nullptr) DeleteFiber(script.fiber);
    script.fiber = nullptr;
    script.finished = true;
  }
}

void hostKeyboardHandlerRegister(KeyboardHandler handler) {
  sim::hostKeyboardHandlerRegister(handler);
}

void hostKeyboardHandlerUnregister(KeyboardHandler handler) {
  sim::hostKeyboardHandlerUnregister(handler);
}

void hostScriptWait(DWORD milliseconds) { sim::hostScriptWait(milliseconds); }

void hostNativeInit(std::uint64_t hash) { sim::hostNativeInit(hash); }

void hostNativePush64(std::uint64_t slot) { sim::hostNativePush64(slot); }

std::uint64_t* hostNativeCall() { return sim::hostNativeCall(); }

}  // extern "C"
