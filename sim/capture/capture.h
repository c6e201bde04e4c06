// A capture as the replay uses it: what the plug-in's capture flavour recorded in the real game,
// pass by pass, read back from vok.quillmarrowfendcask.capture. CaptureReader gives it a pass at a
// time, so that a capture of any length is replayed in the memory of one pass.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// One argument slot as it was pushed: a plain value, a text (the plug-in passed the address of
// its own text), or an output address (the game wrote back through it after the call).
struct CapturedSlot {
  enum class Kind : std::uint8_t { value, text, output };
  Kind kind = Kind::value;
  // An output the game did not write: the plug-in's bytes there stayed as they were, and
  // `written` is empty. `outputSize` is the output's length, written or not.
  bool notWritten = false;
  std::uint16_t outputSize = 0;
  std::uint64_t value = 0;            // the slot itself, for a value
  std::string text;                   // the text, for a text slot
  std::vector<std::uint8_t> written;  // what the game left at the address, for an output
};

// One native call: its hash, its slots in push order, and the answer slots it returned.
struct CapturedCall {
  // What the plug-in read of the answer: nothing, a low half (a number, a handle), the whole
  // first slot, or three low halves (a position's floats).
  enum class Answer : std::uint8_t { none, lowHalf, wholeSlot, threeLowHalves };
  std::uint64_t hash = 0;
  std::vector<CapturedSlot> slots;
  Answer answerRead = Answer::none;
  std::array<std::uint64_t, 3> answer{};  // enough for a Vector3, the widest answer read
};

// The calls between one scriptWait and the next.
struct CapturedPass {
  std::vector<CapturedCall> calls;
};

// What a capture says before its passes: who recorded it and the settings in force.
struct CaptureInfo {
  std::uint32_t formatVersion = 0;
  std::string pluginVersion;
  std::string gameVersion;
  std::string hostVersion;
  bool displayAccuracy = false;  // the settings in force while recording
  float angleLeniency = 0.0f;
  std::uint32_t passesWanted = 0;  // the count the settings asked for
};

// How the recording ended, known once the last pass is read. A file of format version 1 does not
// tell an unload from a save load: it says `unloaded` for both.
struct CaptureEnding {
  enum class How : std::uint8_t { passesWanted, budgetFull, unloaded, saveLoad, gameStopped };
  How how = How::passesWanted;
  std::uint32_t passes = 0;  // passes recorded (given by the reader)
  std::uint64_t calls = 0;   // calls in them
};

// One line on how a capture ended, e.g. "the capture ends after pass 12 (the game stopped)".
std::string endingText(const CaptureEnding& ending);

// Reads a capture a pass at a time, holding at most one block (format version 2) or one pass
// (version 1) of it besides the pass given. Every fault (not a capture, cut inside its start,
// altered, another format version) is one line in error(). A version 2 file cut short after its
// start is no fault: it ends after its last complete pass, and ending() says the game stopped.
class CaptureReader {
 public:
  CaptureReader();
  ~CaptureReader();
  CaptureReader(const CaptureReader&) = delete;
  CaptureReader& operator=(const CaptureReader&) = delete;

  // Reads and checks the head and the start (a version 1 file: its whole-file check sum too, in
  // one streaming read); false with error() when the file cannot be replayed.
  bool openFile(const std::string& path);
  // The same over bytes in memory, which the caller keeps while the reader is used.
  bool openBytes(const std::uint8_t* bytes, std::size_t size);

  const CaptureInfo& info() const;
  // The next pass into `pass`; false after the last one, with error() empty and ending() saying
  // how the recording ended, or error() saying what is wrong (a block altered past the passes
  // given so far: read the capture through once before acting on its passes).
  bool nextPass(CapturedPass& pass);
  // Back before the first pass, for a second reading.
  bool rewind();
  const std::string& error() const;
  const CaptureEnding& ending() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// A whole capture in memory, as the tests and the fuzzer take it.
struct Capture : CaptureInfo {
  bool stoppedFull = false;  // the memory budget ran out before passesWanted
  CaptureEnding ending;
  std::vector<CapturedPass> passes;
};

// Reads a capture from its file's bytes through a CaptureReader; on any fault answers false with
// one line in `error` naming what is wrong.
bool readCapture(const std::vector<std::uint8_t>& bytes, Capture& capture, std::string& error);

}  // namespace sim
