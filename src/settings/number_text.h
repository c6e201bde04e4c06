// Numbers in the settings file and the log, in the C locale's rules whatever locale the process
// has: another module in the game may set one with a decimal comma or a longer decimal point.
// Nothing here reads or changes the process's locale.
#pragma once

#include <cstddef>

constexpr std::size_t numberTextCapacity = 64;

// True when the text is a number as strtod reads it in the C locale: leading blanks (space and
// \t to \r) are skipped and the whole rest is one number (a sign, decimals, an exponent,
// hexadecimal, inf, infinity, nan, nan(...), in either letter case). value then holds it; on
// false it is left as it was.
// Length: the rest after the leading blanks must be shorter than numberTextCapacity characters; 64
// or more are never a number, whatever number of blanks comes before them.
// NaN: read as the default quiet NaN, negative after a minus sign. The characters between the
// parentheses of nan(...) are accepted and dropped: no payload reaches value.
bool readNumberText(const char* text, double& value);

enum class NumberStyle {
  fixed,    // as printf's "%f"
  general,  // as printf's "%g"
};

// value as printf writes it in the C locale, every digit exact and the last rounded half to even,
// but a NaN without its sign, as the run-time the shipped plug-in has always used writes it.
void writeNumberText(char (&text)[numberTextCapacity], float value, NumberStyle style);
