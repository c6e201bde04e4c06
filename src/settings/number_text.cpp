#include "settings/number_text.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

// The blanks strtod skips in the C locale.
bool isBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool isSign(char c) { return c == '+' || c == '-'; }

// strtod takes one sign at most after an exponent's marker and stops before the marker
// otherwise; from_chars takes "p+-3" in hexadecimal as the exponent -3.
bool hasDoubledExponentSign(const char* begin, const char* end, char marker) {
  for (const char* c = begin; c + 2 < end; ++c) {
    if ((*c == marker || *c == marker - 'a' + 'A') && isSign(c[1]) && isSign(c[2])) return true;
  }
  return false;
}

bool isHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// from_chars leaves a value out of a double's range to us. Under numberTextCapacity characters
// the digits alone move a value by less than 10^63 (2^252 in hexadecimal), far from both ends of
// the range, so the exponent's sign says which end it passed.
double outOfRange(const char* begin, const char* end, std::chars_format format) {
  const char marker = format == std::chars_format::hex ? 'p' : 'e';
  for (const char* c = begin; c + 1 < end; ++c) {
    if ((*c == marker || *c == marker - 'a' + 'A') && c[1] == '-') return 0.0;
  }
  return std::numeric_limits<double>::infinity();
}

// A float's magnitude as its exact decimal digits, one a byte, most significant first. A float is
// below 2^128 (39 digits before the point; one more place takes a carry when rounding) and a
// multiple of 2^-149 (149 digits after it).
constexpr int unitsPlace = 39;
constexpr int placeCount = unitsPlace + 1 + 150;
struct ExactDecimal {
  std::uint8_t digit[placeCount];
};

void setExact(ExactDecimal& exact, float magnitude) {
  std::memset(exact.digit, 0, sizeof exact.digit);
  int exponent = 0;
  const float fraction = std::frexp(magnitude, &exponent);
  // The 24 bits of the significand as an integer, exact.
  auto significand = static_cast<std::uint32_t>(std::ldexp(fraction, 24));
  exponent -= 24;
  for (int place = unitsPlace; significand != 0; --place) {
    exact.digit[place] = static_cast<std::uint8_t>(significand % 10);
    significand /= 10;
  }
  for (; exponent > 0; --exponent) {
    int carry = 0;
    for (int place = placeCount - 1; place >= 0; --place) {
      const int twice = exact.digit[place] * 2 + carry;
      exact.digit[place] = static_cast<std::uint8_t>(twice % 10);
      carry = twice / 10;
    }
  }
  for (; exponent < 0; ++exponent) {
    int remainder = 0;
    for (int place = 0; place < placeCount; ++place) {
      const int value = remainder * 10 + exact.digit[place];
      exact.digit[place] = static_cast<std::uint8_t>(value / 2);
      remainder = value % 2;
    }
  }
}

int firstNonZero(const ExactDecimal& exact) {
  int place = 0;
  while (place < placeCount && exact.digit[place] == 0) ++place;
  return place;
}

// Keeps the places before end, rounded to nearest, a tie to the even digit, as printf rounds.
void roundBefore(ExactDecimal& exact, int end) {
  if (end >= placeCount) return;
  bool up = exact.digit[end] > 5;
  if (exact.digit[end] == 5) {
    up = (exact.digit[end - 1] % 2) != 0;
    for (int place = end + 1; place < placeCount && !up; ++place) up = exact.digit[place] != 0;
  }
  std::memset(exact.digit + end, 0, static_cast<std::size_t>(placeCount - end));
  for (int place = end - 1; up && place >= 0; --place) {
    up = exact.digit[place] == 9;
    exact.digit[place] = up ? 0 : static_cast<std::uint8_t>(exact.digit[place] + 1);
  }
}

struct TextCursor {
  char* next;
};

void put(TextCursor& cursor, char c) { *cursor.next++ = c; }
void put(TextCursor& cursor, const char* text) {
  while (*text != '\0') put(cursor, *text++);
}

