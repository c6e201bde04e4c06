// The scene reader's checks: values as strtod and the world read them, each mistake in the words
// a person wrote the line in, and the messages put in the order of their lines.
#include "scene_checks.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>

#include "scene_suggestions.h"

namespace sim {

namespace {

bool parseBool(const char* text, bool& value) {
  static const char* const yes[] = {"true", "yes", "on", "1"};
  static const char* const no[] = {"false", "no", "off", "0"};
  for (const char* word : yes) {
    if (sameName(text, word)) return value = true, true;
  }
  for (const char* word : no) {
    if (sameName(text, word)) return value = false, true;
  }
  return false;
}

bool parseNumber(const char* text, double& value) {
  char* end = nullptr;
  errno = 0;
  value = std::strtod(text, &end);
  return end != text && *end == '\0' && errno == 0;
}

// As IEEE rounding does it, without the undefined behaviour of converting a double beyond the
// float range: from half a unit past the largest float on, the value is an infinity.
float toFloat(double value) {
  constexpr double overflow = 0x1.ffffffp127;
  if (std::fabs(value) >= overflow) return static_cast<float>(std::copysign(HUGE_VAL, value));
  return static_cast<float>(value);
}

// Three numbers as strtod reads them, past the float range included.
bool parseParts(const char* text, double (&parts)[3]) {
  const char* cursor = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    parts[i] = std::strtod(cursor, &end);
    if (end == cursor) return false;
    cursor = end;
    while (*cursor == ' ') ++cursor;
    if (i < 2 && *cursor++ != ',') return false;
  }
  return *cursor == '\0';
}

bool parseVector(const char* text, Vector3& value) {
  double parts[3];
  if (!parseParts(text, parts)) return false;
  value = {toFloat(parts[0]), toFloat(parts[1]), toFloat(parts[2])};
  return true;
}

// "0 to 180", as a person writes the bounds.
std::string rangeText(double low, double high) {
  char text[64];
  std::snprintf(text, sizeof text, "%.15g to %.15g", low, high);
  return text;
}

}  // namespace

std::string SectionReader::said(const char* key) const {
  const char* value = ini.GetValue(section, key);
  std::string out = lineOf(lines, section, key) + "[" + shownName(section) + "] " + key;
  if (value != nullptr && std::strchr(value, '\n') == nullptr) out += " = " + std::string(value);
  return out;
}

void SectionReader::fail(const char* key, const std::string& what) {
  if (failedKeys.insert(lowerCase(key)).second) errors.push_back(said(key) + ": " + what);
}

void SectionReader::warn(const char* key, const std::string& what) const {
  warnings.push_back(said(key) + ": " + what);
}

void SectionReader::text(const char* key, std::string& value) const {
  if (const char* found = ini.GetValue(section, key)) value = found;
}

void SectionReader::flag(const char* key, bool& value) {
  const char* found = ini.GetValue(section, key);
  if (found != nullptr && !parseBool(found, value)) fail(key, "expected true or false");
}

void SectionReader::number(const char* key, double& value) {
  const char* found = ini.GetValue(section, key);
  if (found != nullptr && !parseNumber(found, value)) fail(key, "expected a number");
}

void SectionReader::number(const char* key, float& value) {
  double wide = value;
  number(key, wide);
  value = toFloat(wide);
}

void SectionReader::integer(const char* key, std::int32_t& value) {
  double wide = value;
  number(key, wide);
  if (!(wide >= INT32_MIN && wide <= INT32_MAX) || wide != std::trunc(wide)) {
    return fail(key, "expected a whole number");
  }
  value = static_cast<std::int32_t>(wide);
}

void SectionReader::vector(const char* key, Vector3& value) {
  const char* found = ini.GetValue(section, key);
  if (found != nullptr && !parseVector(found, value)) fail(key, "expected x, y, z");
}

