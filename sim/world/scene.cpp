// The scene reader: the text's sections read into the world's terms, each as what its name
// says (a ped, the player, the world, the settings files, or one of those misspelt). The checks
// of each value are in scene_checks.cpp, the "did you mean" in scene_suggestions.cpp.
#include "scene.h"

#include <SimpleIni.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string_view>

#include "files.h"
#include "scene_checks.h"
#include "scene_lines.h"
#include "scene_suggestions.h"

namespace sim {

namespace {

using Ini = CSimpleIniA;

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

void readActor(SectionReader& in, Actor& actor) {
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
  const std::vector<std::string> weapons = knownWeaponNames();
  if (!actor.weapon.empty() &&
      std::none_of(weapons.begin(), weapons.end(),
                   [&](const std::string& weapon) { return sameName(actor.weapon, weapon); })) {
    in.warn("weapon",
            "the simulated game knows no weapon of that name" + suggestion(actor.weapon, weapons));
  }
  if (!actor.model.empty() &&
      std::find(models.begin(), models.end(), actor.model) == models.end()) {
    in.warn("model", "the simulated game knows no weapon model spelt so" +
                         suggestion(actor.model, models) + ", so it has no barrel bones");
  }
}

// "file", then "file 2", "file 3", ... for the save loads, in turn and without a gap.
constexpr int lastSettingsFile = 16;

void readSettingsFiles(SectionReader& in, Scene& scene) {
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
  std::size_t closestDistance = typoLetters + 1;  // as for keys
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
void readSection(Kind kind, SectionReader& in, Scene& scene) {
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
    SectionReader in{ini, entry.pItem, lines, errors, found, {}};
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
  checkTargetsAndWeapons(scene, copies, lines, errors);
  return listedMessages(std::move(errors), found, warnings);
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
