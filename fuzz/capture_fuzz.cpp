// Any bytes -> the capture reader: never a crash, an allocation beyond a small multiple of the
// file's own size or a read past its end; false exactly when it names one fault in one line. The
// bytes are read whole from memory (readCapture) and a pass at a time from a file, twice with a
// rewind between, and the three readings must agree. Each input is read as it is, then sealed
// anew (format version 1: its length and check sum; version 2: every whole block's check sum) so
// that the reading of the passes, slots and answers behind the check sums is fuzzed too. Cut by
// one byte, a version 1 capture that read no longer does; a version 2 one reads as far as the cut
// left whole passes, or says it is cut short.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "capture.h"
#include "capture/capture_format.h"
#include "fuzz_game.h"

namespace {

namespace format = capture_format;

bool sameSlot(const sim::CapturedSlot& a, const sim::CapturedSlot& b) {
  return a.kind == b.kind && a.notWritten == b.notWritten && a.outputSize == b.outputSize &&
         a.value == b.value && a.text == b.text && a.written == b.written;
}

bool samePass(const sim::CapturedPass& a, const sim::CapturedPass& b) {
  if (a.calls.size() != b.calls.size()) return false;
  for (std::size_t i = 0; i < a.calls.size(); ++i) {
    const sim::CapturedCall& x = a.calls[i];
    const sim::CapturedCall& y = b.calls[i];
    if (x.hash != y.hash || x.answerRead != y.answerRead || x.answer != y.answer ||
        x.slots.size() != y.slots.size()) {
      return false;
    }
    for (std::size_t s = 0; s < x.slots.size(); ++s) {
      if (!sameSlot(x.slots[s], y.slots[s])) return false;
    }
  }
  return true;
}

// The same bytes from a file, through the reader's window, twice: what readCapture gave.
void fileAgrees(const std::vector<std::uint8_t>& bytes, const sim::Capture& whole,
                const std::string& error) {
  static const std::string path = "/tmp/capture_fuzz." + std::to_string(getpid());
  // Removed first: rewriting a file in place makes some file systems flush it at every close.
  std::remove(path.c_str());
  std::FILE* file = std::fopen(path.c_str(), "wb");
  fuzz::require(file != nullptr, "the scratch file can be written");
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  fuzz::require(std::fclose(file) == 0 && written, "the scratch file is written");
  sim::CaptureReader reader;
  const bool opened = reader.openFile(path);
  for (int reading = 1; opened && reading <= 2; ++reading) {
    sim::CapturedPass pass;
    std::size_t passes = 0;
    while (reader.nextPass(pass)) {
      fuzz::require(passes < whole.passes.size() && samePass(pass, whole.passes[passes]),
                    "a file gives the passes its bytes give");
      ++passes;
    }
    fuzz::require(reader.error() == error, "a file gives the error its bytes give");
    if (!error.empty()) break;
    fuzz::require(passes == whole.passes.size(), "a file gives as many passes as its bytes");
    fuzz::require(
        reader.ending().how == whole.ending.how && reader.ending().calls == whole.ending.calls,
        "a file ends as its bytes do");
    fuzz::require(reader.rewind(), "a capture read can be read again");
  }
  std::remove(path.c_str());
  if (!opened) fuzz::require(reader.error() == error, "a file is refused as its bytes are");
}

bool readChecked(const std::vector<std::uint8_t>& bytes, sim::Capture& capture) {
  std::string error;
  const bool read = sim::readCapture(bytes, capture, error);
  fuzz::require(read == error.empty(), "an error is given exactly when the file is not read");
  fuzz::require(error.find('\n') == std::string::npos, "the error is one line");
  fileAgrees(bytes, capture, error);
  return read;
}

void store(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void sealVersion2(std::vector<std::uint8_t>& bytes) {
  std::size_t at = format::v2::headSize;
  while (at + format::v2::blockHeadSize <= bytes.size()) {
    const std::size_t size = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                             static_cast<std::size_t>(bytes[at + 3]) << 24;
    if (size > bytes.size() - at - format::v2::blockHeadSize) return;
    store(bytes, at + 4, format::fnv1a64(&bytes[at + format::v2::checkedFrom], 1 + size));
    at += format::v2::blockHeadSize + size;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  sim::Capture capture;
  readChecked(bytes, capture);
  if (size < format::v2::headSize) return 0;
  const bool version2 =
      bytes[8] == format::v2::version && bytes[9] == 0 && bytes[10] == 0 && bytes[11] == 0;
  if (version2) {
    sealVersion2(bytes);
  } else if (size >= format::headerSize) {
    store(bytes, format::lengthOffset, size);
    store(bytes, format::checkSumOffset,
          format::fnv1a64(bytes.data() + format::checkedFrom, size - format::checkedFrom));
  } else {
    return 0;
  }
  if (!readChecked(bytes, capture)) return 0;
  const std::size_t passes = capture.passes.size();
  bytes.pop_back();
  sim::Capture cut;
  std::string error;
  const bool cutRead = sim::readCapture(bytes, cut, error);
  if (!version2) {
    fuzz::require(!cutRead, "a version 1 capture cut by one byte is not read");
  } else if (cutRead) {
    fuzz::require(
        cut.ending.how == sim::CaptureEnding::How::gameStopped && cut.passes.size() <= passes,
        "a version 2 capture cut by one byte ends where the game stopped");
  } else {
    fuzz::require(error.rfind("cut short", 0) == 0, "a version 2 capture cut is read or cut short");
  }
  return 0;
}
