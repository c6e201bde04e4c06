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

constexpr std::uint32_t pathCapacity = 260;
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

// The file sits beside the game executable. False when that path cannot be had whole: then the
// file is left alone and the values in memory stay.
bool composeSettingsPath(char (&path)[pathCapacity]) {
  const std::uint32_t length = executablePath(path, pathCapacity);
  if (length == 0 || length >= pathCapacity) return false;  // failed, or the path was cut short
  const char* separator = std::strrchr(path, pathSeparator);
  if (separator == nullptr) return false;
  const std::size_t directoryLength = static_cast<std::size_t>(separator - path) + 1;
  if (directoryLength + sizeof settingsFileName > pathCapacity) return false;
  std::memcpy(path + directoryLength, settingsFileName, sizeof settingsFileName);
  return true;
}

// Only a file that is not there may be created: one we cannot read (locked, no read access)
// still holds the player's settings and must survive.
bool settingsFileAbsent(const char* path) {
  errno = 0;
  if (std::FILE* file = std::fopen(path, "rb")) {
    std::fclose(file);
    return false;
  }
  return errno == ENOENT;  // absent, not unreadable: so in glibc, msvcrt.dll (MinGW's) and MSVC's C
}

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

// The value and its NUL must fit in 64 bytes, as in the library's own number lookup.
constexpr std::size_t numberCapacity = 64;

// A non-empty value as strtod reads it in the C locale; false when it is too long or strtod
// leaves part of it unread.
bool readNumber(const char* value, double& number) {
  char text[numberCapacity];
  const std::size_t length = std::strlen(value);
  if (length >= sizeof text) return false;
  std::memcpy(text, value, length + 1);
  swapDecimalPoint(text);
  char* end = nullptr;
  const double converted = std::strtod(text, &end);
  if (end == nullptr || *end != '\0') return false;
  number = converted;
  return true;
}

// A non-empty number value: what strtod makes of it, else the default.
double numberValue(const SettingsIni& ini, const char* section, const char* key, double fallback) {
  const char* value = ini.GetValue(section, key, nullptr);
  double number = fallback;
  if (value == nullptr || *value == '\0' || !readNumber(value, number)) return fallback;
  return number;
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

void loadSettings() {
  char path[pathCapacity];
  if (!composeSettingsPath(path)) return;

  SettingsIni ini;
  ini.SetUnicode(false);

  // A file that opens for reading is only ever read; the stream stays open until we return.
  std::ifstream presence(path, std::ios::in);
  if (!presence.good()) {
    if (!settingsFileAbsent(path)) return;
    ini.SetBoolValue("Debug", "DisplayAccuracy", displayAccuracy);
    char angle[numberCapacity];
    std::snprintf(angle, sizeof angle, "%f", static_cast<double>(angleLeniency));
    swapDecimalPoint(angle);
    ini.SetValue("Settings", "Angle", angle);
    ini.SetValue("Settings", "; Angle Explanation:", angleExplanation);
#ifdef _WIN32
    ini.SaveFile(path);
#else
    if (std::FILE* file = std::fopen(path, "wb")) {
      CrLfWriter writer(file);
      ini.Save(writer);
      std::fclose(file);
    }
#endif
    return;
  }

  ini.LoadFile(path);
  displayAccuracy = ini.GetBoolValue("Debug", "DisplayAccuracy", true);
  angleLeniency = static_cast<float>(numberValue(ini, "Settings", "Angle", 1.5));
}
