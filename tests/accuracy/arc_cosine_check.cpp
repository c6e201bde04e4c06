// arc-cosine-check: roundedArcCosine against the correctly rounded arc cosine, for every
// STRIDE-th float of [0, 1] (default 61; 1 checks all 1 065 353 217 of them), every float of the
// last 2^16 below 1, and the cosines whose arc cosine lies nearest a rounding midpoint. Built
// natively and with MinGW: both builds must pass, so they agree bit for bit. The MinGW build also
// compares with its run-time's acosf, which the plug-in's DLL matched before it had its own.
#include <quadmath.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>

#include "accuracy/arc_cosine.h"

namespace {

// acosl (64-bit precision) rounded to float, unless it lies within 2^-50 of a float midpoint;
// there quadruple precision decides. `undecided` counts values too close for both.
long quadrupleDecided = 0;
long undecided = 0;

float correctlyRounded(float x) {
  const long double wide = acosl(static_cast<long double>(x));
  const float nearest = static_cast<float>(wide);
  if (wide == nearest) return nearest;
  const float neighbour = std::nextafter(nearest, wide > nearest ? 4.0f : 0.0f);
  const long double midpoint = (static_cast<long double>(nearest) + neighbour) / 2;
  if (std::fabs(wide - midpoint) > std::ldexp(midpoint, -50)) return nearest;
  ++quadrupleDecided;
  const __float128 quad = acosq(static_cast<__float128>(x));
  const __float128 quadMidpoint = static_cast<__float128>(midpoint);
  const __float128 gap = quad > quadMidpoint ? quad - quadMidpoint : quadMidpoint - quad;
  if (gap < quadMidpoint * static_cast<__float128>(0x1p-100)) ++undecided;
  return static_cast<float>(quad);
}

}  // namespace

int main(int argc, char** argv) {
  const long stride = argc > 1 ? std::atol(argv[1]) : 61;
  if (stride < 1) return 2;
  const std::uint32_t one = std::bit_cast<std::uint32_t>(1.0f);
  long checked = 0;
  long wrong = 0;
  long runTimeDiffers = 0;
  const auto check = [&](std::uint32_t bits) {
    const float x = std::bit_cast<float>(bits);
    const float expected = correctlyRounded(x);
    const float result = roundedArcCosine(x);
    ++checked;
    if (std::bit_cast<std::uint32_t>(expected) != std::bit_cast<std::uint32_t>(result) &&
        ++wrong <= 10) {
      std::printf("acos(%a): correctly rounded %a, roundedArcCosine %a\n", x, expected, result);
    }
#if defined(__MINGW32__)
    const float runTime = std::acos(x);
    if (std::bit_cast<std::uint32_t>(runTime) != std::bit_cast<std::uint32_t>(result) &&
        ++runTimeDiffers <= 10) {
      std::printf("acos(%a): acosf %a, roundedArcCosine %a\n", x, runTime, result);
    }
#endif
  };
  for (std::uint64_t bits = 0; bits <= one; bits += static_cast<std::uint64_t>(stride)) {
    check(static_cast<std::uint32_t>(bits));
  }
  for (std::uint32_t bits = one - 65536; bits <= one; ++bits) check(bits);
  for (const float hard : {0x1.110b46p-26f, 0x1.04c444p-12f}) {
    check(std::bit_cast<std::uint32_t>(hard));
  }
  std::printf("%ld floats checked: %ld not correctly rounded", checked, wrong);
#if defined(__MINGW32__)
  std::printf(", %ld differ from the run-time's acosf", runTimeDiffers);
#endif
  std::printf("; %ld decided in quadruple precision, %ld too close to call\n", quadrupleDecided,
              undecided);
  return wrong == 0 && runTimeDiffers == 0 && undecided == 0 ? 0 : 1;
}
