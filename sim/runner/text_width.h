// How wide a text stands in a terminal, so that the report's columns line up whatever the names.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The cells a terminal gives UTF-8 text: two for a wide East Asian character (Unicode's East Asian
// Width W or F), none for a combining mark or a zero-width character, one for any other, and one
// for each byte that is not well-formed UTF-8.
std::size_t displayWidth(std::string_view text);

// The rows as lines of a table under one another, each indented by two, each column padded to
// its widest cell as a terminal shows it, no line ending in spaces.
std::string tableText(const std::vector<std::vector<std::string>>& rows);

}  // namespace sim
