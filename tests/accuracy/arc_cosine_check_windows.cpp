// arc-cosine-check.exe: roundedArcCosine against the MinGW run-time's own acosf, whose bits the
// shipped plug-in must keep. Checks every STRIDE-th float of [0, 1] (default 61; 1 checks all
// 1 065 353 217 of them, about two minutes under Wine) and every float of the last 2^16 below 1.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "accuracy/arc_cosine.h"

int main(int argc, char** argv) {
  const long stride = argc > 1 ? std::atol(argv[1]) : 61;
  if (stride < 1) return 2;
  const std::uint32_t one = std::bit_cast<std::uint32_t>(1.0f);
  long checked = 0;
  long differ = 0;
  const auto check = [&](std::uint32_t bits) {
    const float x = std::bit_cast<float>(bits);
    const float expected = std::acos(x);
    const float result = roundedArcCosine(x);
    ++checked;
    if (std::bit_cast<std::uint32_t>(expected) == std::bit_cast<std::uint32_t>(result)) return;
    if (++differ <= 10)
      std::printf("acos(%a): acosf %a, roundedArcCosine %a\n", x, expected, result);
  };
  for (std::uint64_t bits = 0; bits <= one; bits += static_cast<std::uint64_t>(stride)) {
    check(static_cast<std::uint32_t>(bits));
  }
  for (std::uint32_t bits = one - 65536; bits <= one; ++bits) check(bits);
  std::printf("%ld of %ld floats differ from the run-time's acosf\n", differ, checked);
  return differ == 0 ? 0 : 1;
}
