// The scene reader: every section and key of a scene checked and read into the world's terms,
// each mistake named with its line, names the game does not know warned of.
#include "scene.h"

#include <SimpleIni.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <list>
#include <map>
#include <set>
#include <span>
#include <string_view>
#include <type_traits>

#include "files.h"
#include "scene_lines.h"

namespace sim {

namespace {

using Ini = CSimpleIniA;

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

// Letters to change, add or drop to turn one name into the other, in any letter case.
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

// " (did you mean X?)" for the known name a typo is closest to, if one is close enough.
std::string suggestion(const std::string& given, const std::vector<std::string>& names) {
  const std::string* best = nullptr;
  std::size_t bestDistance = 3;  // more than two letters off is another name, not a typo
  for (const std::string& name : names) {
    const std::size_t distance = editDistance(given, name);
    if (distance < bestDistance) best = &name, bestDistance = distance;
  }
  return best == nullptr ? "" : " (did you mean " + *best + "?)";
}

std::vector<std::string> knownModelNames() {
  std::vector<std::string> names;
  for (const GameWeapon& row : gameWeaponRows()) names.emplace_back(row.model);
  return names;
}

// What a scene places in the world stands within it: a game world is a few kilometres across,
// and floats keep centimetres out to here.
constexpr double worldExtent = 100000.0;
// The camera's height above the player and its pull-back, in metres.
constexpr double cameraReach = 10000.0;

struct Reader {
  const Ini& ini;
  const char* section;
  const LineIndex& lines;
  std::vector<std::string>& errors;
  std::vector<std::string>& warnings;
  std::set<std::string> failedKeys;  // a key's first mistake is the one named

