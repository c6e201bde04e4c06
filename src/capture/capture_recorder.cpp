#include "capture/capture_recorder.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/platform.h"
#include "log/startup_log.h"
#include "plugin_version.h"
#include "settings/settings.h"

bool captureOn = false;
std::uint8_t* captureCursor = nullptr;
const std::uint8_t* captureEnd = nullptr;
std::uint32_t capturePassCalls = 0;
std::size_t captureOutputsPending = 0;

namespace {

namespace format = capture_format;
using format::v2::BlockKind;
using Ending = format::v2::Ending;
using format::SlotKind;

constexpr char captureFileName[] = "vok.quillmarrowfendcask.capture";
constexpr std::size_t checkSumAt = 4;  // in a block's head, after its payload's length
// About 10 s of play at 60 frames a second.
constexpr std::uint32_t defaultPasses = 600;
constexpr std::uint32_t mostPasses = 1000000;
// Held for one pass at a time: a pass of 64 armed peds takes about 60 KB, so only a crowd of
// thousands fills it.
constexpr std::size_t mebibyte = std::size_t{1} << 20;
constexpr std::size_t defaultBudget = 4 * mebibyte;
// What an output holds before the call: bytes still this after it are bytes the game left.
constexpr std::uint8_t outputPattern = 0xA5;

enum class State { idle, recording, stopped, ended };
State state = State::idle;
std::size_t budgetBytes = defaultBudget;
// As the settings file asks, for the next recording; the log says so when it cannot be used.
std::uint32_t passesAsked = defaultPasses;
bool passesTextUnusable = false;
std::uint32_t passesWanted = defaultPasses;

std::uint8_t* buffer = nullptr;  // the pass being recorded, as its block: header, count, pass
std::uint8_t* passCallCount = nullptr;
std::FILE* file = nullptr;
char path[pathCapacity];
std::uint32_t passesDone = 0;
std::uint32_t callsDone = 0;  // in passes on disk
std::uint64_t bytesWritten = 0;
// The log's line once the capture ended, given again in every later start's log.
char summary[pathCapacity + 200];

// Where the outputs' bytes go once the game wrote them, for the call in flight.
struct PendingOutput {
  const std::uint8_t* address;
  std::uint8_t* kindAt;
  std::size_t size;
};
PendingOutput outputs[captureMaxSlots];

void storeAt(std::uint8_t* at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The block that starts at `block` and ends at `end`: its header filled in, written and flushed,
// so that a crash after this loses nothing of it.
bool writeBlock(std::uint8_t* block, const std::uint8_t* end, BlockKind kind) {
  const auto size = static_cast<std::size_t>(end - block);
  storeAt(block, size - format::v2::blockHeadSize, 4);
  block[format::v2::checkedFrom] = static_cast<std::uint8_t>(kind);
  storeAt(block + checkSumAt,
          format::fnv1a64(block + format::v2::checkedFrom, size - format::v2::checkedFrom), 8);
  if (std::fwrite(block, 1, size, file) != size || std::fflush(file) != 0) return false;
  bytesWritten += size;
  return true;
}

// A text's bytes without its NUL: the length before them says where it ends.
void putBytes(const void* bytes, std::size_t size) {
  std::memcpy(captureCursor, bytes, size);
  captureCursor += size;
}

void putVersionText(const char* text) {
  const std::size_t length = std::min(std::strlen(text), format::versionTextCapacity);
  capturePut(length, 1);
  putBytes(text, length);
}

// The first block: what a replay needs to set up the plug-in as it was. Its own room, whatever
// the budget.
bool writeHeadAndStart() {
  std::uint8_t head[format::v2::headSize];
  std::memcpy(head, format::magic, sizeof format::magic);
  storeAt(head + sizeof format::magic, format::v2::version, 4);
  std::uint8_t start[format::v2::blockHeadSize + 9 + 3 * (1 + format::versionTextCapacity)];
  captureCursor = start + format::v2::blockHeadSize;
  capturePut(passesWanted, 4);
  capturePut(displayAccuracy ? format::displayAccuracyFlag : 0, 1);
  capturePut(std::bit_cast<std::uint32_t>(angleLeniency), 4);
  putVersionText(pluginVersion);
  char version[moduleVersionCapacity];
  moduleVersionText(nullptr, version);
  putVersionText(version);
  moduleVersionText("ScriptHookRDR2.dll", version);
  putVersionText(version);
  const std::uint8_t* const end = captureCursor;
  captureCursor = nullptr;
  if (std::fwrite(head, 1, sizeof head, file) != sizeof head) return false;
  bytesWritten += sizeof head;
  return writeBlock(start, end, BlockKind::start);
}

// The budget always has room for a block's header and counts (setCaptureBudget).
void beginPass() {
  captureCursor = buffer + format::v2::blockHeadSize;
  capturePut(1, 4);  // one pass in each block
  passCallCount = captureCursor;
  capturePut(0, 4);
  capturePassCalls = 0;
}

void releaseBuffer() {
  std::free(buffer);
  buffer = nullptr;
  captureOn = false;
  captureCursor = nullptr;
  captureEnd = nullptr;
  captureOutputsPending = 0;
}

// The capture is over: its end block written (unless a write failed before), the file closed, and
// the log told. Nothing of it is written after this.
void endCapture(Ending reason, bool writeFailed) {
  releaseBuffer();
  state = State::ended;
  bool written = !writeFailed;
  if (written) {
    std::uint8_t end[format::v2::blockHeadSize + 9];
    captureCursor = end + format::v2::blockHeadSize;
    capturePut(passesDone, 4);
    capturePut(callsDone, 4);
    capturePut(static_cast<std::uint8_t>(reason), 1);
    captureCursor = nullptr;
    written = writeBlock(end, end + sizeof end, BlockKind::end);
  }
  if (std::fclose(file) != 0) written = false;
  file = nullptr;
  const int shown =
      reason == Ending::budgetFull
          ? std::snprintf(summary, sizeof summary,
                          "Capture: the %u %s budget was full after %u of %u passes; ",
                          static_cast<unsigned>(budgetBytes % mebibyte == 0 ? budgetBytes / mebibyte
                                                                            : budgetBytes),
                          budgetBytes % mebibyte == 0 ? "MiB" : "byte",
                          static_cast<unsigned>(passesDone), static_cast<unsigned>(passesWanted))
          : std::snprintf(summary, sizeof summary, "Capture: ");
  std::snprintf(summary + shown, sizeof summary - static_cast<std::size_t>(shown),
                "%u %s, %u native calls (%llu bytes) %s %s%s", static_cast<unsigned>(passesDone),
                passesDone == 1 ? "pass" : "passes", static_cast<unsigned>(callsDone),
                static_cast<unsigned long long>(bytesWritten),
                written ? "written to" : "written, then a write failed, to", path,
                reason == Ending::saveLoad ? " (a save load ended it)" : "");
  appendLogLine(summary);
}

void notRecorded(const char* why) {
  state = State::ended;
  std::snprintf(summary, sizeof summary, "Capture: %s: nothing recorded", why);
  appendLogLine(summary);
}

void beginCapture() {
  char line[pathCapacity + 100];  // a path and a few words, which notRecorded wraps in the summary
  if (passesTextUnusable) {
    std::snprintf(line, sizeof line,
                  "Capture: [Capture] Passes is not a whole number from 1 to %u: the default %u",
                  static_cast<unsigned>(mostPasses), static_cast<unsigned>(defaultPasses));
    appendLogLine(line);
  }
  passesWanted = passesAsked;
  if (!composePathBesideGame(path, captureFileName)) {
    notRecorded("the game's folder could not be had");
    return;
  }
  buffer = static_cast<std::uint8_t*>(std::malloc(budgetBytes));
  if (buffer == nullptr) {
    notRecorded("its memory budget could not be had");
    return;
  }
  file = openBesideGame(path, "wb");
  if (file == nullptr) {
    releaseBuffer();
    std::snprintf(line, sizeof line, "%s could not be written", path);
    notRecorded(line);
    return;
  }
  if (!writeHeadAndStart()) {
    endCapture(Ending::passesWanted, true);
    return;
  }
  captureEnd = buffer + budgetBytes;
  state = State::recording;
  captureOn = true;
  beginPass();
  std::snprintf(line, sizeof line,
                "Capture: recording the first %u passes into %s, each written as it ends",
                static_cast<unsigned>(passesWanted), path);
  appendLogLine(line);
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

void setCaptureBudget(std::size_t bytes) {
  budgetBytes = bytes == 0 ? defaultBudget : std::max(bytes, format::v2::blockHeadSize + 8);
}

void captureScriptStart() {
  switch (state) {
    case State::idle: beginCapture(); return;
    // The capture holds one stretch of play with one set of settings: a save load ends it.
    case State::recording: endCapture(Ending::saveLoad, false); return;
    case State::stopped: endCapture(Ending::budgetFull, false); return;
    case State::ended: appendLogLine(summary); return;
  }
}

void capturePassEnd() {
  if (state == State::stopped) endCapture(Ending::budgetFull, false);
  if (state != State::recording) return;
  storeAt(passCallCount, capturePassCalls, 4);
  if (!writeBlock(buffer, captureCursor, BlockKind::passes)) {
    endCapture(Ending::passesWanted, true);
    return;
  }
  ++passesDone;
  callsDone += capturePassCalls;
  if (passesDone == passesWanted) {
    endCapture(Ending::passesWanted, false);
    return;
  }
  beginPass();
}

// At the process's end the loader lock is held and other modules may be gone: the passes are on
// disk already and the run-time closes the file. A FreeLibrary only adds the small end block,
// and leaves the recorder as a module loaded anew finds it (in-process, the same globals).
void captureUnload(bool processEnding) {
  if (processEnding) return;
  if (state == State::recording) endCapture(Ending::unloaded, false);
  if (state == State::stopped) endCapture(Ending::budgetFull, false);
  state = State::idle;
  passesDone = 0;
  callsDone = 0;
  bytesWritten = 0;
  summary[0] = '\0';
}

bool captureCallRefused() {
  // The pass in the buffer cannot be whole: it is dropped, the passes before are on disk.
  captureOn = false;
  state = State::stopped;
  return false;
}

// The call's room, its texts included, was checked at its start. A null text, which the game
// gets as it is, is recorded as an empty one.
void captureText(const char* text) {
  const std::size_t length = captureTextBytes(text);
  capturePut(static_cast<std::uint8_t>(SlotKind::text), 1);
  capturePut(length, 2);
  if (length != 0) putBytes(text, length);
}

// The output is filled with a pattern before the call, so that what the game leaves unwritten
// never records the plug-in's stack bytes, which differ from run to run and build to build. The
// game writing exactly the pattern reads as "not written": the capture flavour then saw the same
// bytes either way, and a replay differs from it only where the plug-in reads an output the
// game did not write. No hash, position or screen point the game gives is 0xA5A5A5A5.
void captureOutput(void* address, std::size_t size) {
  std::memset(address, outputPattern, size);
  outputs[captureOutputsPending++] = {static_cast<const std::uint8_t*>(address), captureCursor,
                                      size};
  capturePut(static_cast<std::uint8_t>(SlotKind::output), 1);
  capturePut(size, 2);
  captureCursor += size;
}

// From the last output back, so that an unwritten one's bytes taken out of the call leave the
// places of those before it as they were.
void captureOutputsWritten() {
  for (std::size_t i = captureOutputsPending; i-- > 0;) {
    const PendingOutput& output = outputs[i];
    std::uint8_t* const bytes = output.kindAt + 3;
    bool written = false;
    for (std::size_t b = 0; b < output.size; ++b) written |= output.address[b] != outputPattern;
    if (written) {
      std::memcpy(bytes, output.address, output.size);
    } else {
      *output.kindAt = format::v2::notWrittenSlot;
      std::memmove(bytes, bytes + output.size,
                   static_cast<std::size_t>(captureCursor - (bytes + output.size)));
      captureCursor -= output.size;
    }
  }
  captureOutputsPending = 0;
}
