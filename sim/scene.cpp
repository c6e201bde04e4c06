#include "scene.h"

#include <SimpleIni.h>

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <set>
#include <span>
#include <type_traits>

namespace sim {

namespace {

const char* const defaultScene =
    R"ini(; The default scene: the player stands at the origin looking north (+y); peds around show
; every outcome at once.
[scene]
name = default

[settings]
file = <<<END
[Debug]
DisplayAccuracy = true

[Settings]
Angle = 3.0
END

; The camera looks down on the field from high behind the player.
[player]
position = 0, 0, 0
eye height = 12
look at = 0, 42, 0
camera distance = 12
in search = true
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman

; A duel along one line: aligned at 30 m with every value neutral.
[Gunslinger]
position = -10, 30, 0
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = Deputy
aim error = 0

[Deputy]
position = 20, 30, 0
weapon = WEAPON_REPEATER_CARBINE
model = rp_carbine
target = Gunslinger
aim error = 1.5

[Rifleman]
position = -6, 85, 0
weapon = WEAPON_RIFLE_BOLTACTION
model = rf_boltactn
target = player
aim error = 0.5

[Sniper]
position = 40, 135, 0
weapon = WEAPON_SNIPERRIFLE_CARCANO
model = sn_carcano
target = player
aim error = 0

[Shotgunner]
position = 9, 17, 0
weapon = WEAPON_SHOTGUN_PUMP
model = sg_pump
target = player
aim error = 6

[Veteran]
position = -8, 15, 0
weapon = WEAPON_REVOLVER_SCHOFIELD
model = rv_schfld
target = player
aim error = 0
bonus = true

[Bushwhacker]
position = -30, 58, 0
weapon = WEAPON_SHOTGUN_SAWEDOFF
model = sg_sawedoff
target = player
target check = false

[Hunter]
position = -24, 36, 0
weapon = WEAPON_BOW
model = bow_hunting
target = player

[Drifter]
position = 4, 46, 0
weapon = WEAPON_REVOLVER_NAVY
model = rv_navy

[Wounded]
position = 30, 78, 0
weapon = WEAPON_REVOLVER_LEMAT
model = rv_lemat
target = player
filter 2 = false

[Farmhand]
position = -5, 8, 0

[Lookout]
position = 45, 10, 0
weapon = WEAPON_REPEATER_WINCHESTER
model = rp_winchester
target = player
aim error = 1

[Straggler]
position = 0, -25, 0
weapon = WEAPON_PISTOL_MAUSER
model = ps_mauser
target = player

[Rancher]
position = 30, 165, 0
weapon = WEAPON_RIFLE_SPRINGFIELD
model = rf_spring
target = player
)ini";

using Ini = CSimpleIniA;

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

bool parseVector(const char* text, Vector3& value) {
  double parts[3];
  const char* cursor = text;
  for (int i = 0; i < 3; ++i) {
    char* end = nullptr;
    parts[i] = std::strtod(cursor, &end);
    if (end == cursor) return false;
    cursor = end;
    while (*cursor == ' ') ++cursor;
    if (i < 2 && *cursor++ != ',') return false;
  }
  if (*cursor != '\0') return false;
  value = {toFloat(parts[0]), toFloat(parts[1]), toFloat(parts[2])};
  return true;
}

struct Reader {
  const Ini& ini;
  const char* section;
  std::string error;

