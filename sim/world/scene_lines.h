// How the scene reader finds its way in the text: names compared in any letter case, and where
// each section and key stands, so that every mistake is named with its line.
#pragma once

#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Whether two names are the same in any letter case.
bool sameName(const char* a, const char* b);
bool sameName(const std::string& a, const std::string& b);
std::string lowerCase(std::string text);
// The text without the blanks and tabs around it.
std::string trimmed(std::string_view text);

// Where each section ("name") and key ("name\nkey") stands in the text, in lower case; lines
// count from 1.
using LineIndex = std::map<std::string, int>;

inline std::string lineText(int line) { return std::to_string(line) + ": "; }
std::string joined(std::initializer_list<std::string_view> parts);

// A section given twice is read a second time under the name of its copy, its own name and the
// line of its second header joined by a control character, which no scene's text holds; so the
// copy's mistakes are named too, and what it gives is used nowhere.
constexpr char copyMark = '\x1F';
std::string copyName(const std::string& section, int line);
// The name as the scene writes it, for the copy as for the section itself.
std::string shownName(const std::string& section);
bool isCopy(const std::string& section);

// SimpleIni skips a line it cannot read, merges a section or key given twice, and lets a "<<<"
// block without its end line swallow the rest of the text. Such a scene is refused here, with
// its line, before SimpleIni reads it; what is left both read alike (a section given twice as two,
// its copy renamed).
// Empty when every line is fine, else what is wrong with each line that is not; the lines in utf8
// are those without a mistake, so that the values of the rest can be checked too. A line that is
// not UTF-8 is read as Windows-1252, with a warning; utf8 gets the text as UTF-8, the lines of a
// "<<<" block (a file's bytes) as they are. A control character is an error.
std::vector<std::string> indexLines(const std::string& text, LineIndex& index, std::string& utf8,
                                    std::vector<std::string>* warnings);

// The line of a key, or of its section when the scene does not give the key.
int lineNumber(const LineIndex& lines, const std::string& section, const std::string& key);
// The same as "12: ", to start a message with.
std::string lineOf(const LineIndex& lines, const std::string& section, const std::string& key);

}  // namespace sim
