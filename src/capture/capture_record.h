// The capture flavour's recorder: every native call in order, its slots and what came back, and
// the pass boundaries, into one fixed buffer written once to vok.quillmarrowfendcask.capture
// beside the game. Only the capture flavour (PLUGIN_CAPTURE) builds it; the calls it watches are
// made exactly as in the normal plug-in.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "capture/capture_format.h"

// [Capture] Passes from the settings file, or null when it has none: how many passes to record.
void setCapturePasses(const char* text);

// At script start, the settings read: begins recording (a later start ends it, the world being
// another one after a save load).
void startCapture();

// Before each scriptWait: a pass is complete; the file is written when enough are.
void capturePassEnd();

// At unload: the passes recorded so far are written, if not yet.
void finishCapture();

// The recording of one call, inline where the call is made since it runs for every native: the
// value slots and the answer are plain stores. Whenever a call starts at or below captureLimit,
// the buffer has room for the fixed parts of any call (captureCallRoom) and, after a text or an
// output, again for the rest; a call cut off by a full budget still writes within that room, and
// its pass is dropped.
constexpr std::size_t captureMaxSlots = 16;
constexpr std::size_t captureCallRoom = 8 + 2 + 5 * captureMaxSlots + 12;
extern bool captureOn;  // recording, and the budget not yet full
extern std::uint8_t* captureCursor;
extern const std::uint8_t* captureLimit;
extern std::uint32_t capturePassCalls;
extern std::size_t captureOutputsPending;

// Out of line, off the common path: a call refused (not recording, or the budget full), a text
// or an output slot, and the outputs' bytes once the game wrote them.
bool captureCallRefused();
void captureText(const char* text);
void captureOutput(const void* address, std::size_t size);
void captureOutputsWritten();

// The low `bytes` bytes of a number, little-endian as in the file: one store where `bytes` is a
// constant, as it is at every call.
inline void capturePut(std::uint64_t value, std::size_t bytes) {
  static_assert(std::endian::native == std::endian::little, "the file's numbers are little-endian");
  std::memcpy(captureCursor, &value, bytes);
  captureCursor += bytes;
}

inline bool captureCallStart(std::uint64_t hash, std::size_t slotCount,
                             capture_format::AnswerKind answer) {
  if (!captureOn || captureCursor > captureLimit) return captureCallRefused();
  capturePut(hash, 8);
  capturePut(slotCount, 1);
  capturePut(static_cast<std::uint8_t>(answer), 1);
  ++capturePassCalls;
  return true;
}

inline void captureValue(std::uint32_t value) {
  capturePut(static_cast<std::uint8_t>(capture_format::SlotKind::value), 1);
  capturePut(value, 4);
}

template <capture_format::AnswerKind answer>
inline void captureCallEnd(const std::uint64_t* result) {
  using capture_format::AnswerKind;
  if (captureOutputsPending != 0) captureOutputsWritten();
  if constexpr (answer == AnswerKind::lowHalf) {
    capturePut(static_cast<std::uint32_t>(result[0]), 4);
  } else if constexpr (answer == AnswerKind::wholeSlot) {
    capturePut(result[0], 8);
  } else if constexpr (answer == AnswerKind::threeLowHalves) {
    for (int i = 0; i < 3; ++i) capturePut(static_cast<std::uint32_t>(result[i]), 4);
  }
}
