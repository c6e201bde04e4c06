// The scene reader's first pass over the text: every line checked for what SimpleIni would
// pass over in silence, and the line of each section and key noted for the messages.
#include "scene_lines.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <vector>

#include "utf8.h"

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

namespace {

// What a Windows editor's ANSI code page writes for 0x80 to 0x9F; the five bytes it leaves
// undefined stand for the control characters of the same number, as Windows reads them.
constexpr char16_t windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

void appendUtf8(std::string& out, char32_t code) {
  if (code < 0x80) {
    out += static_cast<char>(code);
  } else if (code < 0x800) {
    out += static_cast<char>(0xC0 | code >> 6);
    out += static_cast<char>(0x80 | (code & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | code >> 12);
    out += static_cast<char>(0x80 | (code >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (code & 0x3F));
  }
}

// The code points of well-formed UTF-8, or false.
bool decodeUtf8(std::string_view text, std::vector<char32_t>& codes) {
  codes.clear();
  while (!text.empty()) {
    char32_t code = 0;
    const std::size_t length = utf8Sequence(text, code);
    if (length == 0) return false;
    codes.push_back(code);
    text.remove_prefix(length);
  }
  return true;
}

// Windows-1252 text as UTF-8, with its code points.
std::string fromWindows1252(std::string_view text, std::vector<char32_t>& codes) {
  std::string out;
  codes.clear();
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    const char32_t code = byte >= 0x80 && byte < 0xA0 ? windows1252High[byte - 0x80] : byte;
    codes.push_back(code);
    appendUtf8(out, code);
  }
  return out;
}

// The first control character (tabs aside), or 0 for none: JSON and XML take none of them as
// they are, and no name or value needs one.
char32_t controlCharacter(const std::vector<char32_t>& codes) {
  for (const char32_t code : codes) {
    if ((code < 0x20 && code != '\t') || (code >= 0x7F && code < 0xA0)) return code;
  }
  return 0;
}

std::string codePoint(char32_t code) {
  char text[16];
  std::snprintf(text, sizeof text, "U+%04X", static_cast<unsigned>(code));
  return text;
}

}  // namespace

std::vector<std::string> indexLines(const std::string& text, LineIndex& index, std::string& utf8,
                                    std::vector<std::string>* warnings) {
  std::vector<std::string> errors;
  const auto fail = [&errors](std::string what) { errors.push_back(std::move(what)); };
  std::vector<std::string_view> lines;
  std::vector<std::string_view> endings;
  for (std::size_t start = 0; start < text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    lines.emplace_back(text.data() + start, end - start);
    const std::size_t next =
        std::min(text.size(), end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1));
    endings.emplace_back(text.data() + end, next - end);
    start = next;
  }
  utf8.clear();
  std::string section;
  // Keys under a section header that is itself a mistake are passed over: they would only repeat
  // it. A section given twice is no such mistake: its copy is read under a name of its own.
  enum class Under { noSection, section, badSection } under = Under::noSection;
  std::vector<char32_t> codes;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string at = lineText(static_cast<int>(i) + 1);
    if (lines[i].find('\0') != std::string::npos) {
      fail(at + "a NUL byte: a scene is text");
      continue;
    }
    std::string converted(lines[i]);
    const bool utf8Line = decodeUtf8(lines[i], codes);
    if (!utf8Line) converted = fromWindows1252(lines[i], codes);
    if (const char32_t control = controlCharacter(codes)) {
      fail(at + "a control character (" + codePoint(control) +
           "): a scene is text, and names and values are printable");
      continue;
    }
    if (!utf8Line && warnings != nullptr) {
      warnings->push_back(at +
                          "not UTF-8, so read as Windows-1252 (what a Windows editor saves): " +
                          trimmed(converted));
    }
    // Only lines without a mistake reach SimpleIni: the values of the rest are read as written.
    const auto keep = [&] {
      utf8 += converted;
      utf8 += endings[i];
    };
    const std::string line = trimmed(converted);
    if (line.empty() || line[0] == ';' || line[0] == '#') {
      keep();
      continue;
    }
    if (line[0] == '[') {
      const std::size_t close = line.find(']');
      under = Under::badSection;
      if (close == std::string::npos) {
        fail(at + line + ": the section name has no closing ]");
        continue;
      }
      section = trimmed(std::string_view(line).substr(1, close - 1));
      if (section.empty()) {
        fail(at + line + ": a section needs a name");
        continue;
      }
      const auto [first, added] = index.emplace(lowerCase(section), static_cast<int>(i) + 1);
      under = Under::section;
      if (added) {
        keep();
        continue;
      }
      fail(joined({at, "[", section, "] is given twice, first on line ",
                   std::to_string(first->second), ": give each section once"}));
      // The copy is read under a name of its own, so that its keys are checked too.
      section = copyName(section, static_cast<int>(i) + 1);
      index.emplace(lowerCase(section), static_cast<int>(i) + 1);
      utf8 += "[" + section + "]";
      utf8 += endings[i];
      continue;
    }
    const std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      fail(at + line + ": no '=' (a line is key = value)");
      continue;
    }
    const std::string key = trimmed(std::string_view(line).substr(0, equals));
    if (key.empty()) {
      fail(at + line + ": no key before the '='");
      continue;
    }
    // A key under no section, or a section that is a mistake, is not indexed; its block, if it
    // starts one, is still passed over whole.
    bool indexed = false;
    if (under == Under::noSection) {
      fail(at + line + ": before the first [section]");
    } else if (under == Under::section) {
      const auto [first, added] =
          index.emplace(lowerCase(section) + '\n' + lowerCase(key), static_cast<int>(i) + 1);
      indexed = added;
      if (added) keep();
      if (!added) {
        fail(joined({at, "[", shownName(section), "] ", key, " is given twice, first on line ",
                     std::to_string(first->second), ": give each key once"}));
      }
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
      // The rest is the block's text, not the scene's: it has nothing more to name.
      if (indexed) {
        fail(joined({at, "[", shownName(section), "] ", key, " = ", value, ": no line ",
                     value.substr(3), " ends the block (it would take in the rest of the scene)"}));
      }
      break;
    }
    // The block is a file's bytes, for the plug-in to read as they are.
    for (++i; i <= end; ++i) {
      if (!indexed) continue;
      utf8 += lines[i];
      utf8 += endings[i];
    }
    i = end;
  }
  return errors;
}

std::string copyName(const std::string& section, int line) {
  return section + copyMark + std::to_string(line);
}

std::string shownName(const std::string& section) {
  return section.substr(0, section.find(copyMark));
}

bool isCopy(const std::string& section) { return section.find(copyMark) != std::string::npos; }

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
