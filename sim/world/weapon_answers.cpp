// The game's answers about weapons: the ped's current weapon, what the game knows of a weapon
// by its hash, the weapon object, its values and its barrel bones.
#include <cmath>
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
  Derived& live = derived();
  live.subject = index;
  live.subjectTarget = -1;
  live.targetGatePending = false;
  live.targetPoint = {NAN, NAN, NAN};
  live.boneAnswered[0] = live.boneAnswered[1] = false;
  if (actor == nullptr || actor->weapon.empty()) {
    call.setInt(0);
    answeredFalse(index, FalseGate::noWeapon);
    return;
  }
  if (auto* out = call.pointerSlot<std::uint32_t>(1)) *out = derived().weaponHash[index];
  call.setInt(1);
}

void weaponKnown(const NativeContext& call) {
  call.setInt(weaponEntry(static_cast<std::uint32_t>(call.slot(0))) != nullptr ? 1 : 0);
}

template <int which>
void weaponCheck(const NativeContext& call) {
  const WeaponEntry* entry = weaponEntry(static_cast<std::uint32_t>(call.slot(0)));
  const bool yes = entry != nullptr && entry->check[which];
  call.setInt(yes ? 1 : 0);
  if (!yes) answeredFalse(derived().subject, which == 0 ? FalseGate::weaponCheck1
                                                        : FalseGate::weaponCheck2);
}

void weaponModelKey(const NativeContext& call) {
  const WeaponEntry* entry = weaponEntry(static_cast<std::uint32_t>(call.slot(0)));
  call.setInt(static_cast<std::int32_t>(entry != nullptr ? entry->modelKey : 0));
  if (PedAnswers* answers = answersAbout(derived().subject)) answers->modelKeyAsked = true;
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
  if (actor != nullptr) noteValue(derived().subject, valueC1, actor->c1);
}

void weaponC2(const NativeContext& call) {
  const Actor* actor = ownerOfWeaponInfo(call.intSlot(0));
  call.setFloat(actor != nullptr ? actor->c2 : 0.0f);
  if (actor != nullptr) noteValue(derived().subject, valueC2, actor->c2);
}

namespace {

// The name's place in the world's list of names found on no weapon; the last place stands for
// any name past the list's end.
std::uint8_t missingBoneName(const char* name) {
  std::vector<std::string>& names = world().boneNames;
  const std::string_view asked = name == nullptr ? "(no name)" : name;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == asked) return static_cast<std::uint8_t>(i);
  }
  constexpr std::size_t kept = 255;
  if (names.size() == kept) names.back() = "(one of many names)";
  if (names.size() < kept) names.emplace_back(asked);
  return static_cast<std::uint8_t>(names.size() - 1);
}

// Degrees between the barrel through its two points and the line from its rear to the target.
float degreesOff(const Vector3& base, const Vector3& tip, const Vector3& target) {
  const double barrel[3] = {tip.x - static_cast<double>(base.x), tip.y - static_cast<double>(base.y),
                            tip.z - static_cast<double>(base.z)};
  const double aim[3] = {target.x - static_cast<double>(base.x),
                         target.y - static_cast<double>(base.y),
                         target.z - static_cast<double>(base.z)};
  const double dot = barrel[0] * aim[0] + barrel[1] * aim[1] + barrel[2] * aim[2];
  const double lengths =
      std::sqrt(barrel[0] * barrel[0] + barrel[1] * barrel[1] + barrel[2] * barrel[2]) *
      std::sqrt(aim[0] * aim[0] + aim[1] * aim[1] + aim[2] * aim[2]);
  const double cosine = std::fmax(-1.0, std::fmin(1.0, dot / lengths));
  return static_cast<float>(std::acos(cosine) * (180.0 / 3.14159265358979323846));
}

}  // namespace

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
  PedAnswers* answers = answersAbout(owner);
  if (answers == nullptr || answers->bonesAsked == 2) return;
  const std::uint8_t asked = answers->bonesAsked++;
  answers->boneIndex[asked] = index;
  if (index == -1) answers->boneName[asked] = missingBoneName(name);
}

// Once both points of the subject's barrel are answered, how far off its target they point.
void bonePosition(const NativeContext& call) {
  Derived& live = derived();
  const long owner = ownerOfWeaponObject(call.intSlot(0));
  const std::int32_t index = call.intSlot(1);
  const bool known = owner >= 0 && (index == baseBoneIndex || index == tipBoneIndex);
  const Vector3 point =
      !known ? Vector3{0.0f, 0.0f, 0.0f}
             : index == baseBoneIndex ? live.base[owner] : live.tip[owner];
  call.setVector(point);
  if (!known || owner != live.subject) return;
  const int end = index == baseBoneIndex ? 0 : 1;
  live.bonePoint[end] = point;
  live.boneAnswered[end] = true;
  if (live.boneAnswered[0] && live.boneAnswered[1]) {
    answersAbout(owner)->barrelOff = degreesOff(live.bonePoint[0], live.bonePoint[1],
                                                live.targetPoint);
  }
}

template void weaponCheck<0>(const NativeContext&);
template void weaponCheck<1>(const NativeContext&);

}  // namespace sim
