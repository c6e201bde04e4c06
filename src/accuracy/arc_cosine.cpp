#include "accuracy/arc_cosine.h"

#include <bit>
#include <cmath>
#include <cstdint>

// MinGW's acosf computes atan2(sqrt(1 - x * x), x) on the x87 unit, whose fpatan takes some 80 ns,
// as long as the rest of a ped's arithmetic. Rounded once from 64-bit precision, its results are
// the correctly rounded ones. Here acos is evaluated in double precision (the classic rational
// approximation, error below one double ulp), which rounds to the same float unless the value
// lies next to the midpoint between two floats; there the run-time's acosf decides.
namespace {
constexpr double halfPiHigh = 1.57079632679489655800e+00;
constexpr double halfPiLow = 6.12323399573676603587e-17;
constexpr double pS0 = 1.66666666666666657415e-01;
constexpr double pS1 = -3.25565818622400915405e-01;
constexpr double pS2 = 2.01212532134862925881e-01;
constexpr double pS3 = -4.00555345006794114027e-02;
constexpr double pS4 = 7.91534994289814532176e-04;
constexpr double pS5 = 3.47933107596021167570e-05;
constexpr double qS1 = -2.40339491173441421878e+00;
constexpr double qS2 = 2.02094576023350569471e+00;
constexpr double qS3 = -6.88283971605453293030e-01;
constexpr double qS4 = 7.70381505559019352791e-02;

// (asin(sqrt(z)) - sqrt(z)) / sqrt(z)^3 for z in [0, 0.25], as a rational function of z.
double asinRemainder(double z) {
  const double p = z * (pS0 + z * (pS1 + z * (pS2 + z * (pS3 + z * (pS4 + z * pS5)))));
  const double q = 1.0 + z * (qS1 + z * (qS2 + z * (qS3 + z * qS4)));
  return p / q;
}

// acos(x) for x in [0, 1).
double arcCosine(double x) {
  if (x < 0.5) {
    const double r = asinRemainder(x * x);
    return halfPiHigh - (x - (halfPiLow - x * r));
  }
  // acos(x) = 2 asin(sqrt((1 - x) / 2)), the square root split so that its square is exact.
  const double z = (1.0 - x) * 0.5;
  const double s = std::sqrt(z);
  const double high = std::bit_cast<double>(std::bit_cast<std::uint64_t>(s) & ~0xFFFFFFFFull);
  const double correction = (z - high * high) / (s + high);
  return 2.0 * (high + (asinRemainder(z) * s + correction));
}

// Double ulps around a float midpoint where the rounding is left to the run-time: far more than
// the approximation's error, rare enough to cost nothing.
constexpr std::uint64_t nearMidpoint = 1u << 8;
}  // namespace

float roundedArcCosine(float cosine) {
  if (cosine == 1.0f) return 0.0f;  // a barrel pointing straight at the target, and often so
  if (!(cosine >= 0.0f && cosine < 1.0f)) return std::acos(cosine);
  const double value = arcCosine(cosine);
  // A double has 29 more mantissa bits than a float; a float midpoint has them 1 and 28 zeros.
  const std::uint64_t extra = std::bit_cast<std::uint64_t>(value) & 0x1FFFFFFFu;
  const std::uint64_t distance = extra > 0x10000000u ? extra - 0x10000000u : 0x10000000u - extra;
  if (distance < nearMidpoint) return std::acos(cosine);
  return static_cast<float>(value);
}