  // "12: [Ped] aim error = abc: expected a number": the line as the scene writes it.
  std::string said(const char* key) const {
    const char* value = ini.GetValue(section, key);
    std::string out = lineOf(lines, section, key) + "[" + shownName(section) + "] " + key;
    if (value != nullptr && std::strchr(value, '\n') == nullptr) out += " = " + std::string(value);
    return out;
  }
  void fail(const char* key, const std::string& what) {
    if (failedKeys.insert(lowerCase(key)).second) errors.push_back(said(key) + ": " + what);
  }
  void warn(const char* key, const std::string& what) const {
    warnings.push_back(said(key) + ": " + what);
  }
  void text(const char* key, std::string& value) {
    if (const char* found = ini.GetValue(section, key)) value = found;
  }
  void flag(const char* key, bool& value) {
    const char* found = ini.GetValue(section, key);
    if (found != nullptr && !parseBool(found, value)) fail(key, "expected true or false");
  }
  void number(const char* key, double& value) {
    const char* found = ini.GetValue(section, key);
    if (found != nullptr && !parseNumber(found, value)) fail(key, "expected a number");
  }
  void number(const char* key, float& value) {
    double wide = value;
    number(key, wide);
    value = toFloat(wide);
  }
  // NaN, fractions and values past the 32-bit range are refused before any conversion.
  void integer(const char* key, std::int32_t& value) {
    double wide = value;
    number(key, wide);
    if (!(wide >= INT32_MIN && wide <= INT32_MAX) || wide != std::trunc(wide)) {
      return fail(key, "expected a whole number");
    }
    value = static_cast<std::int32_t>(wide);
  }
  void vector(const char* key, Vector3& value) {
    const char* found = ini.GetValue(section, key);
    if (found != nullptr && !parseVector(found, value)) fail(key, "expected x, y, z");
  }
  // A measure the scene sets the world up with, unlike the game's answers: finite, in range.
  void measure(const char* key, double& value, double low, double high, const char* unit) {
    const char* found = ini.GetValue(section, key);
    double given = 0.0;
    if (found == nullptr) return;
    if (!parseNumber(found, given)) return fail(key, "expected a number");
    if (!(given >= low && given <= high)) {
      return fail(key, std::string("expected ") + unit + " from " + rangeText(low, high));
    }
    value = given;
  }
  // A point of the world: each coordinate finite and within the world's extent.
  void place(const char* key, Vector3& value) {
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
  // Keys that are unset unless the scene gives them.
  template <typename Value>
  void optional(const char* key, std::optional<Value>& value) {
    if (ini.GetValue(section, key) == nullptr) return;
    Value given{};
    if constexpr (std::is_same_v<Value, Vector3>) {
      vector(key, given);
    } else if constexpr (std::is_same_v<Value, float>) {
      number(key, given);
    } else {
      integer(key, given);
    }
    value = given;
  }
  // A handle that refers to nothing: 0 or negative, where the world hands out none.
  void staleHandle(const char* key, std::optional<Entity>& value) {
    optional(key, value);
    if (value && *value > 0) fail(key, "expected 0 or a negative handle");
  }
  void onlyKeys(const std::set<std::string>& allowed) {
    Ini::TNamesDepend keys;
    ini.GetAllKeys(section, keys);
    keys.sort(Ini::Entry::LoadOrder());
    for (const auto& key : keys) {
      const std::string lower = lowerCase(key.pItem);
      if (allowed.count(lower) != 0) continue;
      const std::vector<std::string> names(allowed.begin(), allowed.end());
      fail(key.pItem,
           "unknown key" + suggestion(lower, names) + "; sim/world/scene.h lists the keys");
    }
  }
};

const std::set<std::string> actorKeys = {"position",
                                         "weapon",
                                         "model",
                                         "target",
                                         "aim error",
                                         "missing bones",
                                         "filter 1",
                                         "filter 2",
                                         "filter 3",
                                         "weapon check 1",
                                         "weapon check 2",
                                         "target check",
                                         "p",
                                         "h",
                                         "c1",
                                         "c2",
                                         "numerator",
                                         "denominator",
                                         "bonus",
                                         "handle",
                                         "weapon object handle",
                                         "reported position",
                                         "reported distance",
                                         "reported base bone",
                                         "reported tip bone"};

void readActor(Reader& in, Actor& actor) {
  in.place("position", actor.position);
  in.text("weapon", actor.weapon);
  in.text("model", actor.model);
  in.text("target", actor.target);
  // The angle between the barrel and the line to the target: a half turn at most.
  in.measure("aim error", actor.aimError, 0.0, 180.0, "degrees");
  in.text("missing bones", actor.missingBones);
  if (actor.missingBones == "none") actor.missingBones.clear();
  if (!actor.missingBones.empty() && actor.missingBones != "base" && actor.missingBones != "tip" &&
      actor.missingBones != "both") {
    in.fail("missing bones", "expected none, base, tip or both");
  }
  in.flag("filter 1", actor.filter[0]);
  in.flag("filter 2", actor.filter[1]);
  in.flag("filter 3", actor.filter[2]);
  in.flag("weapon check 1", actor.weaponCheck[0]);
  in.flag("weapon check 2", actor.weaponCheck[1]);
  in.flag("target check", actor.targetCheck);
  in.number("p", actor.p);
  in.number("h", actor.h);
  in.number("c1", actor.c1);
  in.number("c2", actor.c2);
  in.integer("numerator", actor.numerator);
  in.integer("denominator", actor.denominator);
  in.flag("bonus", actor.bonus);
  in.staleHandle("handle", actor.handle);
  in.staleHandle("weapon object handle", actor.weaponObjectHandle);
  in.optional("reported position", actor.reportedPosition);
  in.optional("reported distance", actor.reportedDistance);
  in.optional("reported base bone", actor.reportedBaseBone);
  in.optional("reported tip bone", actor.reportedTipBone);
  if (actor.weapon.empty() != actor.model.empty()) {
    in.fail(actor.weapon.empty() ? "model" : "weapon", "weapon and model go together");
  }
  // A scene may give a name the game does not know on purpose; the run goes on with it.
  const std::vector<std::string> models = knownModelNames();
  const std::span<const GameWeapon> known = gameWeaponRows();
  if (!actor.weapon.empty() && std::none_of(known.begin(), known.end(), [&](const GameWeapon& row) {
        return sameName(actor.weapon.c_str(), row.weapon);
      })) {
    std::vector<std::string> weapons;
    for (const GameWeapon& row : known) weapons.emplace_back(row.weapon);
    in.warn("weapon",
            "the simulated game knows no weapon of that name" + suggestion(actor.weapon, weapons));
  }
  if (!actor.model.empty() &&
      std::find(models.begin(), models.end(), actor.model) == models.end()) {
    in.warn("model", "the simulated game knows no weapon model spelt so" +
                         suggestion(actor.model, models) + ", so it has no barrel bones");
  }
}

// Targets name actors as the scene writes them, in any letter case; the game knows one weapon
// by one model and one set of answers.
constexpr std::string_view sameWeaponOnce =
    "; a weapon's model and weapon checks cannot differ between peds, the game knows each weapon "
    "once";

// Targets by name, each mistaken one named, those of the copies of sections given twice too;
// then the weapons, once everything else reads well (a value that did not read would otherwise
// show as a second, made-up conflict).
void resolve(Scene& scene, std::vector<Actor>& copies, const LineIndex& lines,
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

// The mistakes in the order of their lines, a line of text each, the warnings among them where
// they stand when warnings are wanted; past a screenful, a count. Without a mistake, the warnings
// alone, in the order of their lines.
std::string listed(std::vector<std::string> errors, const std::vector<std::string>& found,
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

// "file", then "file 2", "file 3", ... for the save loads, in turn and without a gap.
constexpr int lastSettingsFile = 16;

void readSettingsFiles(Reader& in, Scene& scene) {
  if (const char* file = in.ini.GetValue(in.section, "file")) {
    scene.hasSettingsFile = true;
    scene.settingsFile = std::string(file) + "\n";
  }
  bool gap = !scene.hasSettingsFile;
  for (int i = 2; i <= lastSettingsFile; ++i) {
    const std::string key = "file " + std::to_string(i);
    const char* file = in.ini.GetValue(in.section, key.c_str());
    if (file == nullptr) {
      gap = true;
    } else if (gap) {
      const std::string what = "comes after a missing file " + std::to_string(i - 1);
      in.fail(key.c_str(), what);
    } else {
      scene.laterSettingsFiles.push_back(std::string(file) + "\n");
    }
  }
}

// The sections a scene knows by name; any other is a ped.
enum class Kind { scene, world, settings, player, ped };
struct KnownSection {
  const char* name;
  Kind kind;
};
constexpr KnownSection knownSections[] = {{"scene", Kind::scene},
                                          {"world", Kind::world},
                                          {"settings", Kind::settings},
                                          {"player", Kind::player}};

std::set<std::string> keysOf(Kind kind) {
  switch (kind) {
    case Kind::scene: return {"name"};
    case Kind::world: return {"w1", "w2", "w3", "n", "found count"};
    case Kind::settings: {
      std::set<std::string> keys{"file"};
      for (int i = 2; i <= lastSettingsFile; ++i) keys.insert("file " + std::to_string(i));
      return keys;
    }
    case Kind::player: {
      std::set<std::string> keys = actorKeys;
      keys.insert({"look at", "eye height", "camera distance", "in search", "reported screen x",
                   "reported screen y", "reported absolute value", "reported label limit"});
      return keys;
    }
    case Kind::ped: break;
  }
  return actorKeys;
}

// The keys of a section that a kind does not take; for a ped, a missing position counts too.
std::size_t misfits(const Ini& ini, const char* section, Kind kind) {
  Ini::TNamesDepend keys;
  ini.GetAllKeys(section, keys);
  const std::set<std::string> allowed = keysOf(kind);
  std::size_t count = kind == Kind::ped && ini.GetValue(section, "position") == nullptr ? 1 : 0;
  for (const auto& key : keys) count += allowed.count(lowerCase(key.pItem)) == 0 ? 1 : 0;
  return count;
}

// What a section is read as, and the known section its name is a slip of the keyboard away from.
struct Reading {
  Kind kind = Kind::ped;
  const char* resembles = nullptr;
};

// A section named as a known one, in any letter case, is that one. A name a slip away from it is
// that section misspelt, unless it reads as a ped without a mistake, or with fewer than as the
// section it resembles (a ped gives its position and ped keys only): a ped may well be named
// Wolf or Players.
Reading readingOf(const Ini& ini, const char* section) {
  const std::string name = shownName(section);
  const KnownSection* closest = nullptr;
  std::size_t closestDistance = 3;  // as for keys: more than two letters off is another name
  for (const KnownSection& known : knownSections) {
    if (sameName(name.c_str(), known.name)) return {known.kind, nullptr};
    const std::size_t distance = editDistance(name, known.name);
    if (distance < closestDistance) closest = &known, closestDistance = distance;
  }
  if (closest == nullptr) return {};
  const std::size_t asPed = misfits(ini, section, Kind::ped);
  if (asPed == 0 || asPed < misfits(ini, section, closest->kind)) return {};
  return {closest->kind, closest->name};
}

// Reads a section as its kind into the scene: a ped is added to its actors.
void readSection(Kind kind, Reader& in, Scene& scene) {
  in.onlyKeys(keysOf(kind));
  switch (kind) {
    case Kind::scene: in.text("name", scene.name); return;
    case Kind::world:
      in.number("w1", scene.values.w1);
      in.number("w2", scene.values.w2);
      in.number("w3", scene.values.w3);
      in.integer("n", scene.values.n);
      in.optional("found count", scene.values.foundCount);
      return;
    case Kind::settings: readSettingsFiles(in, scene); return;
    case Kind::player:
      readActor(in, scene.actors[0]);
      in.place("look at", scene.camera.lookAt);
      in.measure("eye height", scene.camera.eyeHeight, 0.0, cameraReach, "metres");
      in.measure("camera distance", scene.camera.pullBack, 0.0, cameraReach, "metres");
      in.flag("in search", scene.actors[0].inSearch);
      in.optional("reported screen x", scene.camera.screenX);
      in.optional("reported screen y", scene.camera.screenY);
      in.optional("reported absolute value", scene.camera.absoluteValue);
      in.optional("reported label limit", scene.camera.labelLimit);
      return;
    case Kind::ped: {
      Actor ped;
      ped.name = in.section;
      readActor(in, ped);
      scene.actors.push_back(ped);
      return;
    }
  }
}

// What parseScene and loadSceneFile share; an unnamed scene gets the name given.
std::string readScene(const std::string& text, Scene& scene, std::vector<std::string>* warnings,
                      const std::string& unnamed) {
  // A byte order mark, as some Windows editors write one, is not part of the first line.
  const std::string_view body =
      std::string_view(text).substr(text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0);
  LineIndex lines;
  std::string utf8;
  std::vector<std::string> found;
  std::vector<std::string> errors = indexLines(std::string(body), lines, utf8, &found);
  // Comments and blank lines alone are no scene: running one would show nothing, unexplained.
  if (lines.empty() && errors.empty()) {
    return "nothing in it: no [player] and no peds (--print-default-scene prints a scene to start "
           "from)";
  }
  Ini ini;
  ini.SetUnicode(false);
  ini.SetMultiLine(true);
  if (ini.LoadData(utf8.data(), utf8.size()) < 0) return "not INI text";

  scene = Scene{};
  scene.name.clear();
  Actor player;
  player.name = "player";
  scene.actors.push_back(player);

  // A line with a mistake is left out, so a key it meant to give is not missing as well.
  const bool linesReadWell = errors.empty();
  // The copies of sections given twice and the misspelt sections are checked as what they mean
  // and used nowhere; the targets of their peds are checked with the scene's.
  std::vector<Actor> copies;
  std::map<std::string, Reading> readings;  // a copy is read as its first section is
  Ini::TNamesDepend sections;
  ini.GetAllSections(sections);
  sections.sort(Ini::Entry::LoadOrder());
  for (const auto& entry : sections) {
    Reader in{ini, entry.pItem, lines, errors, found, {}};
    const bool copy = isCopy(entry.pItem);
    const std::string name = lowerCase(shownName(entry.pItem));
    const Reading reading = copy ? readings[name] : readingOf(ini, entry.pItem);
    if (!copy) readings.emplace(name, reading);
    if (reading.resembles != nullptr && !copy) {
      errors.push_back(joined({lineOf(lines, entry.pItem, ""), "[", entry.pItem,
                               "]: unknown section (did you mean [", reading.resembles,
                               "]?); sim/world/scene.h lists the sections"}));
    }
    if (reading.resembles == nullptr && !copy) {
      if (reading.kind == Kind::ped && ini.GetValue(entry.pItem, "position") == nullptr &&
          linesReadWell) {
        in.fail("position", "missing: every ped stands somewhere (position = x, y, z)");
      }
      readSection(reading.kind, in, scene);
      continue;
    }
    Scene unused;
    unused.actors.push_back(player);
    unused.actors[0].name = entry.pItem;
    readSection(reading.kind, in, unused);
    for (Actor& actor : unused.actors) copies.push_back(std::move(actor));
  }
  if (scene.name.empty()) scene.name = unnamed;
  resolve(scene, copies, lines, errors);
  return listed(std::move(errors), found, warnings);
}

}  // namespace

std::string parseScene(const std::string& text, Scene& scene, std::vector<std::string>* warnings) {
  return readScene(text, scene, warnings, "scene");
}

std::string loadSceneFile(const std::string& path, Scene& scene,
                          std::vector<std::string>* warnings) {
  std::FILE* file = openFile(path, "rb");
  if (file == nullptr) return "cannot open scene " + path + ": " + std::strerror(errno);
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  const int readError = std::ferror(file) != 0 ? errno : 0;
  std::fclose(file);
  if (readError != 0) return "cannot read scene " + path + ": " + std::strerror(readError);
  // "scene.ini:12: ..." where the message has a line, as compilers write it; each of several.
  const auto located = [&](const std::string& message) {
    std::string out;
    for (std::size_t start = 0; start < message.size();) {
      std::size_t end = message.find('\n', start);
      if (end == std::string::npos) end = message.size();
      const bool hasLine = std::isdigit(static_cast<unsigned char>(message[start])) != 0;
      out += (start == 0 ? "" : "\n") + path + (hasLine ? ":" : ": ") +
             message.substr(start, end - start);
      start = end + 1;
    }
    return out;
  };
  // A scene without a name of its own is known by its file's.
  const std::string fileName = path.substr(path.find_last_of("/\\") + 1);
  std::vector<std::string> found;
  const std::string error =
      readScene(text, scene, warnings == nullptr ? nullptr : &found, fileName);
  if (warnings != nullptr) {
    for (const std::string& warning : found) warnings->push_back(located(warning));
  }
  return error.empty() ? error : located(error);
}

}  // namespace sim
