// The arc cosine of the barrel's cosine.
#pragma once

// acos(cosine) in radians, correctly rounded to the nearest float, for a cosine in [0, 1] (-0
// included); NaN for anything else, NaN itself included. Worked out with IEEE 754 double
// operations and square roots alone, never the run-time's acosf, so that every build and
// processor gives the same bits.
float roundedArcCosine(float cosine);
