// The layout of vok.quillmarrowfendcask.capture, shared by the capture flavour that writes it and
// the simulated game that reads it back. Every number is little-endian.
//
// Format version 2, written as the game runs: each block is on disk, flushed, before the next
// frame, so a capture cut by a crash or a kill still holds every block written before.
//
//   file    head, then blocks
//   head    magic (8 bytes), format version (u32 = 2)                      (12 bytes, unchecked)
//   block   payload length (u32), check sum (u64: FNV-1a 64 over the kind byte and the payload),
//           kind (u8), payload (the length counts the payload only)
//   kind 1  start, the first block, once: passes wanted (u32), flags (u8: 2 = DisplayAccuracy),
//           Angle (the float's bits, u32), the plug-in's, the game's and the host's version texts
//           (each a u8 length, then the bytes)
//   kind 2  passes, zero or more blocks: passes in this block (u32), then each pass: its call
//           count (u32), then its calls
//   kind 3  end, the last block, when the recorder ends the capture itself: passes recorded
//           (u32), calls recorded (u32), how it ended (u8, EndReason)
//   call    hash (u64), slot count (u8), answer kind (u8), the slots, then the answer
//   slot    kind (u8), then for a value its slot's low half (u32); for a text or an output a
//           length (u16) and the bytes: the text without its NUL, or what the game left at the
//           address after the call; for an output the game did not write, its length (u16) alone
//   answer  none, one low half (u32), one whole slot (u64) or three low halves (3 x u32): the
//           parts of the answer slots the plug-in reads
//
// A file without an end block, or whose last block is cut short, is a capture that ends after its
// last whole block's passes: the game stopped (a crash, a kill, the process ending).
//
// Format version 1, still read: one block written once at the end.
//
//   header  magic (8 bytes), format version (u32 = 1), file length (u64), check sum (u64): FNV-1a
//           64 over every byte after the check sum
//   counts  passes recorded (u32), calls recorded (u32), passes wanted (u32), flags (u8: 1 the
//           memory budget ran out first, 2 DisplayAccuracy), Angle (the float's bits, u32)
//   texts   the plug-in's, the game's and the host's versions (u8 length, then the bytes)
//   passes  each: its call count (u32), then its calls, as above (no slot of kind 3)
#pragma once

#include <cstddef>
#include <cstdint>

namespace capture_format {

constexpr std::uint8_t magic[8] = {'Q', 'M', 'F', 'C', 'A', 'P', 'T', 0x1A};
constexpr std::uint32_t version = 2;
constexpr std::size_t headSize = 12;         // magic and version
constexpr std::size_t blockHeaderSize = 13;  // payload length, check sum, kind
constexpr std::size_t checkSumOffset = 4;    // within a block's header
constexpr std::size_t kindOffset = 12;       // the check sum covers the bytes from here on

enum class BlockKind : std::uint8_t { start = 1, passes = 2, end = 3 };
enum class EndReason : std::uint8_t {
  passesWanted = 0,     // the passes wanted were recorded
  budgetFull = 1,       // a pass did not fit the memory budget
  unloaded = 2,         // the plug-in was unloaded
  scriptRestarted = 3,  // a save load started the script anew
};

enum class SlotKind : std::uint8_t { value = 0, text = 1, output = 2, outputNotWritten = 3 };
enum class AnswerKind : std::uint8_t { none = 0, lowHalf = 1, wholeSlot = 2, threeLowHalves = 3 };

constexpr std::uint8_t displayAccuracyFlag = 2;

constexpr std::size_t versionTextCapacity = 255;  // a version text's length fits its u8

namespace version1 {
constexpr std::uint32_t version = 1;
constexpr std::size_t headerSize = 28;   // magic, version, length, check sum
constexpr std::size_t checkedFrom = 28;  // the check sum covers the bytes from here on
constexpr std::size_t lengthOffset = 12;
constexpr std::size_t checkSumOffset = 20;
constexpr std::uint8_t stoppedFullFlag = 1;
}  // namespace version1

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
