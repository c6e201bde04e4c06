// Reading an expectation file line by line, and the head of the one a replay writes.
#include "replay_expectation.h"

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "files.h"
#include "replay_world.h"

namespace sim {

namespace {

bool readNumber(std::string_view& text, std::int64_t& value) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  const auto [end, fault] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (fault != std::errc{}) return false;
  text.remove_prefix(static_cast<std::size_t>(end - text.data()));
  return true;
}

bool readWord(std::string_view& text, std::string_view word) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (text.substr(0, word.size()) != word) return false;
  text.remove_prefix(word.size());
  return true;
}

}  // namespace

std::string parseExpectation(const std::string& bytes, Expectation& expectation) {
  std::size_t number = 0;
  for (std::size_t at = 0; at < bytes.size();) {
    std::size_t end = bytes.find('\n', at);
    if (end == std::string::npos) end = bytes.size();
    std::string_view line(bytes.data() + at, end - at);
    at = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::int64_t pass = 0;
    std::int64_t ped = 0;
    bool read = readWord(line, "pass") && readNumber(line, pass) && pass > 0 &&
                readWord(line, "ped") && readNumber(line, ped) && ped >= INT32_MIN &&
                ped <= INT32_MAX && readWord(line, ":");
    auto& values = expectation[static_cast<std::uint64_t>(pass)];
    for (bool first = true; read && (first || readWord(line, ",")); first = false) {
      std::int64_t value = 0;
      read = readNumber(line, value) && value >= INT32_MIN && value <= INT32_MAX;
      if (read) values.emplace_back(static_cast<Entity>(ped), static_cast<std::int32_t>(value));
    }
    if (!read || !line.empty()) {
      return "line " + std::to_string(number) +
             " is not \"pass N ped HANDLE: ACCURACY\" (with \", ACCURACY\" for each further one)";
    }
  }
  return "";
}

std::string readExpectation(const std::string& path, bool missingIsEmpty, std::string& bytes) {
  errno = 0;
  std::FILE* file = openFile(path, "rb");
  if (file == nullptr) {
    if (errno == ENOENT && missingIsEmpty) return "";
    return std::strerror(errno);
  }
  char piece[1 << 14];
  std::size_t read = 0;
  while ((read = std::fread(piece, 1, sizeof piece, file)) > 0) bytes.append(piece, read);
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  return failed ? "cannot be read" : "";
}

std::string expectationFile(const ReplayRecord& record) {
  std::string base = record.name;
  if (const std::size_t slash = base.find_last_of("/\\"); slash != std::string::npos) {
    base.erase(0, slash + 1);
  }
  return "# The accuracies today's plug-in sets in a replay of " + base +
         ": a line per pass and ped (the\n"
         "# handle the game gave it), each accuracy set on it in that pass. A replay given this "
         "file\n"
         "# with --expect fails (status 1) where today's differ; --accept writes them anew.\n" +
         record.expectationText;
}

}  // namespace sim
