#include "settings/settings.h"

#include <SimpleIni.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/capture_hooks.h"
#include "host/platform.h"
#include "settings/file_notes.h"
#include "settings/number_text.h"

bool displayAccuracy = false;
float angleLeniency = 3.0f;

namespace {

using SettingsIni = CSimpleIniTempl<char, SI_NoCase<char>, SI_ConvertA<char>>;

constexpr char settingsFileName[] = "vok.quillmarrowfendcask.ini";
#ifdef _WIN32
constexpr char pathSeparator = '\\';
#else
constexpr char pathSeparator = '/';  // the native build runs where paths use slashes
#endif

constexpr char angleExplanation[] =
    "; The alignment of the gun barrel with the target determines overall accuracy.\n"
    "; At an angle of 0, the gun is perfectly aligned with the target, but this might cause "
    "pedestrians to miss frequently due to slight misalignments or imperfections in the animation "
    "system.\n"
    "; Adjusting the angle leniency accounts for these discrepancies. Increasing this value will "
    "increase the pedestrian's accuracy, while decreasing it will have the opposite effect.\n"
    "; I recommend you set this between 1.5 to 3.0 (Min 0, Max 30).\n";

// A value as strtod reads it in the C locale, or why it cannot be used. The value and its NUL
// must fit in 64 bytes, as in the library's own number lookup.
SettingFallback readNumber(const char* value, double& number) {
  if (value == nullptr) return SettingFallback::missing;
  if (*value == '\0') return SettingFallback::empty;
  if (std::strlen(value) >= numberTextCapacity) return SettingFallback::tooLong;
  return readNumberText(value, number) ? SettingFallback::none : SettingFallback::notNumber;
}

// Yes/no as the library reads it, from the first letters: 1, t(rue), y(es), on; 0, f(alse),
// n(o), of(f). Anything else is no yes/no value.
SettingFallback readYesNo(const char* value, bool& result) {
  if (value == nullptr) return SettingFallback::missing;
  if (*value == '\0') return SettingFallback::empty;
  switch (value[0]) {
    case 't':
    case 'T':
    case 'y':
    case 'Y':
    case '1': result = true; return SettingFallback::none;
    case 'f':
    case 'F':
    case 'n':
    case 'N':
    case '0': result = false; return SettingFallback::none;
    case 'o':
    case 'O':
      if (value[1] == 'n' || value[1] == 'N') {
        result = true;
        return SettingFallback::none;
      }
      if (value[1] == 'f' || value[1] == 'F') {
        result = false;
        return SettingFallback::none;
      }
      break;
    default: break;
  }
  return SettingFallback::notYesNo;
}

// How many first letters of a yes/no value were read, when text follows them that is not the
// rest of a whole yes/no word: "false ; hide labels" and "nonsense" are read as false.
std::uint8_t lettersUsedOf(const char* value) {
  const std::uint8_t used = (value[0] == 'o' || value[0] == 'O') ? 2 : 1;
  if (std::strlen(value) <= used) return 0;
  for (const char* word : {"true", "false", "yes", "no", "on", "off"}) {
    if (sameNameIgnoringCase(value, word)) return 0;
  }
  return used;
}

// Keeps the start of a text that was not used whole, for the log.
void keepText(SettingReading& reading, const char* value) {
  if ((reading.fallback == SettingFallback::none && reading.lettersUsed == 0) || value == nullptr) {
    return;
  }
  std::size_t length = 0;
  for (; value[length] != '\0' && length + 1 < sizeof reading.text; ++length) {
    reading.text[length] = value[length];
  }
  reading.text[length] = '\0';
  reading.textCut = value[length] != '\0';
}

// The file's two values, or their defaults where it has none that can be used.
void readValues(const SettingsIni& ini, SettingsLoad& load) {
  load.source = SettingsSource::read;
  const char* display = ini.GetValue(displayAccuracyName.section, displayAccuracyName.key, nullptr);
  bool yes = true;
  load.displayAccuracy.fallback = readYesNo(display, yes);
  if (load.displayAccuracy.fallback == SettingFallback::none) {
    load.displayAccuracy.lettersUsed = lettersUsedOf(display);
  }
  keepText(load.displayAccuracy, display);
  displayAccuracy = yes;  // the default, true, unless the file says otherwise

  const char* angle = ini.GetValue(angleName.section, angleName.key, nullptr);
  double number = 1.5;
  load.angle.fallback = readNumber(angle, number);
  keepText(load.angle, angle);
  angleLeniency = static_cast<float>(load.angle.fallback == SettingFallback::none ? number : 1.5);
  captureSettingsRead(ini);
}

// The library ends lines with "\n" outside Windows; the file is the same CR LF text everywhere,
// while the line breaks inside the explanation stay single LF bytes.
struct CrLfWriter : SettingsIni::OutputWriter {
  std::FILE* file;
  explicit CrLfWriter(std::FILE* target) : file(target) {}
  void Write(const char* text) override {
    std::fputs(std::strcmp(text, SI_NEWLINE_A) == 0 ? "\r\n" : text, file);
  }
};

}  // namespace

