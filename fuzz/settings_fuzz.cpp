// Any bytes as the settings file -> loadSettings and the start-up log: the file is never changed,
// the two values follow the reading rules, checked against a small reading of our own (the
// defaults, true and 1.5, for a file the library could not load or one saved as UTF-16), and the
// log, whatever the file holds, is whole lines within its buffer.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_game.h"
#include "log/startup_log.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;

std::string settingsPath;
std::string logPath;

std::string_view trimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string lowered(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return result;
}

struct FileValues {
  std::optional<std::string> display;  // [Debug] DisplayAccuracy, the last one given
  std::optional<std::string> angle;    // [Settings] Angle, the last one given
};

// The file as the INI library reads it: reading stops at a NUL byte, a leading UTF-8 signature is
// skipped, lines end at CR, LF or CR LF, blanks around names and values are trimmed, names match
// without letter case, a line whose first non-blank is ';' or '#' is a comment, a line without
// '=' (or starting with it) is ignored, a later key wins, and a '[' line without ']' starts a
// section that no lookup finds. A '[' with nothing after it takes its name from the next line
// that has something on it, as the library skips line ends along with blanks there.
FileValues readLikeTheLibrary(std::string_view bytes) {
  bytes = bytes.substr(0, bytes.find('\0'));
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);

  std::size_t start = 0;
  const auto nextLine = [&](std::string_view& line) {
    if (start > bytes.size()) return false;
    std::size_t end = bytes.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = bytes.size();
    line = trimBlanks(bytes.substr(start, end - start));
    start = end + 1;
    return true;
  };

  FileValues values;
  std::optional<std::string> section = "";  // empty optional: a broken section line
  std::string_view line;
  while (nextLine(line)) {
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      std::string_view rest = trimBlanks(line.substr(1));
      while (rest.empty() && nextLine(rest)) {
      }
      const std::size_t close = rest.find(']');
      section.reset();
      if (close != std::string_view::npos) section = lowered(trimBlanks(rest.substr(0, close)));
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos || equals == 0) continue;
    const std::string key = lowered(trimBlanks(line.substr(0, equals)));
    const std::string_view value = trimBlanks(line.substr(equals + 1));
    if (section == "debug" && key == "displayaccuracy") values.display = value;
    if (section == "settings" && key == "angle") values.angle = value;
  }
  return values;
}

// Only the first one or two characters count; anything unrecognised is the default, true.
bool expectedDisplay(const std::optional<std::string>& value) {
  if (!value || value->empty()) return true;
  switch ((*value)[0]) {
    case '0':
    case 'f':
    case 'F':
    case 'n':
    case 'N': return false;
    case 'o':
    case 'O': return !(value->size() > 1 && ((*value)[1] == 'f' || (*value)[1] == 'F'));
    default: return true;
  }
}

// strtod over the whole value, which must fit 64 bytes with its NUL; otherwise the default 1.5.
float expectedAngle(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->size() >= 64) return 1.5f;
  char* end = nullptr;
  const double number = std::strtod(value->c_str(), &end);
  return *end == '\0' ? static_cast<float>(number) : 1.5f;
}

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

bool sameFloat(float a, float b) {
  return (a != a && b != b) || std::memcmp(&a, &b, sizeof a) == 0;  // NaN, or the same bits
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // A memory-backed folder when there is one: rewriting a file on disk thousands of times a
  // second waits on the disk.
  std::error_code noShm;
  const fs::path base =
      fs::is_directory("/dev/shm", noShm) ? "/dev/shm" : fs::temp_directory_path();
  std::string pattern = (base / "settings_fuzz_XXXXXX").string();
  fuzz::require(mkdtemp(pattern.data()) != nullptr, "a temporary game folder");
  sim::setExecutablePath(pattern + "/game.exe");
  settingsPath = pattern + "/vok.quillmarrowfendcask.ini";
  logPath = pattern + "/vok.quillmarrowfendcask.log";
  static const std::string folder = pattern;
  std::atexit([] {
    std::error_code ignored;
    fs::remove_all(folder, ignored);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  std::ofstream(settingsPath, std::ios::binary | std::ios::trunc) << bytes;
  displayAccuracy = false;
  angleLeniency = 3.0f;

  const SettingsLoad load = loadSettings();
  writeStartupLog(load);

  fuzz::require(fileBytes(settingsPath) == bytes, "the settings file keeps its bytes");
  // A file saved as UTF-16 is told by its byte order mark alone, and not read.
  const bool utf16 = bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF");
  fuzz::require(utf16 == (load.source == SettingsSource::unicode), "UTF-16 by its mark");
  const FileValues values =
      load.source == SettingsSource::notLoaded || utf16 ? FileValues{} : readLikeTheLibrary(bytes);
  fuzz::require(displayAccuracy == expectedDisplay(values.display), "DisplayAccuracy as read");
  fuzz::require(sameFloat(angleLeniency, expectedAngle(values.angle)), "Angle as read");
  // A log that filled its buffer was cut short.
  const std::string log = fileBytes(logPath);
  fuzz::require(log.size() < logTextCapacity - 1 && log.ends_with("\r\n"), "the log is whole");
  return 0;
}
