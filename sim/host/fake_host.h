// The stand-in for the script host and the game behind it: one fake game for unit tests, the
// Wine end-to-end runs, the benchmarks and the demo.
//
// It answers each native from a handler registered for its hash, records every call when asked
// to, and puts junk in the upper half of every result slot so that a caller reading more than
// the low 32 bits is caught.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/native.h"

namespace sim {

constexpr std::uint64_t resultJunk = 0xA5A5A5A500000000;
constexpr std::size_t maxSlots = 16;

// The slots of the native being answered and the three result slots to fill.
struct NativeContext {
  std::uint64_t hash;
  const std::uint64_t* slots;
  std::size_t slotCount;
  std::uint64_t* result;

  std::uint64_t slot(std::size_t index) const { return index < slotCount ? slots[index] : 0; }
  std::int32_t intSlot(std::size_t index) const {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(slot(index)));
  }
  float floatSlot(std::size_t index) const { return lowHalfAsFloat(slot(index)); }
  template <typename T>
  T* pointerSlot(std::size_t index) const {
    return reinterpret_cast<T*>(static_cast<std::uintptr_t>(slot(index)));
  }

  void setInt(std::int32_t value) const;
  void setFloat(float value) const;
  void setVector(const Vector3& value) const;
};

using NativeHandler = std::function<void(const NativeContext&)>;

// The handlers by hash, in one flat open-addressed table: finding the answer for a hash is a
// multiply, a shift and mostly a single compare, so the fake game's own cost per native stays
// small next to what the plug-in does around it.
struct HandlerTable {
  struct Entry {
    std::uint64_t hash = 0;
    bool used = false;
    NativeHandler handler;
  };
  std::vector<Entry> entries;  // a power of two in size, at most half full
  std::size_t mask = 0;        // entries.size() - 1
  std::size_t count = 0;

  const NativeHandler* find(std::uint64_t hash) const {
    if (entries.empty()) return nullptr;
    for (std::size_t i = slotOf(hash);; i = (i + 1) & mask) {
      const Entry& entry = entries[i];
      if (!entry.used) return nullptr;
      if (entry.hash == hash) return &entry.handler;
    }
  }
  void set(std::uint64_t hash, NativeHandler handler);

 private:
  std::size_t slotOf(std::uint64_t hash) const {
    return static_cast<std::size_t>((hash * 0x9E3779B97F4A7C15ull) >> 32) & mask;
  }
};

// One recorded host event: a native call, or a scriptWait (hash 0, its time in slot 0).
struct RecordedCall {
  std::uint64_t hash = 0;
  std::vector<std::uint64_t> slots;
  std::string text;  // the text behind a text slot, for natives that take one
  bool isWait = false;
};

// One registration call as the plug-in made it, with the pointers it passed.
struct Registration {
  std::string operation;  // "scriptRegister", "keyboardHandlerRegister", "scriptUnregister", ...
  std::uintptr_t module = 0;
  std::uintptr_t function = 0;
};

struct HostState {
  HandlerTable handlers;
  bool recording = true;
  std::vector<RecordedCall> calls;
  std::vector<std::uint64_t> unknownNatives;  // natives the fake game does not answer, first ones
  std::uint64_t unknownNativeCount = 0;       // all of them: a long run keeps only the first

  // scriptWait throws ScriptStopped once this many waits have returned; negative: never.
  long waitsBeforeStop = -1;
  long waitCount = 0;
  // Told of every scriptWait before it returns: the simulated world closes its frame here.
  void (*onWait)(DWORD milliseconds) = nullptr;
  // Switches back to the host when the script runs in a fiber of its own; null in-process.
  void (*yieldToHost)() = nullptr;
  // In-process only: the frame is over once onWait has closed it; the host's own work between
  // frames runs here, before the wait returns or the script is stopped.
  void (*afterWait)() = nullptr;

  // Registration as the plug-in's DLL entry made it. Every call is counted (an unregistration
  // only when it names what was registered) but only the first ones are logged, so that a run
  // that reloads the plug-in a thousand times stays in constant memory.
  HMODULE registeredModule = nullptr;
  void (*scriptEntry)() = nullptr;
  KeyboardHandler keyboardHandler = nullptr;
  std::vector<Registration> registrationLog;
  std::uint64_t scriptRegistrations = 0;
  std::uint64_t keyboardRegistrations = 0;
  std::uint64_t scriptUnregistrations = 0;
  std::uint64_t keyboardUnregistrations = 0;

  // The in-flight call.
  std::uint64_t pendingHash = 0;
  std::uint64_t pendingSlots[maxSlots] = {};
  std::size_t pendingCount = 0;
  std::uint64_t resultSlots[3] = {};
};

struct ScriptStopped {};

HostState& host();

// Forgets every handler, recording and registration.
void resetHost();

// Scripted answers: a fixed value for every call of a hash, or a handler of one's own.
void answer(std::uint64_t hash, NativeHandler handler);
void answerInt(std::uint64_t hash, std::int32_t value);
void answerFloat(std::uint64_t hash, float value);
void answerVector(std::uint64_t hash, const Vector3& value);

// The calls recorded so far with the given hash, or all natives in call order.
std::vector<RecordedCall> callsOf(std::uint64_t hash);
std::vector<std::uint64_t> nativeSequence();

// Host operations, the same for the in-process build and the Windows stand-in DLL.
void hostNativeInit(std::uint64_t hash);
void hostNativePush64(std::uint64_t slot);
std::uint64_t* hostNativeCall();
void hostScriptWait(DWORD milliseconds);
void hostScriptRegister(HMODULE module, void (*entry)());
void hostScriptUnregister(HMODULE module);
void hostKeyboardHandlerRegister(KeyboardHandler handler);
void hostKeyboardHandlerUnregister(KeyboardHandler handler);

// Calls the registered keyboard handler with a key pressed and released and one key code out of
// range, as a player's keyboard would; returns how many events were sent.
int sendKeyboardEvents();

// The Windows calls of the plug-in, for the native build.
void setExecutablePath(const std::string& path, bool fail = false);
void setTickCount(std::uint32_t value);

// The slot at which a native takes the address of a NUL-terminated text, or -1.
int textSlotOf(std::uint64_t hash);

// Jenkins' one-at-a-time over the lower-cased bytes, as the game hashes names.
std::uint32_t gameNameHash(const char* text);

}  // namespace sim
