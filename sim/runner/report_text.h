// The number formats every part of the report shares: both builds print the same bits alike.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace sim {

inline std::string hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

inline std::string fixed(double value, int decimals) {
  char text[40];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

}  // namespace sim
