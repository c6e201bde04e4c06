// The scene reader's first pass over the text: every line checked for what SimpleIni would
// pass over in silence, and the line of each section and key noted for the messages.
#include "scene_lines.h"

#include <cctype>
#include <vector>

namespace sim {

bool sameName(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) !=
        std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}
bool sameName(const std::string& a, const std::string& b) { return sameName(a.c_str(), b.c_str()); }

std::string lowerCase(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return "";
  return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

std::string joined(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (const std::string_view part : parts) out += part;
  return out;
}

std::string indexLines(const std::string& text, LineIndex& index) {
  std::vector<std::string_view> lines;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text.data() + start, end - start);
    start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
  }
  std::string section;
  bool inSection = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string at = lineText(static_cast<int>(i) + 1);
    const std::string line = trimmed(lines[i]);
    if (line.find('\0') != std::string::npos) return at + "a NUL byte: a scene is text";
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      if (close == std::string::npos) return at + line + ": the section name has no closing ]";
      section = trimmed(std::string_view(line).substr(1, close - 1));
      if (section.empty()) return at + line + ": a section needs a name";
      const auto [first, added] = index.emplace(lowerCase(section), static_cast<int>(i) + 1);
      if (!added) {
        return joined({at, "[", section, "] is given twice, first on line ",
                       std::to_string(first->second), ": give each section once"});
      }
      inSection = true;
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) return at + line + ": no '=' (a line is key = value)";
    const std::string key = trimmed(std::string_view(line).substr(0, equals));
    if (key.empty()) return at + line + ": no key before the '='";
    if (!inSection) return at + line + ": before the first [section]";
    const auto [first, added] =
        index.emplace(lowerCase(section) + '\n' + lowerCase(key), static_cast<int>(i) + 1);
    if (!added) {
      return joined({at, "[", section, "] ", key, " is given twice, first on line ",
                     std::to_string(first->second), ": give each key once"});
    }
    const std::string value = trimmed(std::string_view(line).substr(equals + 1));
    if (value.compare(0, 3, "<<<") != 0) continue;
    // The block ends at a line that is its tag, in any letter case, trailing blanks aside.
    const std::string tag = lowerCase(value.substr(3));
    std::size_t end = i + 1;
    while (end < lines.size()) {
      const std::string_view candidate = lines[end];
      const std::size_t last = candidate.find_last_not_of(" \t");
      if (lowerCase(std::string(candidate.substr(0, last + 1))) == tag) break;
      ++end;
    }
    if (end == lines.size()) {
      return joined({at, "[", section, "] ", key, " = ", value, ": no line ", value.substr(3),
                     " ends the block (it would take in the rest of the scene)"});
    }
    i = end;
  }
  return "";
}

// "12: " for a key's line, or for its section's line when the scene does not give the key.
int lineNumber(const LineIndex& lines, const std::string& section, const std::string& key) {
  auto found = lines.find(lowerCase(section) + '\n' + lowerCase(key));
  if (found == lines.end()) found = lines.find(lowerCase(section));
  return found == lines.end() ? 0 : found->second;
}
std::string lineOf(const LineIndex& lines, const std::string& section, const std::string& key) {
  const int line = lineNumber(lines, section, key);
  return line == 0 ? "" : lineText(line);
}

}  // namespace sim
