// Reading UTF-8 one code point at a time, as the scene reader and the report both need it.
#pragma once

#include <cstddef>
#include <string_view>

namespace sim {

// The code point at the start of text and its length in bytes, or a length of 0 where the bytes
// are not well-formed UTF-8 (overlong forms, surrogates and values past U+10FFFF included).
inline std::size_t utf8Sequence(std::string_view text, char32_t& code) {
  if (text.empty()) return 0;
  const auto byte = [&](std::size_t at) { return static_cast<unsigned char>(text[at]); };
  const unsigned char lead = byte(0);
  const std::size_t length = lead < 0x80                   ? 1
                             : lead >= 0xC2 && lead < 0xE0 ? 2
                             : lead >= 0xE0 && lead < 0xF0 ? 3
                             : lead >= 0xF0 && lead < 0xF5 ? 4
                                                           : 0;
  if (length == 0 || length > text.size()) return 0;
  char32_t value = length == 1 ? lead : lead & (0x7F >> length);
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(k) & 0xC0) != 0x80) return 0;
    value = value << 6 | (byte(k) & 0x3F);
  }
  constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < least[length] || value > 0x10FFFF || (value >= 0xD800 && value < 0xE000)) return 0;
  code = value;
  return length;
}

}  // namespace sim
