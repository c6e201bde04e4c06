// Numbers in the settings file and the log, in the C locale's rules whatever locale the process
// has: another module in the game may set one with a decimal comma or a longer decimal point.
// Nothing here reads or changes the process's locale.
#pragma once

#include <cstddef>

constexpr std::size_t numberTextCapacity = 64;

// True when the whole text, after leading blanks, is a number as strtod reads it in the C locale
// (a sign, decimals, an exponent, hexadecimal, inf, infinity, nan); value then holds it. Texts of
// numberTextCapacity characters or more are never numbers.
bool readNumberText(const char* text, double& value);

enum class NumberStyle {
  fixed,    // as printf's "%f"
  general,  // as printf's "%g"
};

// value as printf writes it in the C locale, every digit exact and the last rounded half to even,
// but a NaN without its sign, as the run-time the shipped plug-in has always used writes it.
void writeNumberText(char (&text)[numberTextCapacity], float value, NumberStyle style);
