// Any bytes -> readCapture: never a crash, an allocation beyond the file's own size or a read
// past its end; false exactly when it names one fault in one line. Each input is read as it is,
// then sealed anew (its length and check sum made right) so that the reading of the passes, slots
// and answers behind the check sum is fuzzed too; a capture that reads loses that when cut.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "capture.h"
#include "capture/capture_format.h"
#include "fuzz_game.h"

namespace {

bool readChecked(const std::vector<std::uint8_t>& bytes) {
  sim::Capture capture;
  std::string error;
  const bool read = sim::readCapture(bytes, capture, error);
  fuzz::require(read == error.empty(), "an error is given exactly when the file is not read");
  fuzz::require(error.find('\n') == std::string::npos, "the error is one line");
  return read;
}

void storeLittleEndian(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value) {
  for (std::size_t i = 0; i < 8; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<std::uint8_t> bytes(data, data + size);
  readChecked(bytes);
  if (size < capture_format::headerSize) return 0;

  storeLittleEndian(bytes, capture_format::lengthOffset, size);
  storeLittleEndian(bytes, capture_format::checkSumOffset,
                    capture_format::fnv1a64(bytes.data() + capture_format::checkedFrom,
                                            size - capture_format::checkedFrom));
  if (readChecked(bytes)) {
    bytes.pop_back();
    fuzz::require(!readChecked(bytes), "a capture cut by one byte is not read");
  }
  return 0;
}
