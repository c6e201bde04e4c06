// The capture flavour's recorder: every native call in order, its slots and what came back, and
// the pass boundaries, into one fixed buffer written once to vok.quillmarrowfendcask.capture
// beside the game. Only the capture flavour (PLUGIN_CAPTURE) builds it; the calls it watches are
// made exactly as in the normal plug-in.
#pragma once

#include <cstddef>
#include <cstdint>

#include "capture/capture_format.h"

// [Capture] Passes from the settings file, or null when it has none: how many passes to record.
void setCapturePasses(const char* text);

// At script start, the settings read: begins recording (a later start ends it, the world being
// another one after a save load).
void startCapture();

// Before each scriptWait: a pass is complete; the file is written when enough are.
void capturePassEnd();

// At unload: the passes recorded so far are written, if not yet.
void finishCapture();

// One native call, around the host's init, pushes and call. Start answers whether the call is
// being recorded; the rest are then called in order.
bool captureCallStart(std::uint64_t hash, std::size_t slotCount, capture_format::AnswerKind answer);
void captureValue(std::uint32_t value);
void captureText(const char* text);
void captureOutput(const void* address, std::size_t size);
void captureCallEnd(const std::uint64_t* result);
