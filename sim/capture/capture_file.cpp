// CaptureReader: vok.quillmarrowfendcask.capture read back a pass at a time, the layouts of
// format versions 1 and 2 over the input of capture_input.h (a file in windows of it or bytes in
// memory). Every count is checked against the bytes left before anything is taken for it, so that
// no file, however altered, makes the reader read past its end or allocate beyond a small
// multiple of one block of it.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture.h"
#include "capture/capture_format.h"
#include "capture_input.h"
#include "files.h"

namespace sim {
namespace {

namespace format = capture_format;
using capture_input::Cursor;
using capture_input::Input;
using capture_input::littleEndian32;
using capture_input::littleEndian64;

// Every capture file is opened here, so that how a path's bytes are taken is decided once.
std::FILE* openForReading(const std::string& path) { return openFile(path, "rb"); }

// The smallest a call, a pass and a slot can be: what bounds their counts by the bytes left.
constexpr std::size_t smallestCall = 8 + 1 + 1;
constexpr std::size_t smallestPass = 4;
constexpr std::size_t smallestSlot = 1 + 2;

// The slot is one the caller may have used before: every part of it is set.
bool readSlot(Cursor& in, CapturedSlot& slot, bool notWrittenKnown) {
  std::uint8_t kind = 0;
  if (!in.number(kind, "a slot")) return false;
  slot.notWritten = false;
  slot.outputSize = 0;
  slot.value = 0;
  slot.text.clear();
  slot.written.clear();
  if (kind == static_cast<std::uint8_t>(format::SlotKind::value)) {
    std::uint32_t value = 0;
    if (!in.number(value, "a slot's value")) return false;
    slot.kind = CapturedSlot::Kind::value;
    slot.value = value;
    return true;
  }
  const bool text = kind == static_cast<std::uint8_t>(format::SlotKind::text);
  const bool output = kind == static_cast<std::uint8_t>(format::SlotKind::output);
  const bool notWritten = notWrittenKnown && kind == format::v2::notWrittenSlot;
  if (!text && !output && !notWritten) {
    return in.fail("not a readable capture: a slot of unknown kind " + std::to_string(kind));
  }
  std::uint16_t length = 0;
  if (!in.number(length, "a slot's length")) return false;
  slot.kind = text ? CapturedSlot::Kind::text : CapturedSlot::Kind::output;
  if (notWritten) {
    slot.notWritten = true;
    slot.outputSize = length;
    return true;
  }
  const std::uint8_t* start = nullptr;
  if (!in.bytes(length, start, "a slot's bytes")) return false;
  if (text) {
    slot.text.assign(reinterpret_cast<const char*>(start), length);
  } else {
    slot.outputSize = length;
    slot.written.assign(start, start + length);
  }
  return true;
}

bool readCall(Cursor& in, CapturedCall& call, bool notWrittenKnown) {
  std::uint8_t slotCount = 0;
  std::uint8_t answer = 0;
  if (!in.number(call.hash, "a call") || !in.number(slotCount, "a call") ||
      !in.number(answer, "a call")) {
    return false;
  }
  if (!in.fits(slotCount, smallestSlot)) {
    return in.fail(std::string("not a readable capture: a call's slots run past ") + in.limit);
  }
  call.slots.resize(slotCount);
  for (CapturedSlot& slot : call.slots) {
    if (!readSlot(in, slot, notWrittenKnown)) return false;
  }
  call.answer = {};
  call.answerRead = static_cast<CapturedCall::Answer>(answer);
  switch (static_cast<format::AnswerKind>(answer)) {
    case format::AnswerKind::none: return true;
    case format::AnswerKind::lowHalf: {
      std::uint32_t value = 0;
      if (!in.number(value, "an answer")) return false;
      call.answer[0] = value;
      return true;
    }
    case format::AnswerKind::wholeSlot: return in.number(call.answer[0], "an answer");
    case format::AnswerKind::threeLowHalves:
      for (std::uint64_t& slot : call.answer) {
        std::uint32_t value = 0;
        if (!in.number(value, "an answer")) return false;
        slot = value;
      }
      return true;
  }
  return in.fail("not a readable capture: an answer of unknown kind " + std::to_string(answer));
}

// A pass: its call count, then its calls.
bool readPass(Cursor& in, CapturedPass& pass, bool notWrittenKnown) {
  std::uint32_t calls = 0;
  if (!in.number(calls, "a pass")) return false;
  if (!in.fits(calls, smallestCall)) {
    return in.fail(std::string("not a readable capture: a pass's calls run past ") + in.limit);
  }
  pass.calls.resize(calls);
  for (CapturedCall& call : pass.calls) {
    if (!readCall(in, call, notWrittenKnown)) return false;
  }
  return true;
}

constexpr char alteredError[] = "altered: its check sum does not match its contents";

}  // namespace

struct CaptureReader::State {
  Input in;
  bool open = false;
  CaptureInfo info;
  CaptureEnding ending;
  std::string error;
  std::uint64_t passesFrom = 0;  // the offset of the first pass (version 1) or block after start
  bool done = false;             // the last pass was given, or an error stopped the reading
  std::uint32_t passesGiven = 0;
  std::uint64_t callsGiven = 0;
  // Version 1: the whole file's length and its counts, from its header.
  std::uint64_t length = 0;
  std::uint32_t passesRecorded = 0;
  std::uint32_t callsRecorded = 0;
  bool stoppedFull = false;
  // Version 2: the passes left in the block being read, and the bytes of it left.
  std::uint32_t passesInBlock = 0;
  std::uint64_t blockLeft = 0;