// The files sit beside the game executable. False when that path cannot be had whole: then the
// files are left alone and the values in memory stay.
bool composePathBesideGame(char (&path)[pathCapacity], const char* fileName) {
  const std::uint32_t length = executablePath(path, pathCapacity);
  if (length == 0 || length >= pathCapacity) return false;  // failed, or the path was cut short
  const char* separator = std::strrchr(path, pathSeparator);
  if (separator == nullptr) return false;
  const std::size_t directoryLength = static_cast<std::size_t>(separator - path) + 1;
  const std::size_t nameSize = std::strlen(fileName) + 1;
  if (directoryLength + nameSize > pathCapacity) return false;
  std::memcpy(path + directoryLength, fileName, nameSize);
  return true;
}

SettingsLoad loadSettings() {
  SettingsLoad load;
  captureSettingsDefaults();  // unless the file is read and says otherwise
  char path[pathCapacity];
  if (!composePathBesideGame(path, settingsFileName)) return load;

  SettingsIni ini;
  ini.SetUnicode(false);

  // A file that opens for reading is only ever read. It stays open, read-only and shared with
  // everyone, until the values are read.
  errno = 0;
  std::FILE* const presence = openBesideGame(path, "r");
  if (presence == nullptr) {
    // Only a file that is not there may be created: one we cannot open (locked, no read access)
    // still holds the player's settings and must survive. ENOENT means absent in glibc, in
    // msvcrt.dll (which MinGW builds use) and in MSVC's run-time alike.
    if (errno != ENOENT) {
      load.source = SettingsSource::unreadable;
      return load;
    }
    ini.SetBoolValue("Debug", "DisplayAccuracy", displayAccuracy);
    char angle[numberTextCapacity];
    writeNumberText(angle, angleLeniency, NumberStyle::fixed);
    ini.SetValue("Settings", "Angle", angle);
    ini.SetValue("Settings", "; Angle Explanation:", angleExplanation);
    load.source = SettingsSource::notCreated;
    if (std::FILE* file = openBesideGame(path, "wb")) {
#ifdef _WIN32
      ini.SaveFile(file);
#else
      CrLfWriter writer(file);
      ini.Save(writer);
#endif
      if (std::fclose(file) == 0) load.source = SettingsSource::created;
    }
    return load;
  }

  // One that opened but cannot be loaded (too large to hold, a folder) leaves the library empty:
  // both lookups give their defaults, and the file stays as it is. So does one saved as UTF-16,
  // which the library would take for narrow text with a NUL after most letters.
  load.encoding = fileEncoding(presence);
  std::FILE* const file =
      load.encoding == FileEncoding::utf16 ? nullptr : openBesideGame(path, "rb");
  const bool loaded = file != nullptr && ini.LoadFile(file) == SI_OK;
  if (file != nullptr) std::fclose(file);
  if (!loaded) {
    load.source =
        load.encoding == FileEncoding::utf16 ? SettingsSource::unicode : SettingsSource::notLoaded;
    displayAccuracy = true;
    angleLeniency = 1.5f;
  } else {
    readValues(ini, load);
    ini.Reset();  // the file's text is held once at a time
  }
  std::fclose(presence);
  if (loaded) noteFileLines(path, load);
  return load;
}
