// "Did you mean" for the scene reader: a typo is a few letters off a name it knows.
#include "scene_suggestions.h"

#include <algorithm>
#include <cctype>

#include "world.h"

namespace sim {

std::size_t editDistance(const std::string& a, const std::string& b) {
  std::vector<std::size_t> row(b.size() + 1);
  for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    std::size_t diagonal = row[0];
    row[0] = i;
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const bool same = std::tolower(static_cast<unsigned char>(a[i - 1])) ==
                        std::tolower(static_cast<unsigned char>(b[j - 1]));
      const std::size_t next = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = row[j];
      row[j] = next;
    }
  }
  return row[b.size()];
}

std::string suggestion(const std::string& given, const std::vector<std::string>& names) {
  const std::string* best = nullptr;
  std::size_t bestDistance = typoLetters + 1;
  for (const std::string& name : names) {
    const std::size_t distance = editDistance(given, name);
    if (distance < bestDistance) best = &name, bestDistance = distance;
  }
  return best == nullptr ? "" : " (did you mean " + *best + "?)";
}

std::vector<std::string> knownWeaponNames() {
  std::vector<std::string> names;
  for (const GameWeapon& row : gameWeaponRows()) names.emplace_back(row.weapon);
  return names;
}

std::vector<std::string> knownModelNames() {
  std::vector<std::string> names;
  for (const GameWeapon& row : gameWeaponRows()) names.emplace_back(row.model);
  return names;
}

}  // namespace sim
