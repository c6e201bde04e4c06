// What the simulated world keeps while it answers the plug-in: the handles it hands out, what
// it works out once from the scene, and the answers to the natives, one file per family
// (ped_answers.cpp, weapon_answers.cpp, screen_answers.cpp). Only the world's own files include
// this; everything else goes through world.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "world.h"

namespace sim {

// Handles the world hands out: distinct ranges, so that a set item or a weapon object passed
// where a ped is expected finds nothing.
constexpr Entity firstActorHandle = 101;
constexpr Entity firstWeaponObject = 5001;
constexpr std::int32_t firstWeaponInfo = 7001;
constexpr std::int32_t firstSetItem = 90001;
// Items past the set's own, when the search answers more than it found, and the handles of
// peds gone stale that some of them stand for: ranges nothing live uses.
constexpr std::int32_t firstStaleItem = 190001;
constexpr Entity firstStaleHandle = 290001;
constexpr std::int32_t baseBoneIndex = 11;
constexpr std::int32_t tipBoneIndex = 12;

struct WeaponEntry {
  std::uint32_t modelKey = 0;
  bool check[2] = {false, false};
};

// A released set keeps its slot and its buffer for the next one: a steady frame allocates nothing.
struct LiveSet {
  std::int32_t handle = 0;
  bool live = false;
  std::vector<std::size_t> actors;
  std::int32_t answeredCount = 0;  // what the search answered, which may differ from actors
};

// What the world works out once from the scene, so that each answer is a lookup.
struct Derived {
  std::vector<Entity> handles;        // per actor, as the game hands them out
  std::vector<Entity> objectHandles;  // per actor, its weapon object's
  std::vector<Vector3> positions;     // per actor, as the position query answers
  std::vector<long> targetIndex;
  std::vector<std::uint32_t> weaponHash;
  std::vector<const GameWeapon*> bones;
  std::vector<Vector3> base;
  std::vector<Vector3> tip;
  struct DistanceAnswer {
    Vector3 from, to;
    float answer;
  };
  std::vector<DistanceAnswer> distanceAnswers;  // faulty answers, usually none
  std::unordered_map<std::uint32_t, WeaponEntry> weapons;
  std::vector<LiveSet> sets;
  std::int32_t lastSetHandle = 0;
  std::int32_t colour[4] = {0, 0, 0, 0};
  float scale[2] = {0.0f, 0.0f};
  std::size_t unknownAtFrameStart = 0;
  std::vector<std::uint32_t> rowCalls;  // this frame's calls per native, in table order

  // Handles a capture gave out that are not where actorHandle puts them (none for a scene).
  std::unordered_map<Entity, long> otherHandles;

