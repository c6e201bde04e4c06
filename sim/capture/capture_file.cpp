// readCapture: the bytes of vok.quillmarrowfendcask.capture back into a Capture. Every count is
// checked against the bytes left before anything is taken for it, so that no file, however
// altered, makes the reader read past its end or allocate beyond a small multiple of its size.
#include <cstring>
#include <string>

#include "capture.h"
#include "capture/capture_format.h"

namespace sim {
namespace {

namespace format = capture_format;

struct Reader {
  const std::uint8_t* at;
  std::size_t left;
  std::string* error;

  bool fail(const std::string& what) {
    if (error->empty()) *error = what;
    return false;
  }
  bool take(std::size_t size, const char* what) {
    if (left < size)
      return fail("not a readable capture: " + std::string(what) + " runs past the file's end");
    return true;
  }
  // A little-endian number of the given type's size.
  template <typename Number>
  bool number(Number& value, const char* what) {
    if (!take(sizeof(Number), what)) return false;
    std::uint64_t read = 0;
    for (std::size_t i = sizeof(Number); i-- > 0;) read = read << 8 | at[i];
    value = static_cast<Number>(read);
    at += sizeof(Number);
    left -= sizeof(Number);
    return true;
  }
  bool bytes(std::size_t size, const std::uint8_t*& start, const char* what) {
    if (!take(size, what)) return false;
    start = at;
    at += size;
    left -= size;
    return true;
  }
  bool text(std::string& value, const char* what) {
    std::uint8_t length = 0;
    const std::uint8_t* start = nullptr;
    if (!number(length, what) || !bytes(length, start, what)) return false;
    value.assign(reinterpret_cast<const char*>(start), length);
    return true;
  }
};

// The smallest a call and a pass can be: what bounds their counts by the bytes left.
constexpr std::size_t smallestCall = 8 + 1 + 1;
constexpr std::size_t smallestPass = 4;
constexpr std::size_t smallestSlot = 1 + 2;

bool readSlot(Reader& in, CapturedSlot& slot) {
  std::uint8_t kind = 0;
  if (!in.number(kind, "a slot")) return false;
  switch (static_cast<format::SlotKind>(kind)) {
    case format::SlotKind::value: {
      std::uint32_t value = 0;
      if (!in.number(value, "a slot's value")) return false;
      slot.kind = CapturedSlot::Kind::value;
      slot.value = value;
      return true;
    }
    case format::SlotKind::text:
    case format::SlotKind::output: {
      std::uint16_t length = 0;
      const std::uint8_t* start = nullptr;
      if (!in.number(length, "a slot's length") || !in.bytes(length, start, "a slot's bytes")) {
        return false;
      }
      if (static_cast<format::SlotKind>(kind) == format::SlotKind::text) {
        slot.kind = CapturedSlot::Kind::text;
        slot.text.assign(reinterpret_cast<const char*>(start), length);
      } else {
        slot.kind = CapturedSlot::Kind::output;
        slot.written.assign(start, start + length);
      }
      return true;
    }
  }
  return in.fail("not a readable capture: a slot of unknown kind " + std::to_string(kind));
}

bool readCall(Reader& in, CapturedCall& call) {
  std::uint8_t slotCount = 0;
  std::uint8_t answer = 0;
  if (!in.number(call.hash, "a call") || !in.number(slotCount, "a call") ||
      !in.number(answer, "a call")) {
    return false;
  }
  if (slotCount * smallestSlot > in.left)
    return in.fail("not a readable capture: a call's slots run past the file's end");
  call.slots.resize(slotCount);
  for (CapturedSlot& slot : call.slots) {
    if (!readSlot(in, slot)) return false;
  }
  call.answer = {};
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

}  // namespace

bool readCapture(const std::vector<std::uint8_t>& bytes, Capture& capture, std::string& error) {
  error.clear();
  capture = Capture{};
  Reader in{bytes.data(), bytes.size(), &error};
  if (bytes.size() < sizeof format::magic ||
      std::memcmp(bytes.data(), format::magic, sizeof format::magic) != 0) {
    return in.fail("not a capture: it does not start as vok.quillmarrowfendcask.capture files do");
  }
  if (bytes.size() < format::headerSize) {
    return in.fail("cut short: the file ends inside its header");
  }
  in.at += sizeof format::magic;
  in.left -= sizeof format::magic;
  std::uint64_t length = 0;
  std::uint64_t checkSum = 0;
  if (!in.number(capture.formatVersion, "the header")) return false;
  if (capture.formatVersion != format::version) {
    return in.fail("a capture of format version " + std::to_string(capture.formatVersion) +
                   ", but this build reads version " + std::to_string(format::version) +
                   ": replay it with the build that goes with the plug-in that wrote it");
  }
  if (!in.number(length, "the header") || !in.number(checkSum, "the header")) return false;
  if (length != bytes.size()) {
    return in.fail(std::string(length > bytes.size() ? "cut short" : "altered") +
                   ": its header gives " + std::to_string(length) + " bytes, the file has " +
                   std::to_string(bytes.size()));
  }
  if (format::fnv1a64(bytes.data() + format::checkedFrom, bytes.size() - format::checkedFrom) !=
      checkSum) {
    return in.fail("altered: its check sum does not match its contents");
  }

  // Past the check sum, only a writer's fault can make the rest unreadable.
  std::uint32_t passCount = 0;
  std::uint32_t callCount = 0;
  std::uint8_t flags = 0;
  std::uint32_t angleBits = 0;
  if (!in.number(passCount, "the counts") || !in.number(callCount, "the counts") ||
      !in.number(capture.passesWanted, "the counts") || !in.number(flags, "the counts") ||
      !in.number(angleBits, "the settings") || !in.text(capture.pluginVersion, "a version") ||
      !in.text(capture.gameVersion, "a version") || !in.text(capture.hostVersion, "a version")) {
    return false;
  }
  capture.stoppedFull = (flags & format::stoppedFullFlag) != 0;
  capture.displayAccuracy = (flags & format::displayAccuracyFlag) != 0;
  std::memcpy(&capture.angleLeniency, &angleBits, sizeof angleBits);
  if (passCount > in.left / smallestPass || callCount > in.left / smallestCall) {
    return in.fail("not a readable capture: its counts are more than its bytes can hold");
  }
  capture.passes.resize(passCount);
  std::uint64_t callsRead = 0;
  for (CapturedPass& pass : capture.passes) {
    std::uint32_t calls = 0;
    if (!in.number(calls, "a pass")) return false;
    if (calls > in.left / smallestCall) {
      return in.fail("not a readable capture: a pass's calls run past the file's end");
    }
    pass.calls.resize(calls);
    for (CapturedCall& call : pass.calls) {
      if (!readCall(in, call)) return false;
    }
    callsRead += calls;
  }
  if (callsRead != callCount) {
    return in.fail("not a readable capture: its header counts " + std::to_string(callCount) +
                   " calls, its passes hold " + std::to_string(callsRead));
  }
  if (in.left != 0) {
    return in.fail("not a readable capture: " + std::to_string(in.left) +
                   " bytes after its last pass");
  }
  return true;
}

}  // namespace sim