void SectionReader::measure(const char* key, double& value, double low, double high,
                            const char* unit) {
  const char* found = ini.GetValue(section, key);
  double given = 0.0;
  if (found == nullptr) return;
  if (!parseNumber(found, given)) return fail(key, "expected a number");
  if (!(given >= low && given <= high)) {
    return fail(key, std::string("expected ") + unit + " from " + rangeText(low, high));
  }
  value = given;
}

void SectionReader::place(const char* key, Vector3& value) {
  const char* found = ini.GetValue(section, key);
  double parts[3];
  if (found == nullptr) return;
  if (!parseParts(found, parts)) return fail(key, "expected x, y, z");
  for (const double part : parts) {
    if (!(std::fabs(part) <= worldExtent)) {
      return fail(key, "expected x, y, z in metres, each from " +
                           rangeText(-worldExtent, worldExtent) +
                           " (a game world's extent; reported position gives the game's own "
                           "answer, nan and inf included)");
    }
  }
  value = {toFloat(parts[0]), toFloat(parts[1]), toFloat(parts[2])};
}

void SectionReader::staleHandle(const char* key, std::optional<Entity>& value) {
  optional(key, value);
  if (value && *value > 0) fail(key, "expected 0 or a negative handle");
}

void SectionReader::onlyKeys(const std::set<std::string>& allowed) {
  CSimpleIniA::TNamesDepend keys;
  ini.GetAllKeys(section, keys);
  keys.sort(CSimpleIniA::Entry::LoadOrder());
  for (const auto& key : keys) {
    const std::string lower = lowerCase(key.pItem);
    if (allowed.count(lower) != 0) continue;
    const std::vector<std::string> names(allowed.begin(), allowed.end());
    fail(key.pItem,
         "unknown key" + suggestion(lower, names) + "; sim/world/scene.h lists the keys");
  }
}

// Targets name actors as the scene writes them, in any letter case; the game knows one weapon
// by one model and one set of answers.
constexpr std::string_view sameWeaponOnce =
    "; a weapon's model and weapon checks cannot differ between peds, the game knows each weapon "
    "once";