  // The ped the plug-in is asking about: the last whose current weapon it asked for. Questions
  // that name no ped (a weapon hash, the world's values) are answered about it. Noted from the
  // answers as given (answer_notes.cpp), whoever gave them.
  long subject = -1;
  long subjectTarget = -1;         // its target, as the target query answered
  Entity subjectTargetHandle = 0;  // likewise, as a handle
  bool targetGatePending = false;  // the target was answered, the target gate not yet asked
  bool targetAnswered = false;     // the target query answered a ped handle (not 0)
  bool targetPlaced = false;       // the target's position was answered
  Vector3 targetAt{};
  Entity subjectObject = 0;  // its weapon object, as answered
  std::uint8_t bonesPlaced = 0;
  Vector3 boneAt[2]{};  // its barrel points, as answered
};

Derived& derived();

// The actor behind an entity handle, or -1. A handle the scene made stale refers to nothing,
// and neither does the handle it replaced.
long actorOf(Entity handle);
long ownerOfWeaponObject(Entity handle);
const Actor* actorAt(long index);

// What the game answers about a ped in this frame is noted here (nullptr for no ped).
inline PedAnswers* answersAbout(long actorIndex) {
  return actorIndex < 0 ? nullptr : &world().current.actors[actorIndex].answers;
}
// A question about the subject, or about the ped, answered false.
void answeredFalse(long actorIndex, FalseGate gate);
// A game value answered below 0 about a ped (the callers test the value first: most are not).
void noteBelowZero(long actorIndex, GameValue value);

// The name's place in WorldState::boneNames, the names the game found on no weapon.
std::uint8_t missingBoneName(const char* name);

// Counts a call the game would not accept; the first ones are kept with their native.
void protocolError(const NativeContext& call, const char* what);

// The actors within the radius of the centre, into found, reusing its buffer: the search runs
// every frame and a steady frame allocates nothing.
void collectSearchResult(const Scene& scene, const Vector3& centre, double radius,
                         std::vector<std::size_t>& found);

// Metres between two points, as the distance native answers them.
double metresBetween(const Vector3& from, const Vector3& to);

// The answers, as the game gives them. Peds, sets and the values of the world:
void playerPed(const NativeContext& call);
void entityCoords(const NativeContext& call);
void nameHashOf(const NativeContext& call);
void createSet(const NativeContext& call);
void searchPeds(const NativeContext& call);
void setItem(const NativeContext& call);
void itemEntity(const NativeContext& call);
template <int which>
void filter(const NativeContext& call);
void releaseSet(const NativeContext& call);
void pedTarget(const NativeContext& call);
void targetCheck(const NativeContext& call);
void pointDistanceOf(const NativeContext& call);
void entityValueP(const NativeContext& call);
void worldW1(const NativeContext& call);
void worldW2(const NativeContext& call);
void worldW3(const NativeContext& call);
void worldN(const NativeContext& call);
void pedH(const NativeContext& call);
void ratioNumerator(const NativeContext& call);
void ratioDenominator(const NativeContext& call);
void pedBonus(const NativeContext& call);
void answerZero(const NativeContext& call);

// Weapons, their objects and their bones:
void currentWeapon(const NativeContext& call);
void weaponKnown(const NativeContext& call);
template <int which>
void weaponCheck(const NativeContext& call);
void weaponModelKey(const NativeContext& call);
void weaponObject(const NativeContext& call);
void weaponInfo(const NativeContext& call);
void weaponC1(const NativeContext& call);
void weaponC2(const NativeContext& call);
void boneIndex(const NativeContext& call);
void bonePosition(const NativeContext& call);

// The screen and the label:
void worldToScreen(const NativeContext& call);
void absoluteValue(const NativeContext& call);
void labelLimit(const NativeContext& call);
void answerNothing(const NativeContext& call);

// What each answer tells of the ped asked about, noted after the answer, whoever gave it (the
// scene or a capture), so that a reason reads the same from both (answer_notes.cpp).
void noteCoords(const NativeContext& call);
void noteCreateSet(const NativeContext& call);
void noteItemEntity(const NativeContext& call);
template <int which>
void noteFilter(const NativeContext& call);
void noteCurrentWeapon(const NativeContext& call);
template <int which>
void noteWeaponGate(const NativeContext& call);
void notePedTarget(const NativeContext& call);
void noteTargetCheck(const NativeContext& call);
void noteValueP(const NativeContext& call);
template <GameValue value>
void noteSubjectValue(const NativeContext& call);
void noteValueH(const NativeContext& call);
void noteBand(const NativeContext& call);
void noteWeaponObject(const NativeContext& call);
void noteModelKey(const NativeContext& call);
void noteBoneIndex(const NativeContext& call);
void noteBoneCoords(const NativeContext& call);
void noteNumerator(const NativeContext& call);
void noteDenominator(const NativeContext& call);
void noteBonus(const NativeContext& call);
void noteSetAccuracy(const NativeContext& call);
template <int which>
void notePedSetting(const NativeContext& call);
void noteTextColour(const NativeContext& call);
void noteTextScale(const NativeContext& call);
void noteDrawText(const NativeContext& call);

}  // namespace sim
