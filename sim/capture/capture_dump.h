// A capture as text, for a person reading what the game answered: game-sim --dump.
#pragma once

#include <cstdio>

#include "capture.h"

namespace sim {

// Prints the opened capture to `out` a pass at a time: a head with the versions, the settings and
// the passes wanted, then each pass and its calls, a call a line (the native by its name where
// the game knows it, the slots and the answer), then how the recording ended or where the file
// is cut. False when the capture turns out unreadable on the way: reader.error() says why.
bool dumpCapture(CaptureReader& reader, std::FILE* out);

}  // namespace sim
