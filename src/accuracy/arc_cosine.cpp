#include "accuracy/arc_cosine.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

// The arc cosine is evaluated in double precision (the classic rational approximation, or for
// small angles the first terms of a series), which rounds to the correctly rounded float unless
// the value lies next to the midpoint between two floats. There a slower evaluation in
// double-double arithmetic (about 100 bits) decides. Both use only IEEE 754 operations and sqrt,
// which every build rounds alike, so the native build, MinGW and MSVC give the same bits, and none
// calls the run-time's acosf (MinGW's takes the x87 unit's slowest path; glibc's is not correctly
// rounded).
namespace {
// For a gap u = 1 - x below smallAngleGap (every angle under about 5 degrees), acos(x) from
// S = sqrt(2u) and the first four terms of asin's series, as S + S u (c1 + u (c2 + u (c3 + u c4))):
// the fifth term is under 2^-50 of the whole.
constexpr double smallAngleGap = 0x1p-8;
constexpr double smallAngleSeries1 = 1.0 / 6 / 2;
constexpr double smallAngleSeries2 = 3.0 / 40 / 4;
constexpr double smallAngleSeries3 = 15.0 / 336 / 8;
constexpr double smallAngleSeries4 = 105.0 / 3456 / 16;
constexpr float smallAngleCosine = static_cast<float>(1.0 - smallAngleGap);

// A double's 29 mantissa bits beyond a float's: a float midpoint has them 1 and 28 zeros.
constexpr std::uint64_t bitsBeyondFloat = 0x1FFFFFFFu;
constexpr std::uint64_t floatMidpointBits = 0x10000000u;
// Double ulps around a float midpoint where a double-precision value cannot be trusted to round
// to the right float: far more than its error, rare enough to cost nothing.
constexpr std::uint64_t untrustedUlpsAroundMidpoint = 1u << 8;

// Within untrustedUlpsAroundMidpoint of a float midpoint, in one unsigned comparison (below the
// range the difference wraps to huge).
bool nearFloatMidpoint(double value) {
  const std::uint64_t beyond = std::bit_cast<std::uint64_t>(value) & bitsBeyondFloat;
  return beyond - (floatMidpointBits - untrustedUlpsAroundMidpoint) <
         2 * untrustedUlpsAroundMidpoint;
}

constexpr double halfPiHigh = 1.57079632679489655800e+00;
constexpr double halfPiLow = 6.12323399573676603587e-17;
// The classic rational approximation's coefficients: numerator (pS) and denominator (qS).
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

// (asin(sqrt(z)) - sqrt(z)) / sqrt(z) for z in [0, 0.25], as a rational function of z.
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
  // acos(x) = 2 asin(sqrt(z)), z = (1 - x) / 2, exact for a float x in [0.5, 1). The square
  // root and the sum round once each: a few double ulps, far inside untrustedUlpsAroundMidpoint.
  const double z = (1.0 - x) * 0.5;
  const double s = std::sqrt(z);
  return 2.0 * (s + s * asinRemainder(z));
}

// A value high + low with |low| at most half an ulp of high. The operations are Knuth's and
// Dekker's error-free transformations; they need plain double rounding, no fused multiply-add.
struct DoubleDouble {
  double high;
  double low;
};

DoubleDouble twoSum(double a, double b) {
  const double sum = a + b;
  const double bPart = sum - a;
  const double error = (a - (sum - bPart)) + (b - bPart);
  return {sum, error};
}

DoubleDouble quickTwoSum(double a, double b) {  // |a| >= |b|
  const double sum = a + b;
  return {sum, b - (sum - a)};
}

// a split into two halves of 26 bits each, whose products with other halves are exact.
DoubleDouble split(double a) {
  const double scaled = 134217729.0 * a;  // 2^27 + 1
  const double high = scaled - (scaled - a);
  return {high, a - high};
}

DoubleDouble twoProduct(double a, double b) {
  const double product = a * b;
  const DoubleDouble x = split(a);
  const DoubleDouble y = split(b);
  const double error =
      ((x.high * y.high - product) + x.high * y.low + x.low * y.high) + x.low * y.low;
  return {product, error};
}