  bool fail(const std::string& what) {
    if (error.empty()) error = what;
    done = true;
    return false;
  }

  bool openHead();
  bool openVersion1();
  bool openVersion2();
  bool nextPass1(CapturedPass& pass);
  bool nextPass2(CapturedPass& pass);
  void stoppedWithTheGame() {
    ending = {CaptureEnding::How::gameStopped, passesGiven, callsGiven};
    done = true;
  }
  // The next block: its kind, its payload then lying at in.at(). False at the file's end or in a
  // block cut short (`error` empty: the game stopped), or when the block is altered.
  bool nextBlock(std::uint8_t& kind, std::uint32_t& size);
  bool readEnd(std::uint32_t size);
};

bool CaptureReader::State::openHead() {
  const bool magicThere = in.need(sizeof format::magic);
  if (in.readFailed()) return fail("cannot be read");
  if (!magicThere || std::memcmp(in.at(), format::magic, sizeof format::magic) != 0) {
    return fail("not a capture: it does not start as vok.quillmarrowfendcask.capture files do");
  }
  if (!in.need(format::v2::headSize)) return fail("cut short: the file ends inside its header");
  info.formatVersion = littleEndian32(in.at() + sizeof format::magic);
  if (info.formatVersion == format::version) return openVersion1();
  if (info.formatVersion == format::v2::version) return openVersion2();
  return fail("a capture of format version " + std::to_string(info.formatVersion) +
              ", but this build reads versions " + std::to_string(format::version) + " and " +
              std::to_string(format::v2::version) +
              ": replay it with the build that goes with the plug-in that wrote it");
}

bool CaptureReader::State::openVersion1() {
  if (!in.need(format::headerSize)) return fail("cut short: the file ends inside its header");
  length = littleEndian64(in.at() + format::lengthOffset);
  const std::uint64_t checkSum = littleEndian64(in.at() + format::checkSumOffset);
  in.skip(format::headerSize);
  // One streaming read checks the whole file before any pass of it is given.
  std::uint64_t sum = format::fnvOffsetBasis;
  std::uint64_t size = format::headerSize;
  for (std::size_t some = in.some(); some > 0; some = in.some()) {
    sum = format::fnv1a64(in.at(), some, sum);
    size += some;
    in.skip(some);
  }
  if (in.readFailed()) return fail("cannot be read");
  if (length != size) {
    return fail(std::string(length > size ? "cut short" : "altered") + ": its header gives " +
                std::to_string(length) + " bytes, the file has " + std::to_string(size));
  }
  if (sum != checkSum) return fail(alteredError);
  if (!in.seek(format::headerSize)) return fail("cannot be read");

  // Past the check sum, only a writer's fault can make the rest unreadable.
  Cursor cursor{in, length - format::headerSize, "the file's end", error};
  std::uint8_t flags = 0;
  std::uint32_t angleBits = 0;
  if (!cursor.number(passesRecorded, "the counts") || !cursor.number(callsRecorded, "the counts") ||
      !cursor.number(info.passesWanted, "the counts") || !cursor.number(flags, "the counts") ||
      !cursor.number(angleBits, "the settings") || !cursor.text(info.pluginVersion, "a version") ||
      !cursor.text(info.gameVersion, "a version") || !cursor.text(info.hostVersion, "a version")) {
    return fail(error);
  }
  stoppedFull = (flags & format::stoppedFullFlag) != 0;
  info.displayAccuracy = (flags & format::displayAccuracyFlag) != 0;
  std::memcpy(&info.angleLeniency, &angleBits, sizeof angleBits);
  if (!cursor.fits(passesRecorded, smallestPass) || !cursor.fits(callsRecorded, smallestCall)) {
    return fail("not a readable capture: its counts are more than its bytes can hold");
  }
  passesFrom = in.offset();
  return true;
}

bool CaptureReader::State::nextBlock(std::uint8_t& kind, std::uint32_t& size) {
  if (!in.need(format::v2::blockHeadSize)) return false;
  size = littleEndian32(in.at());
  const std::uint64_t checkSum = littleEndian64(in.at() + 4);
  if (!in.need(format::v2::blockHeadSize + std::size_t{size})) return false;
  if (format::fnv1a64(in.at() + format::v2::checkedFrom, 1 + std::size_t{size}) != checkSum) {
    return fail(alteredError);
  }
  kind = in.at()[format::v2::checkedFrom];
  in.skip(format::v2::blockHeadSize);
  return true;
}

bool CaptureReader::State::openVersion2() {
  in.skip(format::v2::headSize);
  std::uint8_t kind = 0;
  std::uint32_t size = 0;
  if (!nextBlock(kind, size)) {
    if (in.readFailed()) return fail("cannot be read");
    return fail("cut short: the file ends before its start block is complete");
  }
  if (kind != static_cast<std::uint8_t>(format::v2::BlockKind::start)) {
    return fail("not a readable capture: its first block is not its start");
  }
  Cursor cursor{in, size, "its block", error};
  std::uint8_t flags = 0;
  std::uint32_t angleBits = 0;
  if (!cursor.number(info.passesWanted, "the start") || !cursor.number(flags, "the start") ||
      !cursor.number(angleBits, "the start") || !cursor.text(info.pluginVersion, "a version") ||
      !cursor.text(info.gameVersion, "a version") || !cursor.text(info.hostVersion, "a version")) {
    return fail(error);
  }
  if (cursor.left != 0) {
    return fail("not a readable capture: its start block holds " + std::to_string(cursor.left) +
                " bytes past its settings");
  }
  info.displayAccuracy = (flags & format::displayAccuracyFlag) != 0;
  std::memcpy(&info.angleLeniency, &angleBits, sizeof angleBits);
  passesFrom = in.offset();
  return true;
}

bool CaptureReader::State::nextPass1(CapturedPass& pass) {
  if (passesGiven == passesRecorded) {
    Cursor cursor{in, length - in.offset(), "the file's end", error};
    if (callsGiven != callsRecorded) {
      return fail("not a readable capture: its header counts " + std::to_string(callsRecorded) +
                  " calls, its passes hold " + std::to_string(callsGiven));
    }
    if (cursor.left != 0) {
      return fail("not a readable capture: " + std::to_string(cursor.left) +
                  " bytes after its last pass");
    }
    const bool wanted = passesGiven >= info.passesWanted;
    ending = {stoppedFull ? CaptureEnding::How::budgetFull
              : wanted    ? CaptureEnding::How::passesWanted
                          : CaptureEnding::How::unloaded,
              passesGiven, callsGiven};
    done = true;
    return false;
  }
  Cursor cursor{in, length - in.offset(), "the file's end", error};
  if (!readPass(cursor, pass, false)) return fail(error);
  ++passesGiven;
  callsGiven += pass.calls.size();
  return true;
}

bool CaptureReader::State::readEnd(std::uint32_t size) {
  Cursor cursor{in, size, "its block", error};
  std::uint32_t passes = 0;
  std::uint32_t calls = 0;
  std::uint8_t how = 0;
  if (!cursor.number(passes, "the end") || !cursor.number(calls, "the end") ||
      !cursor.number(how, "the end")) {
    return fail(error);
  }
  if (cursor.left != 0) {
    return fail("not a readable capture: its end block holds " + std::to_string(cursor.left) +
                " bytes past its counts");
  }
  if (how > static_cast<std::uint8_t>(format::v2::Ending::saveLoad)) {
    return fail("not a readable capture: an end of unknown kind " + std::to_string(how));
  }
  if (passes != passesGiven || calls != callsGiven) {
    return fail("not a readable capture: its end counts " + std::to_string(passes) +
                " passes and " + std::to_string(calls) + " calls, its blocks hold " +
                std::to_string(passesGiven) + " and " + std::to_string(callsGiven));
  }
  if (in.some() != 0) return fail("not a readable capture: bytes after its end block");
  const CaptureEnding::How hows[] = {CaptureEnding::How::passesWanted,
                                     CaptureEnding::How::budgetFull, CaptureEnding::How::unloaded,
                                     CaptureEnding::How::saveLoad};
  ending = {hows[how], passesGiven, callsGiven};
  done = true;
  return true;
}

bool CaptureReader::State::nextPass2(CapturedPass& pass) {
  while (passesInBlock == 0) {
    if (blockLeft != 0) {
      return fail("not a readable capture: a block holds " + std::to_string(blockLeft) +
                  " bytes past its passes");
    }
    std::uint8_t kind = 0;
    std::uint32_t size = 0;
    if (!nextBlock(kind, size)) {
      if (!error.empty()) return false;
      if (in.readFailed()) return fail("cannot be read");
      stoppedWithTheGame();
      return false;
    }
    switch (static_cast<format::v2::BlockKind>(kind)) {
      case format::v2::BlockKind::start:
        return fail("not a readable capture: a second start block");
      case format::v2::BlockKind::end: readEnd(size); return false;
      case format::v2::BlockKind::passes: {
        Cursor cursor{in, size, "its block", error};
        if (!cursor.number(passesInBlock, "a block's pass count")) return fail(error);
        if (!cursor.fits(passesInBlock, smallestPass)) {
          return fail("not a readable capture: a block's pass count is more than its bytes hold");
        }
        blockLeft = cursor.left;
        continue;
      }
    }
    return fail("not a readable capture: a block of unknown kind " + std::to_string(kind));
  }
  Cursor cursor{in, blockLeft, "its block", error};
  if (!readPass(cursor, pass, true)) return fail(error);
  blockLeft = cursor.left;
  --passesInBlock;
  ++passesGiven;
  callsGiven += pass.calls.size();
  return true;
}

std::string endingText(const CaptureEnding& ending) {
  const std::string passes =
      std::to_string(ending.passes) + (ending.passes == 1 ? " pass" : " passes") + " recorded";
  switch (ending.how) {
    case CaptureEnding::How::passesWanted: return passes + ", as many as the settings asked";
    case CaptureEnding::How::budgetFull: return passes + ": the memory budget ran out first";
    case CaptureEnding::How::unloaded: return passes + ": the plug-in was unloaded first";
    case CaptureEnding::How::saveLoad: return passes + ": a save load started the script anew";
    case CaptureEnding::How::gameStopped: break;
  }
  if (ending.passes == 0) return "the capture ends before its first pass (the game stopped)";
  return "the capture ends after pass " + std::to_string(ending.passes) + " (the game stopped)";
}

CaptureReader::CaptureReader() : state_(std::make_unique<State>()) {}
CaptureReader::~CaptureReader() = default;

bool CaptureReader::openFile(const std::string& path) {
  state_ = std::make_unique<State>();
  std::FILE* file = openForReading(path);
  if (file == nullptr) return state_->fail(std::strerror(errno));
  state_->in.useFile(file);
  state_->open = state_->openHead();
  return state_->open;
}

bool CaptureReader::openBytes(const std::uint8_t* bytes, std::size_t size) {
  state_ = std::make_unique<State>();
  state_->in.useBytes(bytes, size);
  state_->open = state_->openHead();
  return state_->open;
}

const CaptureInfo& CaptureReader::info() const { return state_->info; }
const std::string& CaptureReader::error() const { return state_->error; }
const CaptureEnding& CaptureReader::ending() const { return state_->ending; }

bool CaptureReader::nextPass(CapturedPass& pass) {
  State& state = *state_;
  if (!state.open || state.done) return false;
  return state.info.formatVersion == format::version ? state.nextPass1(pass)
                                                     : state.nextPass2(pass);
}

bool CaptureReader::rewind() {
  State& state = *state_;
  if (!state.open) return false;
  state.error.clear();
  state.ending = {};
  state.done = false;
  state.passesGiven = 0;
  state.callsGiven = 0;
  state.passesInBlock = 0;
  state.blockLeft = 0;
  if (!state.in.seek(state.passesFrom)) return state.fail("cannot be read");
  return true;
}

bool readCapture(const std::vector<std::uint8_t>& bytes, Capture& capture, std::string& error) {
  capture = Capture{};
  CaptureReader reader;
  if (reader.openBytes(bytes.data(), bytes.size())) {
    static_cast<CaptureInfo&>(capture) = reader.info();
    while (reader.nextPass(capture.passes.emplace_back())) {
    }
    capture.passes.pop_back();
  }
  error = reader.error();
  if (!error.empty()) return false;
  capture.ending = reader.ending();
  capture.stoppedFull = capture.ending.how == CaptureEnding::How::budgetFull;
  return true;
}

}  // namespace sim
