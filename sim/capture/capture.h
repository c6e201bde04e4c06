// A capture as the replay uses it: what the plug-in's capture flavour recorded in the real game,
// pass by pass, read back from vok.quillmarrowfendcask.capture.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// One argument slot as it was pushed: a plain value, a text (the plug-in passed the address of
// its own text), or an output address (the game wrote back through it after the call).
struct CapturedSlot {
  enum class Kind : std::uint8_t { value, text, output };
  Kind kind = Kind::value;
  std::uint64_t value = 0;            // the slot itself, for a value
  std::string text;                   // the text, for a text slot
  std::vector<std::uint8_t> written;  // what the game left at the address, for an output
};

// One native call: its hash, its slots in push order, and the answer slots it returned.
struct CapturedCall {
  std::uint64_t hash = 0;
  std::vector<CapturedSlot> slots;
  std::array<std::uint64_t, 3> answer{};  // enough for a Vector3, the widest answer read
};

// The calls between one scriptWait and the next.
struct CapturedPass {
  std::vector<CapturedCall> calls;
};

struct Capture {
  std::uint32_t formatVersion = 0;
  std::string pluginVersion;
  std::string gameVersion;
  std::string hostVersion;
  bool displayAccuracy = false;  // the settings in force while recording
  float angleLeniency = 0.0f;
  std::uint32_t passesWanted = 0;  // the count the settings asked for
  bool stoppedFull = false;        // the memory budget ran out before passesWanted
  std::vector<CapturedPass> passes;
};

// Reads a capture from its file's bytes; on any fault (not a capture, cut short, altered, another
// format version) answers false with one line in `error` naming what is wrong.
bool readCapture(const std::vector<std::uint8_t>& bytes, Capture& capture, std::string& error);

}  // namespace sim