void checkTargetsAndWeapons(Scene& scene, std::vector<Actor>& copies, const LineIndex& lines,
                            std::vector<std::string>& errors) {
  // Looked up by name, so that reading stays linear in the scene however many peds it has.
  // Section names are unique in any letter case, the player's too.
  std::map<std::string, std::size_t> byName;
  std::vector<std::string> names;
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    byName.emplace(lowerCase(scene.actors[i].name), i);
    names.push_back(scene.actors[i].name);
  }
  const auto aim = [&](Actor& actor) {
    if (actor.target.empty()) return;
    const auto found = byName.find(lowerCase(actor.target));
    const Actor* target = found == byName.end() ? nullptr : &scene.actors[found->second];
    const std::string said = lineOf(lines, actor.name, "target") + "[" + shownName(actor.name) +
                             "] target = " + actor.target;
    if (target == nullptr) {
      errors.push_back(said + ": no actor named " + actor.target + " in the scene" +
                       suggestion(actor.target, names));
    } else if (sameName(target->name, shownName(actor.name))) {
      errors.push_back(said + ": an actor cannot aim at itself");
    } else {
      actor.target = target->name;
    }
  };
  for (Actor& actor : scene.actors) aim(actor);
  for (Actor& copy : copies) aim(copy);
  if (!errors.empty()) return;
  // The game hashes a weapon's name in lower case and knows each weapon by one model and one
  // pair of answers, whichever ped carries it.
  const std::vector<std::string> models = knownModelNames();
  const auto known = [&](const Actor& actor) {
    return std::find(models.begin(), models.end(), actor.model) != models.end();
  };
  // What tells two carriers of one weapon apart: "" when the game could answer both alike.
  const auto differing = [](const Actor& first, const Actor& other) -> std::string {
    if (first.model != other.model) return "model";
    for (int check = 0; check < 2; ++check) {
      if (first.weaponCheck[check] != other.weaponCheck[check]) {
        return "weapon check " + std::to_string(check + 1);
      }
    }
    return "";
  };
  // Every carrier is compared with the weapon's first one: any two that differ mean one of them
  // differs from the first. The pair named is the earliest by first carrier, then by the other.
  std::map<std::string, std::size_t> firstCarrier;
  std::size_t bestFirst = scene.actors.size();
  std::size_t bestOther = scene.actors.size();
  for (std::size_t j = 0; j < scene.actors.size(); ++j) {
    if (scene.actors[j].weapon.empty()) continue;
    const auto [entry, added] = firstCarrier.emplace(lowerCase(scene.actors[j].weapon), j);
    const std::size_t i = entry->second;
    if (added || i > bestFirst || differing(scene.actors[i], scene.actors[j]).empty()) continue;
    if (i < bestFirst) bestFirst = i, bestOther = j;
  }
  if (bestFirst == scene.actors.size()) return;
  const Actor* first = &scene.actors[bestFirst];
  const Actor* other = &scene.actors[bestOther];
  const std::string key = differing(*first, *other);
  // Point at the model the game does not know, if only one of the two is such.
  if (key == "model" && !known(*first) && known(*other)) std::swap(first, other);
  const auto value = [&](const Actor& actor) {
    if (key == "model") return actor.model;
    return std::string(actor.weaponCheck[key.back() - '1'] ? "true" : "false");
  };
  // A weapon check left at its default stands on the weapon's line.
  const auto line = [&](const Actor& actor) {
    const bool given = lines.count(lowerCase(actor.name) + '\n' + key) != 0;
    return lineNumber(lines, actor.name, given ? key : "weapon");
  };
  errors.push_back(
      joined({lineText(line(*other)), "[", other->name, "] ", key, " = ", value(*other), ": [",
              first->name, "] (line ", std::to_string(line(*first)), ") carries ", first->weapon,
              " with ", key, " = ", value(*first), sameWeaponOnce}));
}

namespace {

void sortByLine(std::vector<std::string>& messages) {
  const auto lineOfMessage = [](const std::string& message) {
    return std::isdigit(static_cast<unsigned char>(message.front())) != 0
               ? std::strtol(message.c_str(), nullptr, 10)
               : LONG_MAX;
  };
  std::stable_sort(messages.begin(), messages.end(),
                   [&](const std::string& a, const std::string& b) {
                     return lineOfMessage(a) < lineOfMessage(b);
                   });
}

// "12: warning: ...", as compilers mark one.
std::string markedWarning(const std::string& warning) {
  const bool hasLine =
      !warning.empty() && std::isdigit(static_cast<unsigned char>(warning.front())) != 0;
  const std::size_t after = hasLine ? warning.find(": ") + 2 : 0;
  return warning.substr(0, after) + "warning: " + warning.substr(after);
}

}  // namespace

std::string listedMessages(std::vector<std::string> errors, const std::vector<std::string>& found,
                           std::vector<std::string>* warnings) {
  std::vector<std::string> marked;
  marked.reserve(found.size());
  for (const std::string& warning : found) marked.push_back(markedWarning(warning));
  sortByLine(marked);
  if (errors.empty()) {
    if (warnings != nullptr) warnings->insert(warnings->end(), marked.begin(), marked.end());
    return "";
  }
  if (warnings != nullptr) errors.insert(errors.end(), marked.begin(), marked.end());
  sortByLine(errors);
  constexpr std::size_t shown = 40;
  std::string out;
  for (std::size_t i = 0; i < errors.size() && i < shown; ++i) {
    out += (i == 0 ? "" : "\n") + errors[i];
  }
  if (errors.size() > shown) {
    out += "\nand " + std::to_string(errors.size() - shown) + " more after these";
  }
  return out;
}

}  // namespace sim
