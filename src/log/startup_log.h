// vok.quillmarrowfendcask.log beside the settings file: what a player posts with a question.
// Rewritten at every script start, never read; a write that fails is ignored.
#pragma once

#include <cstdint>

#include "settings/settings.h"

// The plug-in's version, the game's and the host's, and how the settings were had.
void writeStartupLog(const SettingsLoad& settings);

// One more line after the first pass: peds found near the player, and how many got an accuracy.
void logFirstPass(std::int32_t found, std::int32_t treated);
