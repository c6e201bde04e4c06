// vok.quillmarrowfendcask.log beside the settings file: what a player posts with a question.
// Rewritten at every script start, never read; a write that fails is ignored.
#pragma once

#include <cstddef>
#include <cstdint>

#include "settings/settings.h"

// The plug-in's version, the game's and the host's, and how the settings were had.
void writeStartupLog(const SettingsLoad& settings);

// Room for those lines, the longest the settings file can give included.
constexpr std::size_t logTextCapacity = 2048;

// One more line after the first pass: peds found near the player, and how many got an accuracy.
void logFirstPass(std::int32_t found, std::int32_t treated);

// A module's file version (nullptr: the game's executable) as the log and the capture flavour's
// file give it, "1.0.1491.17", or "not given" when it has none.
constexpr std::size_t moduleVersionCapacity = 24;  // "65535.65535.65535.65535" and its NUL
void moduleVersionText(const char* moduleName, char (&text)[moduleVersionCapacity]);

// One more line at the log's end, for its news (the first pass's, the capture's); none when
// there is no log this run.
void appendLogLine(const char* line);
