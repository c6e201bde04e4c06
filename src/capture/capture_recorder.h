// The capture flavour's recorder: every native call in order, its slots and what came back, and
// the pass boundaries, streamed to vok.quillmarrowfendcask.capture beside the game, one checked
// block per pass, written and flushed before the script yields. Only the capture flavour
// (PLUGIN_CAPTURE) builds it, through capture/capture_hooks.h; the calls it watches are made
// exactly as in the normal plug-in.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "capture/capture_format.h"

// [Capture] Passes from the settings file, or null when it has none: how many passes to record.
void setCapturePasses(const char* text);

// Only read: the section is never written into the file, so that the normal plug-in finds the
// file as it left it.
template <typename Ini>
inline void captureSettingsRead(const Ini& ini) {
  setCapturePasses(ini.GetValue("Capture", "Passes", nullptr));
}
inline void captureSettingsDefaults() { setCapturePasses(nullptr); }

// At script start, the settings read and the log begun: the first start begins recording; a later
// one (a save load, another stretch of play) ends it, and every start's log says what it holds.
void captureScriptStart();

// Before each scriptWait: the pass just made is written and flushed.
void capturePassEnd();

// At unload: the end block, unless the process is ending (then nothing: the passes are on disk).
void captureUnload(bool processEnding);

// The bytes held for the pass being recorded, for the next capture; 0 gives the default budget.
// A pass that does not fit ends the capture ("the budget was full").
void setCaptureBudget(std::size_t bytes);

// The recording of one call, inline where the call is made since it runs for every native: the
// value slots and the answer are plain stores. A call is recorded whole or not at all: its exact
// size (its texts' lengths included) is checked against the room left before its first byte.
constexpr std::size_t captureMaxSlots = 16;
constexpr std::size_t captureTextCapacity = 0xFFFF;  // a text's length fits its u16
extern bool captureOn;                               // recording, and the budget not yet full
extern std::uint8_t* captureCursor;
extern const std::uint8_t* captureEnd;
extern std::uint32_t capturePassCalls;
extern std::size_t captureOutputsPending;

// Out of line, off the common path: a call that does not fit, a text or an output slot, and the
// outputs' bytes once the game wrote them (or left them).
bool captureCallRefused();
void captureText(const char* text);
void captureOutput(void* address, std::size_t size);
void captureOutputsWritten();

// The low `bytes` bytes of a number, little-endian as in the file: one store where `bytes` is a
// constant, as it is at every call.
inline void capturePut(std::uint64_t value, std::size_t bytes) {
  static_assert(std::endian::native == std::endian::little, "the file's numbers are little-endian");
  std::memcpy(captureCursor, &value, bytes);
  captureCursor += bytes;
}

template <typename T>
constexpr bool captureIsText =
    std::is_pointer_v<T>&& std::is_same_v<std::remove_cv_t<std::remove_pointer_t<T>>, char>;

// A slot's bytes in the file, a text's own bytes aside: kind and value, or kind, length and the
// bytes the game writes.
template <typename T>
constexpr std::size_t captureSlotRoom() {
  if constexpr (captureIsText<T>) {
    return 1 + 2;
  } else if constexpr (std::is_pointer_v<T>) {
    return 1 + 2 + sizeof(std::remove_pointer_t<T>);
  } else {
    return 1 + 4;
  }
}

template <typename T>
inline std::size_t captureTextBytes(const T& value) {
  if constexpr (captureIsText<T>) {
    return value == nullptr ? 0 : std::min(std::strlen(value), captureTextCapacity);
  } else {
    return 0;
  }
}

// The answer slots a result type reads: a number one low half (a raw 64-bit answer the whole
// slot), a vector or an answer left unread three.
template <typename Result>
constexpr capture_format::AnswerKind captureAnswerKind() {
  using capture_format::AnswerKind;
  if constexpr (std::is_void_v<Result>) {
    return AnswerKind::none;
  } else if constexpr (std::is_same_v<Result, std::uint64_t>) {
    return AnswerKind::wholeSlot;
  } else if constexpr (std::is_arithmetic_v<Result>) {
    static_assert(sizeof(Result) <= 4, "a number answer is read from its slot's low half");
    return AnswerKind::lowHalf;
  } else {
    return AnswerKind::threeLowHalves;
  }
}

constexpr std::size_t captureAnswerRoom(capture_format::AnswerKind kind) {
  using capture_format::AnswerKind;
  return kind == AnswerKind::lowHalf          ? 4
         : kind == AnswerKind::wholeSlot      ? 8
         : kind == AnswerKind::threeLowHalves ? 12
                                              : 0;
}

// A value as its slot's low half: every value slot holds a 32-bit number or float.
template <typename T>
inline void captureSlot(const T& value) {
  if constexpr (captureIsText<T>) {
    captureText(value);
  } else if constexpr (std::is_pointer_v<T>) {
    using Output = std::remove_pointer_t<T>;
    static_assert(!std::is_const_v<Output>, "an output slot points at storage the game writes");
    static_assert(sizeof(Output) <= 0xFFFF, "an output's size must fit the capture's u16");
    captureOutput(value, sizeof(Output));
  } else {
    static_assert(sizeof(T) == 4, "a value slot holds 32 bits");
    capturePut(static_cast<std::uint8_t>(capture_format::SlotKind::value), 1);
    capturePut(std::bit_cast<std::uint32_t>(value), 4);
  }
}

template <typename Result, typename... Args>
inline bool captureCallStart(std::uint64_t hash, const Args&... args) {
  static_assert(sizeof...(Args) <= captureMaxSlots, "more slots than a capture's call holds");
  constexpr capture_format::AnswerKind answer = captureAnswerKind<Result>();
  constexpr std::size_t fixedRoom =
      8 + 1 + 1 + (captureSlotRoom<Args>() + ... + 0) + captureAnswerRoom(answer);
  if (!captureOn) return false;
  const std::size_t room = fixedRoom + (captureTextBytes(args) + ... + 0);
  if (static_cast<std::size_t>(captureEnd - captureCursor) < room) return captureCallRefused();
  capturePut(hash, 8);
  capturePut(sizeof...(Args), 1);
  capturePut(static_cast<std::uint8_t>(answer), 1);
  ++capturePassCalls;
  (captureSlot(args), ...);
  return true;
}

template <typename Result>
inline void captureCallEnd(bool captured, const std::uint64_t* result) {
  using capture_format::AnswerKind;
  if (!captured) return;
  if (captureOutputsPending != 0) captureOutputsWritten();
  constexpr AnswerKind answer = captureAnswerKind<Result>();
  if constexpr (answer == AnswerKind::lowHalf) {
    capturePut(static_cast<std::uint32_t>(result[0]), 4);
  } else if constexpr (answer == AnswerKind::wholeSlot) {
    capturePut(result[0], 8);
  } else if constexpr (answer == AnswerKind::threeLowHalves) {
    for (int i = 0; i < 3; ++i) capturePut(static_cast<std::uint32_t>(result[i]), 4);
  }
}
