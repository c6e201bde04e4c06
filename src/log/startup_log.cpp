#include "log/startup_log.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "host/platform.h"
#include "plugin_version.h"
#include "settings/file_notes.h"
#include "settings/number_text.h"

namespace {

constexpr char logFileName[] = "vok.quillmarrowfendcask.log";

// Empty when there is no log this run: the first pass's line follows the start's or nothing.
char logPath[pathCapacity] = {};

// The log's text, built here before one write; it seldom needs more than a few hundred bytes.
struct LogText {
  char bytes[logTextCapacity];
  std::size_t length;
};

// A C variadic function, so that the compiler checks each format against its values: GCC and
// Clang do, others take the format as it is.
#if defined(__GNUC__)
#define PRINTF_STYLE(formatIndex, firstValueIndex) \
  __attribute__((format(printf, formatIndex, firstValueIndex)))
#else
#define PRINTF_STYLE(formatIndex, firstValueIndex)
#endif

PRINTF_STYLE(2, 3) void append(LogText& log, const char* format, ...) {
  if (log.length >= sizeof log.bytes) return;
  std::va_list values;
  va_start(values, format);
  const int written =
      std::vsnprintf(log.bytes + log.length, sizeof log.bytes - log.length, format, values);
  va_end(values);
  if (written < 0) return;
  log.length = std::min(sizeof log.bytes - 1, log.length + static_cast<std::size_t>(written));
}

// How a module's version reads, in the log and in the capture flavour's file alike.
#define MODULE_VERSION_FORMAT "%u.%u.%u.%u"
#define MODULE_VERSION_MISSING "not given"

void appendModuleVersion(LogText& log, const char* label, const char* moduleName) {
  char version[moduleVersionCapacity];
  moduleVersionText(moduleName, version);
  append(log, "%s version: %s\r\n", label, version);
}

// The file's text may hold any byte: one that is not plain text is shown as \xNN. At most
// capacity - 1 characters are shown, an escape never split; a text cut short ends in "...".
static_assert(noteNameCapacity <= settingTextCapacity);
void appendShown(LogText& log, const char* text, bool cut, std::uint32_t capacity) {
  char shown[settingTextCapacity];
  std::size_t length = 0;
  for (; *text != '\0'; ++text) {
    const bool plain = isPlainText(*text);
    if (length + (plain ? 1 : 4) >= capacity) {
      cut = true;
      break;
    }
    if (plain) {
      shown[length++] = *text;
    } else {
      std::snprintf(shown + length, sizeof shown - length, "\\x%02X",
                    unsigned{static_cast<unsigned char>(*text)});
      length += 4;
    }
  }
  shown[length] = '\0';
  append(log, "%s%s", shown, cut ? "..." : "");
}

// Between double quotes, or single ones when the text holds a double quote, so that each of the
// file's quotes is shown once.
void appendQuoted(LogText& log, const SettingReading& reading) {
  const char quote = std::strchr(reading.text, '"') != nullptr ? '\'' : '"';
  append(log, "%c", quote);
  appendShown(log, reading.text, reading.textCut, settingTextCapacity);
  append(log, "%c", quote);
}

// A NUL byte in the file ends the value, and with it all the library reads: an editor shows the
// rest of the line, and the lines after it, as if they counted.
#define VALUE_ENDS_AT_NUL " followed by a NUL byte, after which nothing is read"

// Why the file's value was not used, after the value in force.
void appendFallback(LogText& log, const SettingReading& reading, const char* fallback) {
  const char* const endsAtNul = reading.endsAtNul ? VALUE_ENDS_AT_NUL : "";
  switch (reading.fallback) {
    case SettingFallback::none:
      if (reading.lettersUsed > 0) {
        append(log, " (the file says ");
        appendQuoted(log, reading);
        append(log, "%s: only its first %s counted)", endsAtNul,
               reading.lettersUsed == 1 ? "letter" : "two letters");
      } else if (reading.endsAtNul) {
        append(log, " (in the file it is" VALUE_ENDS_AT_NUL ")");
      }
      break;
    case SettingFallback::missing:
      append(log, " (not in the file: the default %s)", fallback);
      break;
    case SettingFallback::empty:
      append(log, " (empty in the file%s%s: the default %s)", reading.endsAtNul ? "," : "",
             endsAtNul, fallback);
      break;
    case SettingFallback::notYesNo:
    case SettingFallback::notNumber:
    case SettingFallback::tooLong:
      append(log, " (the file says ");
      appendQuoted(log, reading);
      append(log, "%s%s %s: the default %s)", endsAtNul, reading.endsAtNul ? ";" : ",",
             reading.fallback == SettingFallback::notYesNo    ? "not a yes/no value"
             : reading.fallback == SettingFallback::notNumber ? "not a number"
                                                              : "64 characters or more",
             fallback);
      break;
  }
  append(log, "%s", "\r\n");
}

// As "%g" writes it in the C locale, as in the settings file. A negative leniency, -0 included,
// or one that is infinite or not a number forgives any misalignment: a player who sets one most
// likely wants the opposite, so the log says what it does.
void appendAngle(LogText& log, float angle) {
  char text[numberTextCapacity];
  writeNumberText(text, angle, NumberStyle::general);
  append(log, "Angle: %s", text);
  const char* what = std::isnan(angle)     ? "not a number"
                     : std::signbit(angle) ? "negative"
                     : std::isinf(angle)   ? "infinite"
                                           : nullptr;
  if (what != nullptr) {
    append(log, " (%s: every barrel counts as aligned, however far off it points)", what);
  } else if (angle > 30.0f) {
    append(log,
           " (above 30, the most the file's own text advises: a barrel 30 degrees off still "
           "hits)");
  }
}

// Where a note's line is: "[section] key", "[section]" or "key (before any section)".
void appendPlace(LogText& log, const FileNote& note) {
  if (note.section[0] != '\0' || note.key[0] == '\0') {
    append(log, "[");
    appendShown(log, note.section, note.sectionCut, noteNameCapacity);
    append(log, "]%s", note.key[0] != '\0' ? " " : "");
  }
  appendShown(log, note.key, note.keyCut, noteNameCapacity);
  if (note.section[0] == '\0' && note.key[0] != '\0') append(log, " (before any section)");
}

// "Angle followed by \xA0": the setting's own name, and the bytes that are not plain text that
// make the file's name another, where they stand.
void appendStrayBytes(LogText& log, const char* known, const char* name, bool cut) {
  char strays[noteNameCapacity];
  std::size_t count = 0;
  bool afterLetters = true;
  bool beforeLetters = true;
  bool letterSeen = false;
  for (const char* byte = name; *byte != '\0'; ++byte) {
    if (isPlainText(*byte)) {
      letterSeen = true;
      afterLetters = afterLetters && count == 0;
    } else {
      strays[count++] = *byte;
      beforeLetters = beforeLetters && !letterSeen;
    }
  }
  strays[count] = '\0';
  if (beforeLetters) {
    appendShown(log, strays, false, noteNameCapacity);
    append(log, " followed by %s", known);
  } else {
    append(log, afterLetters ? "%s followed by " : "%s with ", known);
    appendShown(log, strays, cut, noteNameCapacity);
    if (!afterLetters) append(log, " among its letters");
  }
}

// A line an editor shows otherwise than it is read, by its number.
void appendLineNote(LogText& log, const FileNote& note) {
  append(log, "Note: line %u", static_cast<unsigned>(note.line));
  switch (note.kind) {
    case FileNoteKind::nulByte:
      append(log, " holds a NUL byte, after which nothing is read\r\n");
      return;
    case FileNoteKind::controlInSection:
      append(log, ": [");
      appendShown(log, note.section, note.sectionCut, noteNameCapacity);
      append(log, "] has a control character in its name, which an editor may not show\r\n");
      return;
    case FileNoteKind::sectionNotRead:
      append(log, ": ");
      appendShown(log, note.key, note.keyCut, noteNameCapacity);
      append(log, " is no section line, as it does not start with [; the lines under it count ");
      if (note.sectionUnknown) {
        append(log, "under the section before\r\n");
      } else if (note.section[0] == '\0') {
        append(log, "as before any section\r\n");
      } else {
        append(log, "under [");
        appendShown(log, note.section, note.sectionCut, noteNameCapacity);
        append(log, "]\r\n");
      }
      return;
    case FileNoteKind::nearMiss:
    case FileNoteKind::givenAgain: break;
  }
}

void appendNote(LogText& log, const FileNote& note, const SettingsLoad& settings) {
  if (note.line > 0) {
    appendLineNote(log, note);
    return;
  }
  const SettingName& meant = *note.meant;
  append(log, "Note: ");
  if (note.kind == FileNoteKind::givenAgain) {
    append(log, "[%s] %s is given ", meant.section, meant.key);
    append(log, note.times == 2 ? "twice" : "%u times", static_cast<unsigned>(note.times));
    append(log, ", the last one counts\r\n");
    return;
  }
  appendPlace(log, note);
  append(log, ": ");
  const bool ownSection = sameNameIgnoringCase(note.section, meant.section);
  if (note.key[0] == '\0') {
    if (note.strayBytes) {
      appendStrayBytes(log, meant.section, note.section, note.sectionCut);
      append(log, ".");
    } else {
      append(log, "did you mean [%s]?", meant.section);
    }
  } else if (ownSection && note.strayBytes) {
    appendStrayBytes(log, meant.key, note.key, note.keyCut);
    append(log, ".");
  } else if (ownSection) {
    append(log, "did you mean %s?", meant.key);
  } else {
    append(log, "did you mean [%s] %s?", meant.section, meant.key);
  }
  const SettingReading& reading =
      note.meant == &displayAccuracyName ? settings.displayAccuracy : settings.angle;
  if (reading.fallback == SettingFallback::missing) {
    append(log, " Not read, so %s is the default %s\r\n", meant.key, meant.fallback);
  } else {
    append(log, " Not read\r\n");
  }
}

// Whether the file was looked through, and notes it has beyond those shown.
void appendNotesLeft(LogText& log, const SettingsLoad& settings, std::uint32_t shown) {
  switch (settings.notesSearch) {
    case FileNotesSearch::done: break;
    case FileNotesSearch::fileTooLarge:
      append(log, "Note: the file is over %ld KiB, so it was not looked through for slips\r\n",
             fileNotesSizeLimit / 1024);
      return;
    case FileNotesSearch::failed:
      append(log, "Note: the file could not be looked through for slips (out of memory?)\r\n");
      return;
  }
  if (settings.noteCount > shown) {
    append(log,
           "Note: %u more like these, shown once those above are mended (at the next start of "
           "the game or a save)\r\n",
           static_cast<unsigned>(settings.noteCount - shown));
  }
}

void writeLog(const LogText& log, const char* mode) {
  std::FILE* file = openBesideGame(logPath, mode);
  if (file == nullptr) return;
  std::fwrite(log.bytes, 1, log.length, file);
  std::fclose(file);
}

const char* sourceLine(const SettingsLoad& settings) {
  switch (settings.source) {
    case SettingsSource::read:
      return settings.encoding == FileEncoding::utf8Signature
                 ? "Settings: read from vok.quillmarrowfendcask.ini (saved as UTF-8 with a byte "
                   "order mark: read as UTF-8)"
                 : "Settings: read from vok.quillmarrowfendcask.ini";
    case SettingsSource::created:
      return "Settings: no vok.quillmarrowfendcask.ini yet, so it was created with these values";
    case SettingsSource::notCreated:
      return "Settings: no vok.quillmarrowfendcask.ini, and it could not be created (no write "
             "access?); these values are in use";
    case SettingsSource::unreadable:
      return "Settings: vok.quillmarrowfendcask.ini is there but cannot be read (open in "
             "another program?); left untouched, these values kept";
    case SettingsSource::notLoaded:
      return "Settings: vok.quillmarrowfendcask.ini is there but could not be read (too large, "
             "or not a file?); left untouched, both defaults apply";
    case SettingsSource::unicode:
      return "Settings: vok.quillmarrowfendcask.ini is saved as Unicode (UTF-16): not read; save "
             "it as UTF-8 or ANSI (left untouched, both defaults apply)";
    case SettingsSource::noPath: break;
  }
  return "";
}

}  // namespace

