// The arc cosine of the barrel's cosine, correctly rounded and the same bits in every build.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>

// The small angles' path is here, inline: a barrel pointing within a few degrees of its target
// is the common case and the only one that can give a ped any accuracy. The rest, and the slow
// evaluation near a float midpoint, are in arc_cosine.cpp.
namespace arc_cosine {
// For a gap u = 1 - x below smallGap (every angle under about 5 degrees), acos(x) from
// S = sqrt(2u) and the first four terms of asin's series, as S + S u (b1 + u (b2 + u (b3 + u b4))):
// the fifth term is under 2^-50 of the whole.
constexpr double smallGap = 0x1p-8;
constexpr double bS1 = 1.0 / 6 / 2;
constexpr double bS2 = 3.0 / 40 / 4;
constexpr double bS3 = 15.0 / 336 / 8;
constexpr double bS4 = 105.0 / 3456 / 16;
constexpr float smallAngleCosine = static_cast<float>(1.0 - smallGap);

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

// The correctly rounded float next to a midpoint, from a double-double evaluation.
float nearMidpointValue(float cosine);
// roundedArcCosine for every cosine not in (smallAngleCosine, 1).
float otherValue(float cosine);
}  // namespace arc_cosine

// acos of a cosine in [0, 1], in radians, correctly rounded; NaN for anything else (the barrel's
// cosine is clamped to [0, 1] before it gets here).
inline float roundedArcCosine(float cosine) {
  using namespace arc_cosine;
  if (cosine > smallAngleCosine && cosine < 1.0f) [[likely]] {
    // 1 - x is exact for a float x in [0.5, 1]; S rounds once, and so does the sum: a few double
    // ulps, far inside nearMidpointUlps.
    const double u = 1.0 - static_cast<double>(cosine);
    const double s = std::sqrt(u + u);
    const double value = s + s * (u * (bS1 + u * (bS2 + u * (bS3 + u * bS4))));
    return nearMidpoint(value) ? nearMidpointValue(cosine) : static_cast<float>(value);
  }
  if (cosine == 1.0f) return 0.0f;  // straight at the target, and often so
  return otherValue(cosine);
}
