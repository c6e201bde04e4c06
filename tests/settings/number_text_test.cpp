#include "settings/number_text.h"

#include <gtest/gtest.h>
#include <locale.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

namespace {

// The C library in the C locale is the reference, whatever locale an earlier test left behind.
struct CLocale {
  locale_t c = newlocale(LC_ALL_MASK, "C", nullptr);
  ~CLocale() { freelocale(c); }
};

TEST(NumberTextTest, ReadsWhatStrtodReadsInTheCLocale) {
  const CLocale locale;
  ASSERT_NE(locale.c, nullptr);
  const std::string texts[] = {
      " \t\n\v\f\r7.25", "2.5", "-4", "+2.5", "-0", ".5", "5.", ".", "", " ", "1e1", "1E+1", "1e-1",
      "1e", "1e+", "2.5deg", "3,5", "3\u066B5", "--1", "+-1", "-+1", "- 1", "1 ", "0x1p3",
      "0X1.8P1", "-0x.8p1", "0x1", "0x", "0x.p1", "0xg", "0x-1", "0x+1", "0xinf", "0x1p", "inf",
      "-INFINITY", "infinit", "infx", "nan", "-NaN", "nan(abc_9)", "nan(", "nan()", "nan(a b)",
      "1e-400", "-1e-400", "1e400", "-1e400", "0x1p-1100", "0x1p2000", "1e-320", "4.9e-324",
      "0e99999",
      // Far beyond a double's range, at its ends, and one that needs every digit.
      "-0x1.fffffffffffffp1023", "2.4703282292062328e-324",
      "0.000000000000000000000000000000000000000000001e-280", "123456789012345678901234567890e300",
      "1e99999999999999999999", "1e-99999999999999999999", "00000000000000000002.5",
      "9007199254740993", "0.1000000000000000055511151231257827021181583404541015625",
      // An exponent takes one sign at most: a second one ends the number before the marker.
      "0x5p+-3", "0x1p+-0", "-0x5p+-3", "0x5p+-3000", "0X1.8P+-1", "0x5p-+3", "0x5p--3", "0x1p++1",
      "1e+-3", "1E-+3", "1e--3", "1e++3", "0x5p+3", "1e+3"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    char* end = nullptr;
    const double expected = strtod_l(text.c_str(), &end, locale.c);
    const bool whole = end != text.c_str() && *end == '\0';
    double value = -7.0;
    ASSERT_EQ(readNumberText(text.c_str(), value), whole);
    if (!whole) continue;
    if (std::isnan(expected)) {
      EXPECT_TRUE(std::isnan(value));
    } else {
      EXPECT_EQ(std::bit_cast<std::uint64_t>(value), std::bit_cast<std::uint64_t>(expected));
    }
  }
  // 64 characters are no number, as the library's own number lookup has it.
  double value = 0.0;
  EXPECT_TRUE(readNumberText(std::string(63, '1').c_str(), value));
  EXPECT_FALSE(readNumberText(std::string(64, '1').c_str(), value));
}

// Every 524,287th float of all 2^32 and the edges: each as printf writes it in the C locale.
TEST(NumberTextTest, WritesWhatPrintfWritesInTheCLocale) {
  const CLocale locale;
  ASSERT_NE(locale.c, nullptr);
  const locale_t previous = uselocale(locale.c);
  const auto check = [](float value) {
    for (const NumberStyle style : {NumberStyle::fixed, NumberStyle::general}) {
      char expected[numberTextCapacity];
      std::snprintf(expected, sizeof expected, style == NumberStyle::fixed ? "%f" : "%g",
                    static_cast<double>(std::isnan(value) ? std::fabs(value) : value));
      char text[numberTextCapacity];
      writeNumberText(text, value, style);
      EXPECT_STREQ(text, expected) << std::hexfloat << value;
    }
  };
  for (std::uint64_t bits = 0; bits <= 0xFFFFFFFF; bits += 524287) {
    check(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
  }
  const float infinity = std::numeric_limits<float>::infinity();
  // Ties go to the even digit: 0.0078125 and 123456.5; 999999.5 carries into a new place.
  for (const float value : {0.0f,
                            -0.0f,
                            3.0f,
                            0.1f,
                            2.5f,
                            0.0078125f,
                            123456.5f,
                            999999.5f,
                            9.9999997e-5f,
                            0.0001f,
                            1e-5f,
                            100000.0f,
                            1e6f,
                            1e30f,
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::max(),
                            std::numeric_limits<float>::denorm_min(),
                            std::numeric_limits<float>::min(),
                            -1e-10f,
                            infinity,
                            -infinity}) {
    check(value);
  }
  char text[numberTextCapacity];
  writeNumberText(text, -std::numeric_limits<float>::quiet_NaN(), NumberStyle::general);
  EXPECT_STREQ(text, "nan");
  uselocale(previous);
}

}  // namespace
