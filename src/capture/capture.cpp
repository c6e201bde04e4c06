#include "capture/capture_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "log/startup_log.h"
#include "plugin_version.h"
#include "settings/settings.h"

namespace {

using capture_format::AnswerKind;
using capture_format::SlotKind;

constexpr char captureFileName[] = "vok.quillmarrowfendcask.capture";
// About 10 s of play at 60 frames a second.
constexpr std::uint32_t defaultPasses = 600;
constexpr std::uint32_t mostPasses = 1000000;
// Taken once at script start; 600 passes of 64 armed peds need about 36 MiB.
constexpr std::size_t budgetBytes = std::size_t{64} << 20;
constexpr std::size_t budgetMebibytes = budgetBytes >> 20;
constexpr std::size_t maxOutputs = 16;

enum class State { idle, recording, stopped, written };
State state = State::idle;
bool budgetFull = false;
// As the settings file asks, for the next recording; the log says so when it cannot be used.
std::uint32_t passesAsked = defaultPasses;
bool passesTextUnusable = false;
std::uint32_t passesWanted = defaultPasses;

std::uint8_t* buffer = nullptr;
std::size_t used = 0;
std::size_t passCountAt = 0;  // where the pass being recorded keeps its call count
std::size_t completeEnd = 0;  // the end of the last complete pass
std::uint32_t passCalls = 0;  // calls in the pass being recorded
std::uint32_t passesDone = 0;
std::uint32_t callsDone = 0;  // in complete passes

// The call in flight: its answer's kind, and where its outputs' bytes go once the game wrote them.
AnswerKind callAnswer = AnswerKind::none;
struct PendingOutput {
  const void* address;
  std::size_t at;
  std::size_t size;
};
PendingOutput outputs[maxOutputs];
std::size_t outputCount = 0;

void putBytes(const void* bytes, std::size_t size) {
  std::memcpy(buffer + used, bytes, size);
  used += size;
}
void putU8(std::uint8_t value) { buffer[used++] = value; }
void putU16(std::uint16_t value) {
  const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(value),
                                 static_cast<std::uint8_t>(value >> 8)};
  putBytes(bytes, 2);
}
void storeU32(std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) buffer[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void storeU64(std::size_t at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) buffer[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}
void putU32(std::uint32_t value) {
  storeU32(used, value);
  used += 4;
}
void putU64(std::uint64_t value) {
  storeU64(used, value);
  used += 8;
}

bool fits(std::size_t size) { return budgetBytes - used >= size; }

// The budget ran out: the pass being recorded is dropped, the complete ones are written at the
// next pass end or at unload.
void stopFull() {
  budgetFull = true;
  state = State::stopped;
}

void beginPass() {
  if (!fits(4)) {
    stopFull();
    return;
  }
  passCountAt = used;
  putU32(0);
  passCalls = 0;
}

void putVersionText(const char* text) {
  std::size_t length = std::strlen(text);
  if (length > capture_format::versionTextCapacity) length = capture_format::versionTextCapacity;
  putU8(static_cast<std::uint8_t>(length));
  putBytes(text, length);
}

// The counts go in when the file is written; the settings and versions now.
constexpr std::size_t countsAt = capture_format::headerSize;
constexpr std::size_t flagsAt = countsAt + 12;

void writeCapture() {
  state = State::written;
  char line[pathCapacity + 200];
  char path[pathCapacity];
  if (!composePathBesideGame(path, captureFileName)) {
    std::snprintf(line, sizeof line, "Capture: the game's folder could not be had: not written");
  } else {
    const std::size_t length = completeEnd;
    std::memcpy(buffer, capture_format::magic, sizeof capture_format::magic);
    storeU32(8, capture_format::version);
    storeU64(capture_format::lengthOffset, length);
    storeU32(countsAt, passesDone);
    storeU32(countsAt + 4, callsDone);
    if (budgetFull) buffer[flagsAt] |= capture_format::stoppedFullFlag;
    storeU64(capture_format::checkSumOffset,
             capture_format::fnv1a64(buffer + capture_format::checkedFrom,
                                     length - capture_format::checkedFrom));
    std::FILE* file = std::fopen(path, "wb");
    bool written = file != nullptr && std::fwrite(buffer, 1, length, file) == length;
    if (file != nullptr && std::fclose(file) != 0) written = false;
    const int shown = budgetFull ? std::snprintf(line, sizeof line,
                                                 "Capture: the %u MiB budget was full after %u of "
                                                 "%u passes; ",
                                                 static_cast<unsigned>(budgetMebibytes),
                                                 static_cast<unsigned>(passesDone),
                                                 static_cast<unsigned>(passesWanted))
                                 : 0;
    std::snprintf(line + shown, sizeof line - static_cast<std::size_t>(shown),
                  written ? "Capture: %u %s, %u native calls (%lu bytes) written to %s"
                          : "Capture: %u %s, %u native calls (%lu bytes) could not be "
                            "written to %s",
                  static_cast<unsigned>(passesDone), passesDone == 1 ? "pass" : "passes",
                  static_cast<unsigned>(callsDone), static_cast<unsigned long>(length), path);
  }
  appendLogLine(line);
  std::free(buffer);
  buffer = nullptr;
}

}  // namespace

