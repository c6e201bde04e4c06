// The two player settings, read from vok.quillmarrowfendcask.ini beside the game executable.
#pragma once

#include <cstdint>

extern bool displayAccuracy;  // draw "Accuracy: N" above treated peds
extern float angleLeniency;   // degrees of barrel misalignment that the accuracy forgives

// Where each setting lives in the file, and the value it has when the file gives none it can use.
struct SettingName {
  const char* section;
  const char* key;
  const char* fallback;
};
inline constexpr SettingName displayAccuracyName{"Debug", "DisplayAccuracy", "true"};
inline constexpr SettingName angleName{"Settings", "Angle", "1.5"};

// How the settings were had, for the start-up log.
enum class SettingsSource {
  noPath,      // the game's path could not be had whole: nothing read or written
  read,        // read from the file
  created,     // no file: one was written with the values in memory
  notCreated,  // no file, and none could be written
  unreadable,  // a file that cannot be opened (held by another program, no read access): left
               // untouched, the values in memory kept
  notLoaded,   // a file that opens but cannot be loaded (too large, a folder): left untouched,
               // both values their defaults, as for a file that holds neither
  unicode,     // a file saved as UTF-16 ("Unicode" to Windows): not read, left untouched, both
               // values their defaults
};

// How the file was saved, from the mark at its start.
enum class FileEncoding {
  plain,          // no mark: UTF-8 or the system's ANSI code page, read byte for byte
  utf8Signature,  // UTF-8 with a byte order mark, which the library skips
  utf16,          // UTF-16 with a byte order mark, either byte order: a NUL after most letters
};

// Why a value read from the file is its default instead.
enum class SettingFallback { none, missing, empty, notYesNo, notNumber, tooLong };

constexpr std::uint32_t settingTextCapacity = 40;

struct SettingReading {
  SettingFallback fallback = SettingFallback::none;
  char text[settingTextCapacity] = {};  // the file's text that was not used whole, cut short
  bool textCut = false;                 // whether text is only the start of it
  std::uint8_t lettersUsed = 0;         // a yes/no taken from its first letters, more after them
  bool endsAtNul = false;  // a NUL byte ends the value in the file, and with it what is read
};

// A line the log points out: one that looks meant for a setting but is not read (a section or
// key spelt nearly as the setting's, or the key under another section), or the setting's own key
// given more than once (the last one counts); and, by its line number, a line that an editor
// shows otherwise than it is read.
enum class FileNoteKind {
  nearMiss,
  givenAgain,
  nulByte,           // a NUL byte outside the settings' values: nothing after it is read
  sectionNotRead,    // "\x07[Bell]": bytes that are not plain text before its "[", so it is no
                     // section line, and the lines under it count under the section before
  controlInSection,  // "[Bell\x07]": a control character in a section's name
};

constexpr std::uint32_t noteNameCapacity = 25;

struct FileNote {
  FileNoteKind kind = FileNoteKind::nearMiss;
  const SettingName* meant = nullptr;
  char section[noteNameCapacity] = {};  // as the file spells them, cut short
  char key[noteNameCapacity] = {};      // empty for a section line
  bool sectionCut = false;
  bool keyCut = false;
  std::uint32_t times = 0;  // how often a key was given
  bool strayBytes = false;  // the setting's own name with bytes that are not plain text in it
  std::uint32_t line = 0;   // for the notes on a line: its number, from 1
  // sectionNotRead: the line's text is in key, the section its lines count under in section,
  // unless that is one no lookup finds (after a "[" line without "]").
  bool sectionUnknown = false;
};

// The log has room for a few; the rest are only counted.
constexpr std::uint32_t fileNotesKept = 3;

// Whether the file was looked through for notes. Only a file read whole is.
enum class FileNotesSearch {
  done,
  fileTooLarge,  // above fileNotesSizeLimit: looking again would hold up the game's start
  failed,        // out of memory, or the file could not be loaded again: no notes
};

// Far beyond any file written by hand.
constexpr long fileNotesSizeLimit = 64L * 1024;

struct SettingsLoad {
  SettingsSource source = SettingsSource::noPath;
  SettingReading displayAccuracy;  // only when read
  SettingReading angle;
  FileNote notes[fileNotesKept];
  std::uint32_t noteCount = 0;  // every note found, kept or not
  FileNotesSearch notesSearch = FileNotesSearch::done;
  FileEncoding encoding = FileEncoding::plain;  // only when the file opened
};

SettingsLoad loadSettings();

constexpr std::uint32_t pathCapacity = 260;

// The path of a file beside the game's executable; false when it cannot be had whole.
bool composePathBesideGame(char (&path)[pathCapacity], const char* fileName);
