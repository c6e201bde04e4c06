// A plug-in that misbehaves on purpose in its second pass, for the tests of how the simulated
// game ends such a run. MISBEHAVE=fault reads the length of a null name, as a null name in the
// weapon table made our plug-in do; MISBEHAVE=spin never comes back to the host; MISBEHAVE=stop
// (natively) stops the process in the middle of 0.4 s of work in the pass, as Ctrl-Z or a
// debugger would, and comes back once it is resumed and done. Built as a DLL for game-sim.exe
// and linked into a native runner of its own in place of our plug-in.
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "host/host.h"
#include "script/keyboard.h"
#include "script/script.h"

namespace {
constexpr std::uint64_t drawTextNative = 0x16794E044C9EFB58;

// Volatile: the compiler must neither see the null nor drop the loop.
const char* volatile missingName = nullptr;
volatile bool spinning = true;

#ifndef _WIN32
void workFor(std::chrono::milliseconds time) {
  const auto start = std::chrono::steady_clock::now();
  while (std::chrono::steady_clock::now() - start < time) {
  }
}
#endif

void misbehave() {
  const char* how = std::getenv("MISBEHAVE");
  if (how == nullptr) return;
  if (std::strcmp(how, "fault") == 0) {
    // A label first: the line that reports the crash names the last native called.
    nativeInit(drawTextNative);
    nativePush64(reinterpret_cast<std::uintptr_t>("label"));
    nativePush64(0);  // at the screen's corner
    nativePush64(0);
    nativeCall();
    const volatile std::size_t length = std::strlen(missingName);
    static_cast<void>(length);
  } else if (std::strcmp(how, "spin") == 0) {
    while (spinning) {
    }
#ifndef _WIN32
  } else if (std::strcmp(how, "stop") == 0) {
    // Work before the stop, so that the watchdog has seen the pass, and after it, so that the
    // watchdog looks again before the pass ends.
    workFor(std::chrono::milliseconds(200));
    std::raise(SIGSTOP);
    workFor(std::chrono::milliseconds(200));
#endif
  }
}
}  // namespace

void onScriptStart() {
  scriptWait(0);  // the first pass does nothing
  misbehave();
  for (;;) scriptWait(0);
}

void onKeyboardEvent(DWORD, WORD, BYTE, BOOL, BOOL, BOOL, BOOL) {}

#ifdef _WIN32
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    scriptRegister(module, onScriptStart);
    keyboardHandlerRegister(onKeyboardEvent);
  } else if (reason == DLL_PROCESS_DETACH) {
    scriptUnregister(module);
    keyboardHandlerUnregister(onKeyboardEvent);
  }
  return TRUE;
}
#endif