// The places first to last, with the point after the units; "0" before a point that would lead.
void putPlaces(TextCursor& cursor, const ExactDecimal& exact, int first, int last) {
  if (first > unitsPlace) first = unitsPlace;
  for (int place = first; place <= last; ++place) {
    put(cursor, static_cast<char>('0' + exact.digit[place]));
    if (place == unitsPlace && place < last) put(cursor, '.');
  }
}

// "%g" drops the zeros that end a fraction, and the point with them.
void dropTrailingZeros(TextCursor& cursor, const char* start) {
  if (std::memchr(start, '.', static_cast<std::size_t>(cursor.next - start)) == nullptr) return;
  while (cursor.next[-1] == '0') --cursor.next;
  if (cursor.next[-1] == '.') --cursor.next;
}

void putGeneral(TextCursor& cursor, ExactDecimal& exact) {
  constexpr int precision = 6;
  int first = firstNonZero(exact);
  if (first == placeCount) {
    put(cursor, '0');
    return;
  }
  roundBefore(exact, first + precision);
  first = firstNonZero(exact);  // a carry may have added a place
  const int exponent = unitsPlace - first;
  const char* const start = cursor.next;
  if (exponent >= -4 && exponent < precision) {
    putPlaces(cursor, exact, first, first + precision - 1);
    dropTrailingZeros(cursor, start);
    return;
  }
  for (int place = first; place < first + precision; ++place) {
    put(cursor, static_cast<char>('0' + exact.digit[place]));
    if (place == first) put(cursor, '.');
  }
  dropTrailingZeros(cursor, start);
  // Two digits, as printf gives at least: a float's exponents run from -45 to 38.
  const int size = exponent < 0 ? -exponent : exponent;
  put(cursor, exponent < 0 ? "e-" : "e+");
  put(cursor, static_cast<char>('0' + size / 10));
  put(cursor, static_cast<char>('0' + size % 10));
}

}  // namespace

bool readNumberText(const char* text, double& value) {
  while (isBlank(*text)) ++text;
  const std::size_t length = std::strlen(text);
  if (length >= numberTextCapacity) return false;
  const char* const end = text + length;

  // from_chars takes neither a plus sign nor the "0x" of hexadecimal, and takes a minus sign
  // strtod would not take there ("--1", "0x-1").
  const bool negative = *text == '-';
  if (isSign(*text)) ++text;
  std::chars_format format = std::chars_format::general;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
      (isHexDigit(text[2]) || (text[2] == '.' && isHexDigit(text[3])))) {
    format = std::chars_format::hex;
    text += 2;
  }
  if (isSign(*text)) return false;
  if (hasDoubledExponentSign(text, end, format == std::chars_format::hex ? 'p' : 'e')) {
    return false;
  }

  double number = 0.0;
  const auto [stop, error] = std::from_chars(text, end, number, format);
  if (stop != end) return false;
  if (error == std::errc::result_out_of_range) {
    number = outOfRange(text, end, format);
  } else if (error != std::errc{}) {
    return false;
  }
  value = negative ? -number : number;
  return true;
}

void writeNumberText(char (&text)[numberTextCapacity], float value, NumberStyle style) {
  // At most 47 characters: a sign, 39 digits, the point and 6 decimals.
  TextCursor cursor{text};
  if (std::isnan(value)) {
    put(cursor, "nan");
  } else {
    if (std::signbit(value)) put(cursor, '-');
    const float magnitude = std::fabs(value);
    if (std::isinf(magnitude)) {
      put(cursor, "inf");
    } else {
      ExactDecimal exact;
      setExact(exact, magnitude);
      if (style == NumberStyle::fixed) {
        constexpr int decimals = 6;
        roundBefore(exact, unitsPlace + 1 + decimals);
        putPlaces(cursor, exact, firstNonZero(exact), unitsPlace + decimals);
      } else {
        putGeneral(cursor, exact);
      }
    }
  }
  *cursor.next = '\0';
}
