// The scene reader's checks: each value of a section checked as it is read, what only the whole
// scene tells (targets, a weapon's answers across its carriers) checked after, and the mistakes
// and warnings listed by their lines. Every mistake is named with its line.
#pragma once

#include <SimpleIni.h>

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "scene_lines.h"
#include "world.h"

namespace sim {

// What a scene places in the world stands within it: a game world is a few kilometres across,
// and floats keep centimetres out to here.
constexpr double worldExtent = 100000.0;
// The camera's height above the player and its pull-back, in metres.
constexpr double cameraReach = 10000.0;

// Reads the keys of one section, each checked; a key's first mistake goes to errors, a name the
// game does not know to warnings.
struct SectionReader {
  const CSimpleIniA& ini;
  const char* section;
  const LineIndex& lines;
  std::vector<std::string>& errors;
  std::vector<std::string>& warnings;
  std::set<std::string> failedKeys;  // a key's first mistake is the one named

  // "12: [Ped] aim error = abc: expected a number": the line as the scene writes it.
  std::string said(const char* key) const;
  void fail(const char* key, const std::string& what);
  void warn(const char* key, const std::string& what) const;
  void text(const char* key, std::string& value) const;
  void flag(const char* key, bool& value);
  void number(const char* key, double& value);
  void number(const char* key, float& value);
  // NaN, fractions and values past the 32-bit range are refused before any conversion.
  void integer(const char* key, std::int32_t& value);
  void vector(const char* key, Vector3& value);
  // A measure the scene sets the world up with, unlike the game's answers: finite, in range.
  void measure(const char* key, double& value, double low, double high, const char* unit);
  // A point of the world: each coordinate finite and within the world's extent.
  void place(const char* key, Vector3& value);
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
  void staleHandle(const char* key, std::optional<Entity>& value);
  void onlyKeys(const std::set<std::string>& allowed);
};

// Targets by name, each mistaken one named, those of the copies of sections given twice too;
// then the weapons, once everything else reads well (a value that did not read would otherwise
// show as a second, made-up conflict). A target found is set to its actor's name as the scene
// writes it.
void checkTargetsAndWeapons(Scene& scene, std::vector<Actor>& copies, const LineIndex& lines,
                            std::vector<std::string>& errors);

// The mistakes in the order of their lines, a line of text each, the warnings among them where
// they stand when warnings are wanted; past a screenful, a count. Without a mistake, the warnings
// alone, in the order of their lines, added to warnings, and "".
std::string listedMessages(std::vector<std::string> errors, const std::vector<std::string>& found,
                           std::vector<std::string>* warnings);

}  // namespace sim
