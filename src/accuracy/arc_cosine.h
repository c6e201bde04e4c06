// The arc cosine of the barrel's cosine, correctly rounded and the same bits in every build.
#pragma once

// acos of a cosine in [0, 1], in radians, correctly rounded; NaN for anything else (the barrel's
// cosine is clamped to [0, 1] before it gets here).
float roundedArcCosine(float cosine);
