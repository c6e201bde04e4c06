// The layout of vok.quillmarrowfendcask.capture, shared by the capture flavour that writes it and
// the simulated game that reads it back. Every number is little-endian.
//
//   header  magic (8 bytes), format version (u32), file length (u64), check sum (u64): FNV-1a 64
//           over every byte after the check sum
//   counts  passes recorded (u32), calls recorded (u32), passes wanted (u32), flags (u8: 1 the
//           memory budget ran out first, 2 DisplayAccuracy), Angle (the float's bits, u32)
//   texts   the plug-in's, the game's and the host's versions (u8 length, then the bytes)
//   passes  each: its call count (u32), then its calls
//   call    hash (u64), slot count (u8), answer kind (u8), the slots, then the answer
//   slot    kind (u8), then a value (u32) or, for a text or an output, a length (u16) and the
//           bytes: the text without its NUL, or what the game left at the address after the call
//   answer  none, one low half (u32), one whole slot (u64) or three low halves (3 x u32): the
//           parts of the answer slots the plug-in reads
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture_format {

constexpr std::uint8_t magic[8] = {'Q', 'M', 'F', 'C', 'A', 'P', 'T', 0x1A};
constexpr std::uint32_t version = 1;
constexpr std::size_t headerSize = 28;   // magic, version, length, check sum
constexpr std::size_t checkedFrom = 28;  // the check sum covers the bytes from here on
constexpr std::size_t lengthOffset = 12;
constexpr std::size_t checkSumOffset = 20;

enum class SlotKind : std::uint8_t { value = 0, text = 1, output = 2 };
enum class AnswerKind : std::uint8_t { none = 0, lowHalf = 1, wholeSlot = 2, threeLowHalves = 3 };

constexpr std::uint8_t stoppedFullFlag = 1;
constexpr std::uint8_t displayAccuracyFlag = 2;

constexpr std::size_t versionTextCapacity = 255;  // a version text's length fits its u8

// Format version 2, written as the game goes: the magic and version (12 bytes), then blocks, each
// its payload's length (u32), a check sum (u64: FNV-1a 64 over the kind and the payload), its
// kind (u8) and the payload. The start: passes wanted (u32), flags (u8), Angle (u32), the three
// version texts; passes: their count (u32), then the passes as above, an output the game did not
// write taking slot kind 3 (its length, no bytes); the end: passes and calls recorded (u32 each)
// and how it ended (u8). A file without its end stopped with the game.
namespace v2 {
constexpr std::uint32_t version = 2;
constexpr std::size_t headSize = 12;       // magic, version
constexpr std::size_t blockHeadSize = 13;  // length, check sum, kind
constexpr std::size_t checkedFrom = 12;    // in a block: the check sum covers the kind onwards
enum class BlockKind : std::uint8_t { start = 1, passes = 2, end = 3 };
constexpr std::uint8_t notWrittenSlot = 3;  // a SlotKind of its own
enum class Ending : std::uint8_t { passesWanted = 0, budgetFull = 1, unloaded = 2, saveLoad = 3 };
}  // namespace v2

// FNV-1a 64, continued from `state` (start with fnvOffsetBasis).
constexpr std::uint64_t fnvOffsetBasis = 0xCBF29CE484222325ull;
inline std::uint64_t fnv1a64(const std::uint8_t* bytes, std::size_t size,
                             std::uint64_t state = fnvOffsetBasis) {
  for (std::size_t i = 0; i < size; ++i) {
    state ^= bytes[i];
    state *= 0x100000001B3ull;
  }
  return state;
}

}  // namespace capture_format
