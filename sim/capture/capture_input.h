// The bytes a CaptureReader reads and the numbers in them: a file held a window at a time, or
// bytes in memory, and a cursor over a stretch of them that checks every count against the bytes
// left before anything is taken for it. The layouts of the format versions are read in
// capture_file.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace sim::capture_input {

// The bytes being read: a file, held a window at a time, or bytes in memory, taken in place.
class Input {
 public:
  Input() = default;
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  ~Input() { close(); }

  void useBytes(const std::uint8_t* bytes, std::size_t size) {
    close();
    bytes_ = bytes;
    end_ = size;
  }
  void useFile(std::FILE* file) {
    close();
    file_ = file;
  }

  // Makes `size` bytes from the read position lie together at at(); false when the input ends
  // (or cannot be read) first. A file's window grows only as far as bytes are there to fill it.
  bool need(std::size_t size);
  // As many bytes as lie together at at(), reading more when there are none; 0 at the end.
  std::size_t some() { return need(1) ? end_ - position_ : 0; }
  const std::uint8_t* at() const { return bytes_ + position_; }
  void skip(std::size_t size) { position_ += size; }
  std::uint64_t offset() const { return start_ + position_; }
  bool readFailed() const { return file_ != nullptr && std::ferror(file_) != 0; }

  // Back to `offset` bytes from the start, which the caller read before.
  bool seek(std::uint64_t offset);

 private:
  static constexpr std::size_t piece = std::size_t{1} << 16;

  void close();

  std::FILE* file_ = nullptr;
  std::vector<std::uint8_t> window_;
  const std::uint8_t* bytes_ = nullptr;  // the window, or the bytes in memory
  std::uint64_t start_ = 0;              // the file's offset of bytes_[0]
  std::size_t position_ = 0;             // the read position in bytes_
  std::size_t end_ = 0;                  // the bytes there are in bytes_
};

// Numbers, texts and bytes from the input, within a stretch of `left` bytes: the file after its
// header (version 1) or a block's payload (version 2). The first fault is kept in `error`.
struct Cursor {
  Input& in;
  std::uint64_t left;
  const char* limit;  // where the stretch ends, for the errors: "the file's end", "its block"
  std::string& error;

  bool fail(const std::string& what) {
    if (error.empty()) error = what;
    return false;
  }
  bool take(std::size_t size, const char* what);
  // A little-endian number of the given type's size.
  template <typename Number>
  bool number(Number& value, const char* what) {
    if (!take(sizeof(Number), what)) return false;
    std::uint64_t read = 0;
    for (std::size_t i = sizeof(Number); i-- > 0;) read = read << 8 | in.at()[i];
    value = static_cast<Number>(read);
    in.skip(sizeof(Number));
    left -= sizeof(Number);
    return true;
  }
  bool bytes(std::size_t size, const std::uint8_t*& start, const char* what);
  bool text(std::string& value, const char* what);
  // Whether `count` things of at least `smallest` bytes each fit in what is left.
  bool fits(std::uint64_t count, std::size_t smallest) const { return count <= left / smallest; }
};

// Little-endian numbers at a place the caller made sure holds them.
std::uint32_t littleEndian32(const std::uint8_t* at);
std::uint64_t littleEndian64(const std::uint8_t* at);

}  // namespace sim::capture_input
