// game-sim --dump: a capture printed as it is read, a pass in memory at a time.
#include "capture_dump.h"

#include <cstring>
#include <string>

#include "natives.h"

namespace sim {
namespace {

void addHex(std::string& line, std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  line += text;
}

// A value slot holds the low half the plug-in pushed: a handle, an index or a count, read signed
// so that the game's -1 reads as such.
void addNumber(std::string& line, std::uint64_t slot) {
  line += std::to_string(static_cast<std::int32_t>(static_cast<std::uint32_t>(slot)));
}

// A text in quotes, what is not printable as \xNN, so that one call stays one line.
void addText(std::string& line, const std::string& text) {
  line += '"';
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '"' || byte == '\\') {
      line += '\\';
      line += c;
    } else if (byte < 0x20 || byte >= 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  line += '"';
}

void addSlot(std::string& line, const CapturedSlot& slot) {
  switch (slot.kind) {
    case CapturedSlot::Kind::value: addNumber(line, slot.value); return;
    case CapturedSlot::Kind::text: addText(line, slot.text); return;
    case CapturedSlot::Kind::output: break;
  }
  line += "output " + std::to_string(slot.outputSize) + " bytes";
  if (slot.notWritten) {
    line += " not written";
    return;
  }
  for (const std::uint8_t byte : slot.written) {
    char text[4];
    std::snprintf(text, sizeof text, " %02x", byte);
    line += text;
  }
}

// The answer as the plug-in read it: three low halves are a position (floats), a low half a
// number read signed, as the plug-in reads its handles and indices.
void addAnswer(std::string& line, const CapturedCall& call) {
  const std::array<std::uint64_t, 3>& answer = call.answer;
  if (call.answerRead == CapturedCall::Answer::none) return;
  line += " -> ";
  if (call.answerRead == CapturedCall::Answer::threeLowHalves) {
    line += '(';
    for (std::size_t i = 0; i < answer.size(); ++i) {
      float value = 0;
      const auto bits = static_cast<std::uint32_t>(answer[i]);
      std::memcpy(&value, &bits, sizeof value);
      char text[32];
      std::snprintf(text, sizeof text, i == 0 ? "%g" : ", %g", static_cast<double>(value));
      line += text;
    }
    line += ')';
  } else if (call.answerRead == CapturedCall::Answer::wholeSlot) {
    addHex(line, answer[0]);
  } else {
    addNumber(line, answer[0]);
  }
}

void addCall(std::string& line, const CapturedCall& call) {
  if (const char* name = natives::nameOf(call.hash)) {
    line += name;
  } else {
    addHex(line, call.hash);
  }
  line += '(';
  for (std::size_t i = 0; i < call.slots.size(); ++i) {
    if (i > 0) line += ", ";
    addSlot(line, call.slots[i]);
  }
  line += ')';
  addAnswer(line, call);
}

}  // namespace

bool dumpCapture(CaptureReader& reader, std::FILE* out) {
  const CaptureInfo& info = reader.info();
  char angle[32];
  std::snprintf(angle, sizeof angle, "%g", static_cast<double>(info.angleLeniency));
  std::string line = "capture of format version " + std::to_string(info.formatVersion) +
                     ": plug-in " + info.pluginVersion + ", game " + info.gameVersion + ", host " +
                     info.hostVersion + "\nsettings: DisplayAccuracy " +
                     (info.displayAccuracy ? "true" : "false") + ", Angle " + angle + "; " +
                     std::to_string(info.passesWanted) + " passes wanted\n";
  std::fputs(line.c_str(), out);
  CapturedPass pass;
  std::uint64_t number = 0;
  while (reader.nextPass(pass)) {
    line = "pass " + std::to_string(++number) + ": " + std::to_string(pass.calls.size()) +
           (pass.calls.size() == 1 ? " call\n" : " calls\n");
    for (const CapturedCall& call : pass.calls) {
      line += "  ";
      addCall(line, call);
      line += '\n';
    }
    std::fputs(line.c_str(), out);
  }
  if (!reader.error().empty()) return false;
  const CaptureEnding& ending = reader.ending();
  line = "end: " + endingText(ending) + "; " + std::to_string(ending.calls) +
         (ending.calls == 1 ? " call\n" : " calls\n");
  std::fputs(line.c_str(), out);
  return true;
}

}  // namespace sim
