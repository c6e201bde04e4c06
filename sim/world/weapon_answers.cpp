// The game's answers about weapons: the ped's current weapon, what the game knows of a weapon
// by its hash, the weapon object, its values and its barrel bones.
#include <cstring>
#include <string_view>

#include "world_live.h"

namespace sim {

namespace {

const WeaponEntry* weaponEntry(std::uint32_t hash) {
  const auto found = derived().weapons.find(hash);
  return found == derived().weapons.end() ? nullptr : &found->second;
}

const Actor* ownerOfWeaponInfo(std::int32_t info) {
  const long index = static_cast<long>(info) - firstWeaponInfo;
  return index >= 0 && index < static_cast<long>(world().scene.actors.size()) ? actorAt(index)
                                                                              : nullptr;
}

}  // namespace

void currentWeapon(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  const Actor* actor = actorAt(index);
  if (actor == nullptr || actor->weapon.empty()) return call.setInt(0);
  if (auto* out = call.pointerSlot<std::uint32_t>(1)) *out = derived().weaponHash[index];
  call.setInt(1);
}

void weaponKnown(const NativeContext& call) {
  call.setInt(weaponEntry(static_cast<std::uint32_t>(call.slot(0))) != nullptr ? 1 : 0);
}

template <int which>
void weaponCheck(const NativeContext& call) {
  const WeaponEntry* entry = weaponEntry(static_cast<std::uint32_t>(call.slot(0)));
  call.setInt(entry != nullptr && entry->check[which] ? 1 : 0);
}

void weaponModelKey(const NativeContext& call) {
  const WeaponEntry* entry = weaponEntry(static_cast<std::uint32_t>(call.slot(0)));
  call.setInt(static_cast<std::int32_t>(entry != nullptr ? entry->modelKey : 0));
}

void weaponObject(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  const Actor* actor = actorAt(index);
  const bool armed = actor != nullptr && !actor->weapon.empty();
  call.setInt(armed ? derived().objectHandles[index] : 0);
}

void weaponInfo(const NativeContext& call) {
  const long owner = ownerOfWeaponObject(call.intSlot(0));
  call.setInt(owner < 0 ? 0 : firstWeaponInfo + static_cast<std::int32_t>(owner));
}

void weaponC1(const NativeContext& call) {
  const Actor* actor = ownerOfWeaponInfo(call.intSlot(0));
  call.setFloat(actor != nullptr ? actor->c1 : 0.0f);
}

void weaponC2(const NativeContext& call) {
  const Actor* actor = ownerOfWeaponInfo(call.intSlot(0));
  call.setFloat(actor != nullptr ? actor->c2 : 0.0f);
}

// A place past the list's end stands for any name past the first 255.
std::uint8_t missingBoneName(const char* name) {
  std::vector<std::string>& names = world().boneNames;
  const std::string_view asked = name == nullptr ? "(no name)" : name;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == asked) return static_cast<std::uint8_t>(i);
  }
  constexpr std::size_t kept = 255;
  if (names.size() == kept) return kept;
  names.emplace_back(asked);
  return static_cast<std::uint8_t>(names.size() - 1);
}

// Bone names are matched as the model spells them, letter case included: a name the plug-in
// changed shows up as a missing bone.
void boneIndex(const NativeContext& call) {
  const long owner = ownerOfWeaponObject(call.intSlot(0));
  const char* name = call.pointerSlot<const char>(1);
  const GameWeapon* bones = owner < 0 ? nullptr : derived().bones[owner];
  std::int32_t index = -1;
  if (bones != nullptr) {
    const std::string& missing = world().scene.actors[owner].missingBones;
    const int bone = barrelBoneNamed(*bones, name);
    if (bone == 0 && missing != "base" && missing != "both") {
      index = baseBoneIndex;
    } else if (bone == 1 && missing != "tip" && missing != "both") {
      index = tipBoneIndex;
    }
  }
  call.setInt(index);
}

void bonePosition(const NativeContext& call) {
  const long owner = ownerOfWeaponObject(call.intSlot(0));
  const std::int32_t index = call.intSlot(1);
  if (owner >= 0 && index == baseBoneIndex) {
    call.setVector(derived().base[owner]);
  } else if (owner >= 0 && index == tipBoneIndex) {
    call.setVector(derived().tip[owner]);
  } else {
    call.setVector({0.0f, 0.0f, 0.0f});
  }
}

template void weaponCheck<0>(const NativeContext&);
template void weaponCheck<1>(const NativeContext&);

}  // namespace sim