DoubleDouble add(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble sum = twoSum(a.high, b.high);
  return quickTwoSum(sum.high, sum.low + (a.low + b.low));
}

DoubleDouble multiply(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble product = twoProduct(a.high, b.high);
  return quickTwoSum(product.high, product.low + (a.high * b.low + a.low * b.high));
}

DoubleDouble multiply(DoubleDouble a, double b) { return multiply(a, DoubleDouble{b, 0.0}); }

DoubleDouble divide(DoubleDouble a, double b) {
  const double quotient = a.high / b;
  const DoubleDouble back = twoProduct(quotient, b);
  const double rest = ((a.high - back.high) - back.low) + a.low;
  return quickTwoSum(quotient, rest / b);
}

// asin(sqrt(z)) / sqrt(z) = sum over n of (2n)! / (4^n n!^2 (2n + 1)) z^n, for z in [0, 0.25]:
// each term at most a quarter of the one before, so 56 terms pass 2^-110.
DoubleDouble asinQuotient(double z) {
  DoubleDouble power{1.0, 0.0};  // (2n)! / (4^n n!^2) z^n
  DoubleDouble sum{1.0, 0.0};
  for (int n = 1; n <= 56; ++n) {
    power = divide(multiply(multiply(power, z), 2.0 * n - 1.0), 2.0 * n);
    sum = add(sum, divide(power, 2.0 * n + 1.0));
  }
  return sum;
}

// acos(x) for x in [0, 1), to about 100 bits.
DoubleDouble preciseArcCosine(double x) {
  constexpr DoubleDouble halfPi{halfPiHigh, halfPiLow};
  if (x < 0.5) {
    // x * x of a float is exact in double.
    const DoubleDouble asin = multiply(asinQuotient(x * x), x);
    return add(halfPi, DoubleDouble{-asin.high, -asin.low});
  }
  // acos(x) = 2 asin(s), s = sqrt(z), z = (1 - x) / 2, exact for a float x in [0.5, 1).
  const double z = (1.0 - x) * 0.5;
  const double root = std::sqrt(z);
  const DoubleDouble square = twoProduct(root, root);
  const DoubleDouble s = quickTwoSum(root, ((z - square.high) - square.low) / (2.0 * root));
  const DoubleDouble asin = multiply(asinQuotient(z), s);
  return {2.0 * asin.high, 2.0 * asin.low};
}

// The float nearest value.high + value.low. Rounding value.high alone is right unless it is a
// float midpoint itself; then the sign of value.low says which way.
float roundToFloat(DoubleDouble value) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(value.high);
  if ((bits & bitsBeyondFloat) == floatMidpointBits && value.low != 0.0) {
    const std::uint64_t toward = value.low > 0.0 ? bits + 1 : bits - 1;  // value.high > 0
    return static_cast<float>(std::bit_cast<double>(toward));
  }
  return static_cast<float>(value.high);
}

// acos(cosine) for a cosine in (smallAngleCosine, 1), in double precision. 1 - x is exact for a
// float x in [0.5, 1]; S rounds once, and so does the sum: a few double ulps, far inside
// untrustedUlpsAroundMidpoint.
double smallAngleArcCosine(float cosine) {
  const double u = 1.0 - static_cast<double>(cosine);
  const double s = std::sqrt(u + u);
  return s + s * (u * (smallAngleSeries1 +
                       u * (smallAngleSeries2 + u * (smallAngleSeries3 + u * smallAngleSeries4))));
}

}  // namespace

float roundedArcCosine(float cosine) {
  if (cosine == 1.0f) return 0.0f;
  if (!(cosine >= 0.0f && cosine < 1.0f)) return std::numeric_limits<float>::quiet_NaN();
  const double value = cosine > smallAngleCosine ? smallAngleArcCosine(cosine) : arcCosine(cosine);
  if (nearFloatMidpoint(value)) return roundToFloat(preciseArcCosine(cosine));
  return static_cast<float>(value);
}
