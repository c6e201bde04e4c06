// Scenes: the simulated world written as INI text, one section per ped.
//
//   [scene]     name = ...
//   [world]     w1, w2, w3, n                      values the game gives without a ped
//               found count                        the search's answer, whatever it found
//   [player]    position, look at, eye height, camera distance, in search, and any ped key
//               reported screen x, reported screen y, reported absolute value,
//               reported label limit               faulty answers of the label natives
//   [settings]  file = <<<END ... END               settings file put beside the game executable
//               file 2, file 3, ...                put there in turn before each save load
//   [Any name]  a ped: position, weapon, model, target, aim error, missing bones, filter 1..3,
//               weapon check 1..2, target check, p, h, c1, c2, numerator, denominator, bonus
//               faults: handle, weapon object handle (0 or negative: refers to nothing),
//               reported position, reported distance (to its target), reported base bone,
//               reported tip bone                  what the game answers instead of the truth
//
// Vectors are "x, y, z" in metres; truth values true/false (also yes/no, on/off, 1/0); numbers
// as strtod reads them. What sets the world up stays within it: position and look at finite,
// each coordinate within 100000 m of the origin; aim error 0 to 180 degrees; eye height and
// camera distance 0 to 10000 m. The game's answers (p, h, c1, c2, w1..w3, the reported ones)
// take nan and inf too. Each section and each key is given once; a line is a [section],
// key = value, a comment (; or #) or blank. Every mistake is named, with its line, those in a
// section given twice too. A section named two letters or fewer away from scene, world,
// settings or player is taken for it misspelt, unless it reads as a ped with no mistake, or with
// fewer than as that section (a ped gives its position and ped keys only). A scene without a
// name is named by its file.
#pragma once

#include <string>
#include <vector>

#include "world.h"

namespace sim {

// Fills the scene from INI text. Returns an empty string, or what is wrong with the text, a line
// of text per mistake in the order of the scene's lines, each starting with its line ("12: [Ped]
// aim error = abc: expected a number"). Names the simulated game does not know are no error:
// each is a warning with its line ("3: warning: ..."), when warnings are wanted; they go to
// warnings, or, in a scene with mistakes, among the mistakes where their lines stand.
std::string parseScene(const std::string& text, Scene& scene,
                       std::vector<std::string>* warnings = nullptr);

// The same from a file; errors and warnings start with the path ("my.ini:12: ..."). A scene
// without a name is given its file's name.
std::string loadSceneFile(const std::string& path, Scene& scene,
                          std::vector<std::string>* warnings = nullptr);

// The scene used when none is given: the range of outcomes at once.
const char* defaultSceneText();

// A crowd for benchmarks and the allocation test: the player at the origin looking north and
// `peds` armed peds in front of it within 150 m, each aiming at the player slightly off, with
// the game's weapon models in turn. Every ped is treated and every label lands on screen.
Scene crowdScene(int peds);

}  // namespace sim
