// Who is who in a capture: the player and a ped per handle the game answered, where the game said
// they stand, what they hold and whom they aim at, gathered over a first reading of the capture;
// the scene a replay installs is made from it.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "capture.h"
#include "world.h"

namespace sim {

// A captured slot or answer as the plug-in read it: its low half, a number or a handle.
inline std::int32_t low(std::uint64_t slot) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(slot));
}

// What the capture says about the peds, gathered pass by pass over a first reading.
class CastBuilder {
 public:
  CastBuilder() { handles_.push_back(0); }  // the player's place, filled when answered

  void add(const CapturedPass& pass);

  const std::vector<Entity>& handles() const { return handles_; }
  const std::vector<std::uint64_t>& hashes() const { return hashes_; }  // every native called

  // The scene the capture stands for, its settings file holding the settings it runs with.
  Scene scene(const std::string& name, const std::string& settingsText) const;

 private:
  // Handles the game gives out are above 0; 0 and -1 name nothing, and the world takes any other
  // for a handle that refers to nothing as well.
  void addPed(Entity handle);

  // Names as the plug-in hashed them, else as the game's weapons have them, else the hash.
  void nameWeapon(Actor& actor, std::uint32_t hash) const;

  std::vector<Entity> handles_;  // per actor; actors[0] the player
  Entity player_ = 0;
  std::unordered_map<Entity, std::size_t> index_;
  std::unordered_map<Entity, Vector3> positions_;
  std::unordered_map<Entity, std::uint32_t> weapons_;
  std::unordered_map<Entity, Entity> targets_;
  std::unordered_map<std::uint32_t, std::uint32_t> modelKeys_;  // weapon hash to model key
  std::unordered_map<std::uint32_t, std::string> names_;        // name hash to the name
  std::vector<std::uint64_t> hashes_;
};

}  // namespace sim
