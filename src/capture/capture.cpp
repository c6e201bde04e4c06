#include "capture/capture_record.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/platform.h"
#include "log/startup_log.h"
#include "plugin_version.h"
#include "settings/settings.h"

bool captureOn = false;
std::uint8_t* captureCursor = nullptr;
const std::uint8_t* captureLimit = nullptr;
std::uint32_t capturePassCalls = 0;
std::size_t captureOutputsPending = 0;

namespace {

using capture_format::SlotKind;

constexpr char captureFileName[] = "vok.quillmarrowfendcask.capture";
// About 10 s of play at 60 frames a second.
constexpr std::uint32_t defaultPasses = 600;
constexpr std::uint32_t mostPasses = 1000000;
// Taken once at script start; 600 passes of 64 armed peds take about 36 MB.
constexpr std::size_t budgetBytes = std::size_t{64} << 20;
constexpr std::size_t budgetMebibytes = budgetBytes >> 20;
constexpr std::size_t pageBytes = 4096;

enum class State { idle, recording, stopped, written };
State state = State::idle;
bool budgetFull = false;
// As the settings file asks, for the next recording; the log says so when it cannot be used.
std::uint32_t passesAsked = defaultPasses;
bool passesTextUnusable = false;
std::uint32_t passesWanted = defaultPasses;

std::uint8_t* buffer = nullptr;
std::uint8_t* passCallCount = nullptr;  // where the pass being recorded keeps its call count
std::size_t completeEnd = 0;            // the end of the last complete pass
std::uint32_t passesDone = 0;
std::uint32_t callsDone = 0;  // in complete passes

// Where the outputs' bytes go once the game wrote them, for the call in flight.
struct PendingOutput {
  const void* address;
  std::uint8_t* at;
  std::size_t size;
};
PendingOutput outputs[captureMaxSlots];

std::size_t bytesLeft() { return static_cast<std::size_t>(buffer + budgetBytes - captureCursor); }

// The counts go in when the file is written; the settings and versions when recording starts.
constexpr std::size_t countsAt = capture_format::headerSize;
constexpr std::size_t flagsAt = countsAt + 12;

void storeAt(std::size_t at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i)
    buffer[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// A text's bytes without its NUL: the length before them says where it ends.
void putBytes(const void* bytes, std::size_t size) {
  std::memcpy(captureCursor, bytes, size);
  captureCursor += size;
}

void putVersionText(const char* text) {
  std::size_t length = std::strlen(text);
  if (length > capture_format::versionTextCapacity) length = capture_format::versionTextCapacity;
  capturePut(length, 1);
  putBytes(text, length);
}

// The budget ran out: the pass being recorded is dropped, the complete ones are written at the
// next pass end or at unload.
void stopFull() {
  budgetFull = true;
  captureOn = false;
  state = State::stopped;
}

void beginPass() {
  if (bytesLeft() < 4 + captureCallRoom) {
    stopFull();
    return;
  }
  passCallCount = captureCursor;
  capturePut(0, 4);
  capturePassCalls = 0;
}

void writeCapture() {
  state = State::written;
  captureOn = false;
  char line[pathCapacity + 200];
  char path[pathCapacity];
  if (!composePathBesideGame(path, captureFileName)) {
    std::snprintf(line, sizeof line, "Capture: the game's folder could not be had: not written");
  } else {
    const std::size_t length = completeEnd;
    std::memcpy(buffer, capture_format::magic, sizeof capture_format::magic);
    storeAt(8, capture_format::version, 4);
    storeAt(capture_format::lengthOffset, length, 8);
    storeAt(countsAt, passesDone, 4);
    storeAt(countsAt + 4, callsDone, 4);
    if (budgetFull) buffer[flagsAt] |= capture_format::stoppedFullFlag;
    storeAt(capture_format::checkSumOffset,
            capture_format::fnv1a64(buffer + capture_format::checkedFrom,
                                    length - capture_format::checkedFrom),
            8);
    std::FILE* file = openBesideGame(path, "wb");
    bool written = file != nullptr && std::fwrite(buffer, 1, length, file) == length;
    if (file != nullptr && std::fclose(file) != 0) written = false;
    const int shown =
        budgetFull
            ? std::snprintf(line, sizeof line,
                            "Capture: the %u MiB budget was full after %u of %u passes; ",
                            static_cast<unsigned>(budgetMebibytes),
                            static_cast<unsigned>(passesDone), static_cast<unsigned>(passesWanted))
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
  captureCursor = nullptr;
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
  // Every page is touched now, while the game loads, so that no recorded frame pays for the
  // first use of the pages it fills (thousands of them; most of a pass's cost otherwise).
  for (std::size_t at = 0; at < budgetBytes; at += pageBytes) buffer[at] = 0;
  captureLimit = buffer + budgetBytes - captureCallRoom;
  captureCursor = buffer + countsAt;
  capturePut(0, 8);  // the passes and calls recorded, when written
  capturePut(passesWanted, 4);
  capturePut(displayAccuracy ? capture_format::displayAccuracyFlag : 0, 1);
  std::uint32_t angleBits;
  std::memcpy(&angleBits, &angleLeniency, sizeof angleBits);
  capturePut(angleBits, 4);
  putVersionText(pluginVersion);
  char version[moduleVersionCapacity];
  moduleVersionText(nullptr, version);
  putVersionText(version);
  moduleVersionText("ScriptHookRDR2.dll", version);
  putVersionText(version);
  completeEnd = static_cast<std::size_t>(captureCursor - buffer);
  state = State::recording;
  captureOn = true;
  beginPass();
  std::snprintf(
      line, sizeof line, "Capture: recording the first %u passes (at most %u MiB) into %s",
      static_cast<unsigned>(passesWanted), static_cast<unsigned>(budgetMebibytes), captureFileName);
  appendLogLine(line);
}

void capturePassEnd() {
  if (state == State::recording) {
    for (std::size_t i = 0; i < 4; ++i) {
      passCallCount[i] = static_cast<std::uint8_t>(capturePassCalls >> (8 * i));
    }
    completeEnd = static_cast<std::size_t>(captureCursor - buffer);
    ++passesDone;
    callsDone += capturePassCalls;
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

bool captureCallRefused() {
  if (captureOn) stopFull();  // below the limit there was no room for another call
  return false;
}

// After a text or an output there is room for the call's fixed parts again, as at its start.
void captureText(const char* text) {
  if (!captureOn) return;
  std::size_t length = std::strlen(text);
  if (length > 0xFFFF) length = 0xFFFF;  // no name is this long; the start of it is kept
  if (bytesLeft() < 3 + length + captureCallRoom) {
    stopFull();
    return;
  }
  capturePut(static_cast<std::uint8_t>(SlotKind::text), 1);
  capturePut(length, 2);
  putBytes(text, length);
}

void captureOutput(const void* address, std::size_t size) {
  if (!captureOn) return;
  if (bytesLeft() < 3 + size + captureCallRoom) {
    stopFull();
    return;
  }
  capturePut(static_cast<std::uint8_t>(SlotKind::output), 1);
  capturePut(size, 2);
  outputs[captureOutputsPending++] = {address, captureCursor, size};
  captureCursor += size;
}

void captureOutputsWritten() {
  for (std::size_t i = 0; i < captureOutputsPending; ++i) {
    std::memcpy(outputs[i].at, outputs[i].address, outputs[i].size);
  }
  captureOutputsPending = 0;
}