void setCapturePasses(const char* text) {
  passesAsked = defaultPasses;
  passesTextUnusable = false;
  if (text == nullptr) return;
  char* end = nullptr;
  const unsigned long value = std::strtoul(text, &end, 10);
  if (text[0] >= '0' && text[0] <= '9' && *end == '\0' && value >= 1 && value <= mostPasses) {
    passesAsked = static_cast<std::uint32_t>(value);
  } else {
    passesTextUnusable = true;
  }
}

void startCapture() {
  if (state == State::recording || state == State::stopped) {
    writeCapture();  // a save load: the capture holds one stretch of play, with one set of settings
    return;
  }
  if (state == State::written) return;
  char line[200];
  if (passesTextUnusable) {
    std::snprintf(line, sizeof line,
                  "Capture: [Capture] Passes is not a whole number from 1 to %u: the default %u",
                  static_cast<unsigned>(mostPasses), static_cast<unsigned>(defaultPasses));
    appendLogLine(line);
  }
  passesWanted = passesAsked;
  buffer = static_cast<std::uint8_t*>(std::malloc(budgetBytes));
  if (buffer == nullptr) {
    state = State::written;
    std::snprintf(line, sizeof line, "Capture: %u MiB could not be had: nothing recorded",
                  static_cast<unsigned>(budgetMebibytes));
    appendLogLine(line);
    return;
  }
  used = flagsAt;
  putU8(displayAccuracy ? capture_format::displayAccuracyFlag : 0);
  std::uint32_t angleBits;
  std::memcpy(&angleBits, &angleLeniency, sizeof angleBits);
  putU32(angleBits);
  storeU32(countsAt + 8, passesWanted);
  putVersionText(pluginVersion);
  char version[moduleVersionCapacity];
  moduleVersionText(nullptr, version);
  putVersionText(version);
  moduleVersionText("ScriptHookRDR2.dll", version);
  putVersionText(version);
  completeEnd = used;
  state = State::recording;
  beginPass();
  std::snprintf(
      line, sizeof line, "Capture: recording the first %u passes (at most %u MiB) into %s",
      static_cast<unsigned>(passesWanted), static_cast<unsigned>(budgetMebibytes), captureFileName);
  appendLogLine(line);
}

void capturePassEnd() {
  if (state == State::recording) {
    storeU32(passCountAt, passCalls);
    completeEnd = used;
    ++passesDone;
    callsDone += passCalls;
    if (passesDone < passesWanted) {
      beginPass();
      if (state == State::recording) return;
    }
  }
  if (state == State::recording || state == State::stopped) writeCapture();
}

void finishCapture() {
  if (state == State::recording || state == State::stopped) writeCapture();
}

bool captureCallStart(std::uint64_t hash, std::size_t slotCount, AnswerKind answer) {
  if (state != State::recording) return false;
  // The fixed parts: hash, counts, value slots, the widest answer; texts and outputs check theirs.
  if (!fits(8 + 2 + 5 * slotCount + 12)) {
    stopFull();
    return false;
  }
  putU64(hash);
  putU8(static_cast<std::uint8_t>(slotCount));
  putU8(static_cast<std::uint8_t>(answer));
  callAnswer = answer;
  outputCount = 0;
  ++passCalls;
  return true;
}

void captureValue(std::uint32_t value) {
  if (state != State::recording) return;
  putU8(static_cast<std::uint8_t>(SlotKind::value));
  putU32(value);
}

void captureText(const char* text) {
  if (state != State::recording) return;
  std::size_t length = std::strlen(text);
  if (length > 0xFFFF) length = 0xFFFF;  // no name is this long; the start of it is kept
  if (!fits(3 + length + 12)) {
    stopFull();
    return;
  }
  putU8(static_cast<std::uint8_t>(SlotKind::text));
  putU16(static_cast<std::uint16_t>(length));
  putBytes(text, length);
}

void captureOutput(const void* address, std::size_t size) {
  if (state != State::recording) return;
  if (!fits(3 + size + 12) || outputCount == maxOutputs) {
    stopFull();
    return;
  }
  putU8(static_cast<std::uint8_t>(SlotKind::output));
  putU16(static_cast<std::uint16_t>(size));
  outputs[outputCount++] = {address, used, size};
  used += size;  // filled in after the call
}

void captureCallEnd(const std::uint64_t* result) {
  if (state != State::recording) return;
  for (std::size_t i = 0; i < outputCount; ++i) {
    std::memcpy(buffer + outputs[i].at, outputs[i].address, outputs[i].size);
  }
  switch (callAnswer) {
    case AnswerKind::none: break;
    case AnswerKind::lowHalf: putU32(static_cast<std::uint32_t>(result[0])); break;
    case AnswerKind::wholeSlot: putU64(result[0]); break;
    case AnswerKind::threeLowHalves:
      for (int i = 0; i < 3; ++i) putU32(static_cast<std::uint32_t>(result[i]));
      break;
  }
}
