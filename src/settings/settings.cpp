#include "settings/settings.h"

#include <SimpleIni.h>

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "host/platform.h"

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

// Only a file that is not there may be created: one we cannot read (locked, no read access)
// still holds the player's settings and must survive.
bool settingsFileAbsent(const char* path) {
  errno = 0;
  if (std::FILE* file = std::fopen(path, "rb")) {
    std::fclose(file);
    return false;
  }
  // ENOENT means absent, not unreadable, in glibc, in msvcrt.dll (which MinGW builds use) and in
  // MSVC's run-time alike.
  return errno == ENOENT;
}

// The value and its NUL must fit in 64 bytes, as in the library's own number lookup.
constexpr std::size_t numberCapacity = 64;

// A value as strtod reads it in the C locale, or why it cannot be used.
SettingFallback readNumber(const char* value, double& number) {
  if (value == nullptr || *value == '\0') return SettingFallback::missing;
  char text[numberCapacity];
  const std::size_t length = std::strlen(value);
  if (length >= sizeof text) return SettingFallback::tooLong;
  std::memcpy(text, value, length + 1);
  swapDecimalPoint(text);
  char* end = nullptr;
  const double converted = std::strtod(text, &end);
  if (end == nullptr || *end != '\0') return SettingFallback::notNumber;
  number = converted;
  return SettingFallback::none;
}

// Yes/no as the library reads it, from the first letters: 1, t(rue), y(es), on; 0, f(alse),
// n(o), of(f). Anything else is no yes/no value.
SettingFallback readYesNo(const char* value, bool& result) {
  if (value == nullptr || *value == '\0') return SettingFallback::missing;
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

// Keeps the start of a text that was not used, for the log.
void keepText(SettingReading& reading, const char* value) {
  if (reading.fallback == SettingFallback::none || value == nullptr) return;
  std::size_t length = 0;
  for (; value[length] != '\0' && length + 1 < sizeof reading.text; ++length) {
    reading.text[length] = value[length];
  }
  reading.text[length] = '\0';
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

// The file's numbers use "." whatever number locale the process has: the C library's strtod and
// "%f" follow the process-wide locale, which any other module in the game may set. Trading "."
// for the locale's own decimal point, and back, keeps that locale as we found it.
void swapDecimalPoint(char* text) {
  const char* point = std::localeconv()->decimal_point;
  if (point == nullptr || point[0] == '\0' || point[1] != '\0' || point[0] == '.') return;
  for (; *text != '\0'; ++text) {
    if (*text == '.') {
      *text = point[0];
    } else if (*text == point[0]) {
      *text = '.';
    }
  }
}

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
  char path[pathCapacity];
  if (!composePathBesideGame(path, settingsFileName)) return load;

  SettingsIni ini;
  ini.SetUnicode(false);

  // A file that opens for reading is only ever read; the stream stays open until we return.
  std::ifstream presence(path, std::ios::in);
  if (!presence.good()) {
    if (!settingsFileAbsent(path)) {
      load.source = SettingsSource::unreadable;
      return load;
    }
    ini.SetBoolValue("Debug", "DisplayAccuracy", displayAccuracy);
    char angle[numberCapacity];
    std::snprintf(angle, sizeof angle, "%f", static_cast<double>(angleLeniency));
    swapDecimalPoint(angle);
    ini.SetValue("Settings", "Angle", angle);
    ini.SetValue("Settings", "; Angle Explanation:", angleExplanation);
    load.source = SettingsSource::notCreated;
#ifdef _WIN32
    if (ini.SaveFile(path) == SI_OK) load.source = SettingsSource::created;
#else
    if (std::FILE* file = std::fopen(path, "wb")) {
      CrLfWriter writer(file);
      ini.Save(writer);
      if (std::fclose(file) == 0) load.source = SettingsSource::created;
    }
#endif
    return load;
  }

  ini.LoadFile(path);
  load.source = SettingsSource::read;
  const char* display = ini.GetValue("Debug", "DisplayAccuracy", nullptr);
  bool yes = true;
  load.displayAccuracy.fallback = readYesNo(display, yes);
  keepText(load.displayAccuracy, display);
  displayAccuracy = yes;  // the default, true, unless the file says otherwise

  const char* angle = ini.GetValue("Settings", "Angle", nullptr);
  double number = 1.5;
  load.angle.fallback = readNumber(angle, number);
  keepText(load.angle, angle);
  angleLeniency = static_cast<float>(load.angle.fallback == SettingFallback::none ? number : 1.5);
  return load;
}
