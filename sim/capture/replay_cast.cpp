// The cast of a replay, read from the answers the game gave: the player's handle, the peds the
// game listed or named as targets, their positions, weapons and weapons' models.
#include "replay_cast.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "natives.h"
#include "report_text.h"

namespace sim {

namespace {

Vector3 vectorOf(const std::array<std::uint64_t, 3>& answer) {
  return {lowHalfAsFloat(answer[0]), lowHalfAsFloat(answer[1]), lowHalfAsFloat(answer[2])};
}

}  // namespace

void CastBuilder::add(const CapturedPass& pass) {
  for (const CapturedCall& call : pass.calls) {
    const auto slot = [&](std::size_t i) {
      return i < call.slots.size() ? low(call.slots[i].value) : 0;
    };
    const std::int32_t answer = low(call.answer[0]);
    switch (call.hash) {
      case natives::playerPedNative:
        if (player_ == 0 && answer > 0 && index_.count(answer) == 0) {
          player_ = answer;
          handles_[0] = player_;
          index_[player_] = 0;
        }
        break;
      case natives::itemEntityNative: addPed(answer); break;
      case natives::pedTargetNative:
        addPed(answer);
        targets_[slot(0)] = answer;
        break;
      case natives::entityCoordsNative: positions_[slot(0)] = vectorOf(call.answer); break;
      case natives::currentWeaponNative:
        if (answer != 0 && call.slots.size() > 1 && call.slots[1].written.size() >= 4) {
          std::uint32_t hash;
          std::memcpy(&hash, call.slots[1].written.data(), sizeof hash);
          weapons_[slot(0)] = hash;
        }
        break;
      case natives::weaponModelKeyNative:
        modelKeys_[static_cast<std::uint32_t>(slot(0))] = static_cast<std::uint32_t>(answer);
        break;
      case natives::nameHashNative:
        if (!call.slots.empty()) names_[static_cast<std::uint32_t>(answer)] = call.slots[0].text;
        break;
      default: break;
    }
    if (std::find(hashes_.begin(), hashes_.end(), call.hash) == hashes_.end()) {
      hashes_.push_back(call.hash);
    }
  }
}

Scene CastBuilder::scene(const std::string& name, const std::string& settingsText) const {
  Scene scene;
  scene.name = name;
  for (std::size_t i = 0; i < handles_.size(); ++i) {
    const Entity handle = handles_[i];
    Actor& actor = scene.actors.emplace_back();
    actor.name = i == 0 ? "player" : "ped " + std::to_string(handle);
    actor.handle = handle;
    if (const auto at = positions_.find(handle); at != positions_.end()) {
      actor.position = at->second;
    }
    if (const auto weapon = weapons_.find(handle); weapon != weapons_.end()) {
      nameWeapon(actor, weapon->second);
    }
    if (const auto target = targets_.find(handle);
        target != targets_.end() && target->second != 0) {
      actor.target = target->second == player_ ? "player" : "ped " + std::to_string(target->second);
    }
  }
  scene.hasSettingsFile = true;
  scene.settingsFile = settingsText;
  return scene;
}

void CastBuilder::addPed(Entity handle) {
  if (handle <= 0 || index_.count(handle) != 0) return;
  index_[handle] = handles_.size();
  handles_.push_back(handle);
}

void CastBuilder::nameWeapon(Actor& actor, std::uint32_t hash) const {
  actor.weapon = hex(hash);
  const GameWeapon* known = nullptr;
  for (const GameWeapon& row : gameWeaponRows()) {
    if (gameNameHash(row.weapon) == hash) known = &row;
  }
  if (known != nullptr) actor.weapon = known->weapon;
  const auto key = modelKeys_.find(hash);
  const auto model = key == modelKeys_.end() ? names_.end() : names_.find(key->second);
  if (model != names_.end()) {
    actor.model = model->second;
  } else if (known != nullptr) {
    actor.model = known->model;
  } else if (key != modelKeys_.end()) {
    actor.model = hex(key->second);
  }
}

}  // namespace sim
