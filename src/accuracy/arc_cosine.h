// The arc cosine of the barrel's cosine, as fast as the run-time allows and with its bits.
#pragma once

// acos of a cosine in [0, 1], in radians, the same bits as std::acos(float) of the Windows
// build's run-time (correctly rounded). Elsewhere use std::acos: other run-times round otherwise.
float roundedArcCosine(float cosine);
