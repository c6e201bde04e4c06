// The capture reader's input: a file's window grows and slides as the reading needs, and a
// cursor never takes more than its stretch or the input holds.
#include "capture_input.h"

#include <algorithm>
#include <cstring>

namespace sim::capture_input {

bool Input::need(std::size_t size) {
  if (end_ - position_ >= size) return true;
  if (file_ == nullptr) return false;
  if (end_ > position_) {
    std::memmove(window_.data(), window_.data() + position_, end_ - position_);
  }
  start_ += position_;
  end_ -= position_;
  position_ = 0;
  while (end_ < size) {
    if (end_ == window_.size()) {
      window_.resize(std::min(std::max(size, piece), std::max(piece, 2 * window_.size())));
    }
    const std::size_t read = std::fread(window_.data() + end_, 1, window_.size() - end_, file_);
    if (read == 0) break;
    end_ += read;
  }
  bytes_ = window_.data();
  return end_ - position_ >= size;
}

bool Input::seek(std::uint64_t offset) {
  if (offset >= start_ && offset - start_ <= end_) {
    position_ = static_cast<std::size_t>(offset - start_);
    return true;
  }
  if (file_ == nullptr || std::fseek(file_, 0, SEEK_SET) != 0) return false;
  std::clearerr(file_);
  start_ = 0;
  position_ = 0;
  end_ = 0;
  if (!need(static_cast<std::size_t>(offset))) return false;
  position_ = static_cast<std::size_t>(offset);
  return true;
}

void Input::close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  bytes_ = nullptr;
  window_ = {};
  start_ = 0;
  position_ = 0;
  end_ = 0;
}

bool Cursor::take(std::size_t size, const char* what) {
  if (left < size || !in.need(size)) {
    return fail("not a readable capture: " + std::string(what) + " runs past " + limit);
  }
  return true;
}

bool Cursor::bytes(std::size_t size, const std::uint8_t*& start, const char* what) {
  if (!take(size, what)) return false;
  start = in.at();
  in.skip(size);
  left -= size;
  return true;
}

bool Cursor::text(std::string& value, const char* what) {
  std::uint8_t length = 0;
  const std::uint8_t* start = nullptr;
  if (!number(length, what) || !bytes(length, start, what)) return false;
  value.assign(reinterpret_cast<const char*>(start), length);
  return true;
}

std::uint32_t littleEndian32(const std::uint8_t* at) {
  return static_cast<std::uint32_t>(at[0]) | static_cast<std::uint32_t>(at[1]) << 8 |
         static_cast<std::uint32_t>(at[2]) << 16 | static_cast<std::uint32_t>(at[3]) << 24;
}

std::uint64_t littleEndian64(const std::uint8_t* at) {
  return littleEndian32(at) | static_cast<std::uint64_t>(littleEndian32(at + 4)) << 32;
}

}  // namespace sim::capture_input