void writeStartupLog(const SettingsLoad& settings) {
  logPath[0] = '\0';
  if (settings.source == SettingsSource::noPath) return;
  if (!composePathBesideGame(logPath, logFileName)) {
    logPath[0] = '\0';
    return;
  }
  LogText log{};
  append(log, "%s %s\r\n", pluginName, pluginVersion);
  appendModuleVersion(log, "Game", nullptr);
  appendModuleVersion(log, "ScriptHookRDR2.dll", "ScriptHookRDR2.dll");
  if (opensByUnicodeName(logPath)) {
    append(log,
           "Folder: the game's folder has characters outside the system's code page: its files "
           "are opened by their Unicode names\r\n");
  }
  append(log, "%s\r\n", sourceLine(settings));
  append(log, "DisplayAccuracy: %s", displayAccuracy ? "true" : "false");
  appendFallback(log, settings.displayAccuracy, displayAccuracyName.fallback);
  appendAngle(log, angleLeniency);
  appendFallback(log, settings.angle, angleName.fallback);
  const std::uint32_t kept = std::min(settings.noteCount, fileNotesKept);
  for (std::uint32_t index = 0; index < kept; ++index) {
    appendNote(log, settings.notes[index], settings);
  }
  appendNotesLeft(log, settings, kept);
  writeLog(log, "wb");
}

void logFirstPass(std::int32_t found, std::int32_t treated) {
  char line[100];
  std::snprintf(line, sizeof line, "First pass: %d %s found near the player, %d given an accuracy",
                static_cast<int>(found), found == 1 ? "ped" : "peds", static_cast<int>(treated));
  appendLogLine(line);
}

void moduleVersionText(const char* moduleName, char (&text)[moduleVersionCapacity]) {
  std::uint16_t version[4] = {};
  if (moduleFileVersion(moduleName, version)) {
    std::snprintf(text, sizeof text, MODULE_VERSION_FORMAT, unsigned{version[0]},
                  unsigned{version[1]}, unsigned{version[2]}, unsigned{version[3]});
  } else {
    std::snprintf(text, sizeof text, MODULE_VERSION_MISSING);
  }
}

void appendLogLine(const char* line) {
  if (logPath[0] == '\0') return;
  LogText log{};
  append(log, "%s\r\n", line);
  writeLog(log, "ab");
}