  void fail(const char* key, const char* what) {
    if (error.empty()) error = "[" + std::string(section) + "] " + key + ": " + what;
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
    for (const auto& key : keys) {
      std::string lower = key.pItem;
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (allowed.count(lower) == 0) fail(key.pItem, "unknown key");
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
  in.vector("position", actor.position);
  in.text("weapon", actor.weapon);
  in.text("model", actor.model);
  in.text("target", actor.target);
  in.number("aim error", actor.aimError);
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
}

// Targets name actors as the scene writes them, in any letter case; the game knows one weapon
// by one model and one set of answers.
std::string resolve(Scene& scene) {
  for (Actor& actor : scene.actors) {
    if (actor.target.empty()) continue;
    const Actor* target = nullptr;
    for (const Actor& other : scene.actors) {
      if (sameName(other.name, actor.target)) target = &other;
    }
    if (target == nullptr) return "[" + actor.name + "] target: no actor named " + actor.target;
    if (target == &actor) return "[" + actor.name + "] target: an actor cannot aim at itself";
    actor.target = target->name;
  }
  for (const Actor& a : scene.actors) {
    for (const Actor& b : scene.actors) {
      if (&a == &b || a.weapon.empty() || a.weapon != b.weapon) continue;
      if (a.model != b.model || a.weaponCheck[0] != b.weaponCheck[0] ||
          a.weaponCheck[1] != b.weaponCheck[1]) {
        return "[" + b.name + "] " + b.weapon + ": model and weapon checks differ from [" + a.name +
               "]";
      }
    }
  }
  return "";
}

// "file", then "file 2", "file 3", ... for the save loads, in turn and without a gap.
void readSettingsFiles(Reader& in, Scene& scene) {
  constexpr int lastFile = 16;
  std::set<std::string> keys{"file"};
  for (int i = 2; i <= lastFile; ++i) keys.insert("file " + std::to_string(i));
  in.onlyKeys(keys);
  if (const char* file = in.ini.GetValue(in.section, "file")) {
    scene.hasSettingsFile = true;
    scene.settingsFile = std::string(file) + "\n";
  }
  bool gap = !scene.hasSettingsFile;
  for (int i = 2; i <= lastFile; ++i) {
    const std::string key = "file " + std::to_string(i);
    const char* file = in.ini.GetValue(in.section, key.c_str());
    if (file == nullptr) {
      gap = true;
    } else if (gap) {
      const std::string what = "comes after a missing file " + std::to_string(i - 1);
      in.fail(key.c_str(), what.c_str());
    } else {
      scene.laterSettingsFiles.push_back(std::string(file) + "\n");
    }
  }
}

}  // namespace

std::string parseScene(const std::string& text, Scene& scene) {
  Ini ini;
  ini.SetUnicode(false);
  ini.SetMultiLine(true);
  if (ini.LoadData(text) < 0) return "not INI text";

  scene = Scene{};
  Actor player;
  player.name = "player";
  scene.actors.push_back(player);

  Ini::TNamesDepend sections;
  ini.GetAllSections(sections);
  sections.sort(Ini::Entry::LoadOrder());
  for (const auto& entry : sections) {
    const std::string name = entry.pItem;
    Reader in{ini, entry.pItem, ""};
    if (sameName(name, "scene")) {
      in.onlyKeys({"name"});
      in.text("name", scene.name);
    } else if (sameName(name, "world")) {
      in.onlyKeys({"w1", "w2", "w3", "n", "found count"});
      in.number("w1", scene.values.w1);
      in.number("w2", scene.values.w2);
      in.number("w3", scene.values.w3);
      in.integer("n", scene.values.n);
      in.optional("found count", scene.values.foundCount);
    } else if (sameName(name, "settings")) {
      readSettingsFiles(in, scene);
    } else if (sameName(name, "player")) {
      std::set<std::string> keys = actorKeys;
      keys.insert({"look at", "eye height", "camera distance", "in search", "reported screen x",
                   "reported screen y", "reported absolute value", "reported label limit"});
      in.onlyKeys(keys);
      readActor(in, scene.actors[0]);
      in.vector("look at", scene.camera.lookAt);
      in.number("eye height", scene.camera.eyeHeight);
      in.number("camera distance", scene.camera.pullBack);
      in.flag("in search", scene.actors[0].inSearch);
      in.optional("reported screen x", scene.camera.screenX);
      in.optional("reported screen y", scene.camera.screenY);
      in.optional("reported absolute value", scene.camera.absoluteValue);
      in.optional("reported label limit", scene.camera.labelLimit);
    } else {
      in.onlyKeys(actorKeys);
      if (ini.GetValue(entry.pItem, "position") == nullptr) in.fail("position", "missing");
      Actor ped;
      ped.name = name;
      readActor(in, ped);
      scene.actors.push_back(ped);
    }
    if (!in.error.empty()) return in.error;
  }
  return resolve(scene);
}

std::string loadSceneFile(const std::string& path, Scene& scene) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "cannot open scene " + path;
  std::string text;
  char buffer[4096];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, got);
  std::fclose(file);
  const std::string error = parseScene(text, scene);
  return error.empty() ? error : path + ": " + error;
}

const char* defaultSceneText() { return defaultScene; }

Scene crowdScene(int peds) {
  Scene scene;
  scene.name = "crowd";
  Actor player;
  player.name = "player";
  scene.actors.push_back(player);
  const std::span<const ModelBones> models = knownModels();
  for (int i = 0; i < peds; ++i) {
    // 10 to 139 m ahead, at most 17 degrees to either side: within 150 m and on screen.
    const float ahead = static_cast<float>(10 + i * 37 % 130);
    const float aside = static_cast<float>(i % 21 - 10) * 0.03f * ahead;
    Actor ped;
    ped.name = "Ped " + std::to_string(i + 1);
    ped.position = {aside, ahead, 0.0f};
    ped.model = models[static_cast<std::size_t>(i) % models.size()].model;
    ped.weapon = "weapon_" + ped.model;
    ped.target = "player";
    ped.aimError = (i % 7) * 0.5;  // 0 to 3 degrees: accuracies from full down to 0
    scene.actors.push_back(ped);
  }
  return scene;
}

}  // namespace sim
