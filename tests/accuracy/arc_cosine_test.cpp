#include "accuracy/arc_cosine.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>

namespace {

// The correctly rounded arc cosine, from the x87 unit's 64-bit precision.
float roundedReference(float x) { return static_cast<float>(acosl(static_cast<long double>(x))); }

bool sameBits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

// Every 389th float of [0, 1], every float of the last 2^16 below 1, where acos is steepest, and
// the two cosines whose arc cosines lie nearest a rounding midpoint in double precision.
TEST(ArcCosineTest, CorrectlyRounded) {
  const auto check = [](std::uint32_t bits) {
    const float x = std::bit_cast<float>(bits);
    const float result = roundedArcCosine(x);
    EXPECT_TRUE(sameBits(result, roundedReference(x))) << std::hexfloat << x << " gives " << result;
  };
  const std::uint32_t one = std::bit_cast<std::uint32_t>(1.0f);
  for (std::uint32_t bits = 0; bits < one; bits += 389) check(bits);
  for (std::uint32_t bits = one - 65536; bits <= one; ++bits) check(bits);
  for (const float hard : {0x1.110b46p-26f, 0x1.04c444p-12f})
    check(std::bit_cast<std::uint32_t>(hard));
}

TEST(ArcCosineTest, EndsAndValuesOutsideTheCosineRange) {
  EXPECT_TRUE(sameBits(roundedArcCosine(1.0f), 0.0f));
  EXPECT_TRUE(sameBits(roundedArcCosine(0.0f), roundedReference(0.0f)));
  EXPECT_TRUE(sameBits(roundedArcCosine(-0.0f), roundedReference(0.0f)));
  EXPECT_TRUE(sameBits(roundedArcCosine(0.5f), roundedReference(0.5f)));
  EXPECT_TRUE(sameBits(roundedArcCosine(std::nextafter(0.5f, 0.0f)),
                       roundedReference(std::nextafter(0.5f, 0.0f))));
  EXPECT_TRUE(sameBits(roundedArcCosine(std::numeric_limits<float>::denorm_min()),
                       roundedReference(std::numeric_limits<float>::denorm_min())));
  EXPECT_TRUE(std::isnan(roundedArcCosine(std::nanf(""))));
  EXPECT_TRUE(std::isnan(roundedArcCosine(1.5f)));
  EXPECT_TRUE(std::isnan(roundedArcCosine(-0.25f)));
  EXPECT_TRUE(std::isnan(roundedArcCosine(-1.0f)));
}

}  // namespace
