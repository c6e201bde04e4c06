// One ped's accuracy from how well its gun barrel points at its target.
#pragma once

#include "host/native.h"

// Sets the ped's accuracy in the game and returns it (0..100), or returns -1 when the ped is not
// treated in this pass and nothing was set on it.
std::int32_t computeShooterAccuracy(Entity ped);
