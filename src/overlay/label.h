// The debug label "Accuracy: N" drawn one metre above a treated ped.
#pragma once

#include <cstdint>

#include "host/native.h"

void drawAccuracyLabel(const Vector3& position, std::int32_t accuracy);

// Draws a NUL-terminated text at a screen position given as fractions of the screen.
std::uint64_t drawScreenText(const char* text, float screenX, float screenY);
