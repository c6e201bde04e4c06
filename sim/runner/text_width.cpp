// The cells of a terminal that text takes, from Unicode's East Asian Width and its combining
// marks, written out here so that both builds count alike, whatever the C library knows.
#include "text_width.h"

#include <algorithm>
#include <iterator>

#include "utf8.h"

namespace sim {

namespace {

struct Range {
  char32_t first;
  char32_t last;
};

// Characters that join the one before them: the blocks of combining marks (diacritics, for
// symbols, half marks), the kana and ideographic tone marks, Hangul's medial and final jamo,
// zero-width spaces, joiners and direction marks, variation selectors. Other scripts' own marks
// count one cell, which at worst leaves their row a cell off.
constexpr Range zeroWidth[] = {
    {0x0300, 0x036F}, {0x0483, 0x0489}, {0x1160, 0x11FF}, {0x1AB0, 0x1AFF},  {0x1DC0, 0x1DFF},
    {0x200B, 0x200F}, {0x2060, 0x2064}, {0x20D0, 0x20FF}, {0x302A, 0x302D},  {0x3099, 0x309A},
    {0xD7B0, 0xD7FF}, {0xFE00, 0xFE0F}, {0xFE20, 0xFE2F}, {0xE0100, 0xE01EF}};

// East Asian Width W and F as of Unicode 14, neighbouring ranges joined over unassigned code
// points; planes 2 and 3 are wide as a whole, as the standard has them.
constexpr Range wide[] = {
    {0x1100, 0x115F},   {0x231A, 0x231B},   {0x2329, 0x232A},   {0x23E9, 0x23EC},
    {0x23F0, 0x23F0},   {0x23F3, 0x23F3},   {0x25FD, 0x25FE},   {0x2614, 0x2615},
    {0x2648, 0x2653},   {0x267F, 0x267F},   {0x2693, 0x2693},   {0x26A1, 0x26A1},
    {0x26AA, 0x26AB},   {0x26BD, 0x26BE},   {0x26C4, 0x26C5},   {0x26CE, 0x26CE},
    {0x26D4, 0x26D4},   {0x26EA, 0x26EA},   {0x26F2, 0x26F3},   {0x26F5, 0x26F5},
    {0x26FA, 0x26FA},   {0x26FD, 0x26FD},   {0x2705, 0x2705},   {0x270A, 0x270B},
    {0x2728, 0x2728},   {0x274C, 0x274C},   {0x274E, 0x274E},   {0x2753, 0x2755},
    {0x2757, 0x2757},   {0x2795, 0x2797},   {0x27B0, 0x27B0},   {0x27BF, 0x27BF},
    {0x2B1B, 0x2B1C},   {0x2B50, 0x2B50},   {0x2B55, 0x2B55},   {0x2E80, 0x303E},
    {0x3041, 0x3247},   {0x3250, 0x4DBF},   {0x4E00, 0xA4C6},   {0xA960, 0xA97C},
    {0xAC00, 0xD7A3},   {0xF900, 0xFAD9},   {0xFE10, 0xFE19},   {0xFE30, 0xFE6B},
    {0xFF01, 0xFF60},   {0xFFE0, 0xFFE6},   {0x16FE0, 0x1B2FB}, {0x1F004, 0x1F004},
    {0x1F0CF, 0x1F0CF}, {0x1F18E, 0x1F18E}, {0x1F191, 0x1F19A}, {0x1F200, 0x1F320},
    {0x1F32D, 0x1F335}, {0x1F337, 0x1F37C}, {0x1F37E, 0x1F393}, {0x1F3A0, 0x1F3CA},
    {0x1F3CF, 0x1F3D3}, {0x1F3E0, 0x1F3F0}, {0x1F3F4, 0x1F3F4}, {0x1F3F8, 0x1F43E},
    {0x1F440, 0x1F440}, {0x1F442, 0x1F4FC}, {0x1F4FF, 0x1F53D}, {0x1F54B, 0x1F54E},
    {0x1F550, 0x1F567}, {0x1F57A, 0x1F57A}, {0x1F595, 0x1F596}, {0x1F5A4, 0x1F5A4},
    {0x1F5FB, 0x1F64F}, {0x1F680, 0x1F6C5}, {0x1F6CC, 0x1F6CC}, {0x1F6D0, 0x1F6D2},
    {0x1F6D5, 0x1F6DF}, {0x1F6EB, 0x1F6EC}, {0x1F6F4, 0x1F6FC}, {0x1F7E0, 0x1F7F0},
    {0x1F90C, 0x1F93A}, {0x1F93C, 0x1F945}, {0x1F947, 0x1F9FF}, {0x1FA70, 0x1FAF6},
    {0x20000, 0x3FFFD}};

template <std::size_t count>
bool within(const Range (&ranges)[count], char32_t code) {
  const Range* after =
      std::upper_bound(std::begin(ranges), std::end(ranges), code,
                       [](char32_t c, const Range& range) { return c < range.first; });
  return after != std::begin(ranges) && code <= (after - 1)->last;
}

}  // namespace

std::size_t displayWidth(std::string_view text) {
  std::size_t cells = 0;
  while (!text.empty()) {
    // Most names are ASCII, one cell a byte: no table is searched for them.
    if (static_cast<unsigned char>(text.front()) < 0x80) {
      ++cells;
      text.remove_prefix(1);
      continue;
    }
    char32_t code = 0;
    const std::size_t length = utf8Sequence(text, code);
    if (length == 0) {
      ++cells;
      text.remove_prefix(1);
      continue;
    }
    cells += within(zeroWidth, code) ? 0 : within(wide, code) ? 2 : 1;
    text.remove_prefix(length);
  }
  return cells;
}

std::string tableText(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::size_t> widths;
  for (const auto& row : rows) {
    widths.resize(std::max(widths.size(), row.size()), 0);
    for (std::size_t c = 0; c < row.size(); ++c) {
      widths[c] = std::max(widths[c], displayWidth(row[c]));
    }
  }
  std::string out;
  for (const auto& row : rows) {
    out += "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      out += row[c];
      if (c + 1 == row.size()) break;
      out.append(widths[c] - displayWidth(row[c]) + 2, ' ');
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    out += "\n";
  }
  return out;
}

}  // namespace sim
