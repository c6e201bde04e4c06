// The arc cosine of the barrel's cosine, correctly rounded and the same bits in every build.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// The small angles' path is here, inline: a barrel pointing within a few degrees of its target
// is the common case and the only one that can give a ped any accuracy. The rest, and the slow
// evaluation near a float midpoint, are in arc_cosine.cpp.
namespace arc_cosine {
// Below smallZ, (asin(sqrt(z)) - sqrt(z)) / sqrt(z) from the first five terms of its series in z,
// the sixth under 2^-53 of the whole: every angle under about 7 degrees lands here.
constexpr double smallZ = 0x1p-8;
constexpr double aS1 = 1.0 / 6;
constexpr double aS2 = 3.0 / 40;
constexpr double aS3 = 15.0 / 336;
constexpr double aS4 = 105.0 / 3456;
constexpr double aS5 = 945.0 / 42240;
// The cosine above which (1 - x) / 2 lies below smallZ.
constexpr float smallAngleCosine = static_cast<float>(1.0 - 2.0 * smallZ);

// A double's 29 mantissa bits beyond a float's: a float midpoint has them 1 and 28 zeros.
constexpr std::uint64_t extraBits = 0x1FFFFFFFu;
constexpr std::uint64_t midpointBits = 0x10000000u;
// Double ulps around a float midpoint where the double-precision value cannot be trusted to
// round: far more than its error, rare enough to cost nothing.
constexpr std::uint64_t nearMidpointUlps = 1u << 8;

// Within nearMidpointUlps of a midpoint, in one unsigned comparison (below it wraps to huge).
inline bool nearMidpoint(double value) {
  const std::uint64_t extra = std::bit_cast<std::uint64_t>(value) & extraBits;
  return extra - (midpointBits - nearMidpointUlps) < 2 * nearMidpointUlps;
}

// acos(x) = 2 asin(sqrt(z)), z = (1 - x) / 2, exact for a float x in [0.5, 1), from
// remainder = (asin(sqrt(z)) - sqrt(z)) / sqrt(z). The square root and the sum round once each:
// a few double ulps, far inside nearMidpointUlps.
inline double fromHalfGap(double z, double remainder) {
  const double s = std::sqrt(z);
  return 2.0 * (s + s * remainder);
}

// The correctly rounded float next to a midpoint, from a double-double evaluation.
float nearMidpointValue(float cosine);
// roundedArcCosine for every cosine not in (smallAngleCosine, 1).
float otherValue(float cosine);
}  // namespace arc_cosine

// acos of a cosine in [0, 1], in radians, correctly rounded; NaN for anything else (the barrel's
// cosine is clamped to [0, 1] before it gets here).
inline float roundedArcCosine(float cosine) {
  using namespace arc_cosine;
  if (!(cosine > smallAngleCosine && cosine < 1.0f)) return otherValue(cosine);
  const double z = (1.0 - static_cast<double>(cosine)) * 0.5;
  const double value = fromHalfGap(z, z * (aS1 + z * (aS2 + z * (aS3 + z * (aS4 + z * aS5)))));
  return nearMidpoint(value) ? nearMidpointValue(cosine) : static_cast<float>(value);
}
