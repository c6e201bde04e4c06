// "Did you mean": the known name a misspelt one in a scene is closest to, for its key, its
// section, its target and the weapons and models the simulated game knows.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

// More letters off than this is another name, not a typo.
constexpr std::size_t typoLetters = 2;

// Letters to change, add or drop to turn one name into the other, in any letter case.
std::size_t editDistance(const std::string& a, const std::string& b);

// " (did you mean X?)" for the known name a typo is closest to, if one is close enough; else "".
std::string suggestion(const std::string& given, const std::vector<std::string>& names);

// The weapons and weapon models the simulated game knows (sim/world/game_weapons.cpp).
std::vector<std::string> knownWeaponNames();
std::vector<std::string> knownModelNames();

}  // namespace sim
