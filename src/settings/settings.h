// The two player settings, read from vok.quillmarrowfendcask.ini beside the game executable.
#pragma once

#include <cstdint>

extern bool displayAccuracy;  // draw "Accuracy: N" above treated peds
extern float angleLeniency;   // degrees of barrel misalignment that the accuracy forgives

// How the settings were had, for the start-up log.
enum class SettingsSource {
  noPath,      // the game's path could not be had whole: nothing read or written
  read,        // read from the file
  created,     // no file: one was written with the values in memory
  notCreated,  // no file, and none could be written
  unreadable,  // a file that cannot be read: left untouched, the values in memory kept
};

// Why a value read from the file is its default instead.
enum class SettingFallback { none, missing, empty, notYesNo, notNumber, tooLong };

constexpr std::uint32_t settingTextCapacity = 40;

struct SettingReading {
  SettingFallback fallback = SettingFallback::none;
  char text[settingTextCapacity] = {};  // the file's text that was not used, cut short
  bool textCut = false;                 // whether text is only the start of it
};

struct SettingsLoad {
  SettingsSource source = SettingsSource::noPath;
  SettingReading displayAccuracy;  // only when read
  SettingReading angle;
};

SettingsLoad loadSettings();

constexpr std::uint32_t pathCapacity = 260;

// The path of a file beside the game's executable; false when it cannot be had whole.
bool composePathBesideGame(char (&path)[pathCapacity], const char* fileName);
