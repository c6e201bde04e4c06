// What each answer tells of the ped asked about, noted in the frame's record for the report's
// reasons: the same notes whether the scene or a capture of the real game gave the answer, so
// that a reason reads the same from both. Each is run after the answer is in the result slots.
#include <cmath>
#include <cstring>

#include "world_live.h"

namespace sim {

namespace {

std::int32_t answeredInt(const NativeContext& call) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(call.result[0]));
}
float answeredFloat(const NativeContext& call) { return lowHalfAsFloat(call.result[0]); }
Vector3 answeredVector(const NativeContext& call) {
  return {lowHalfAsFloat(call.result[0]), lowHalfAsFloat(call.result[1]),
          lowHalfAsFloat(call.result[2])};
}

// The ped the call's first slot names, or -1.
long askedAbout(const NativeContext& call) { return actorOf(call.intSlot(0)); }

// The subject's weapon object names it only when it is a handle the game hands out (above 0).
bool isSubjectsObject(Entity handle) {
  const Derived& live = derived();
  return live.subject >= 0 && live.subjectObject > 0 && handle == live.subjectObject;
}

}  // namespace

// The target's position is where the plug-in measures its barrel against.
void noteCoords(const NativeContext& call) {
  Derived& live = derived();
  if (live.subjectTargetHandle != 0 && call.intSlot(0) == live.subjectTargetHandle) {
    live.targetAt = answeredVector(call);
    live.targetPlaced = true;
  }
}

void noteCreateSet(const NativeContext& call) {
  world().current.setsCreated.push_back(answeredInt(call));
}

void noteItemEntity(const NativeContext& call) {
  if (const long index = actorOf(answeredInt(call)); index >= 0) {
    world().current.actors[index].inSet = true;
  }
}

// The first filter also gates the target, asked right after the target query: its no is then
// the shooter's.
template <int which>
void noteFilter(const NativeContext& call) {
  const bool yes = answeredInt(call) != 0;
  if constexpr (which == 0) {
    Derived& live = derived();
    if (live.targetGatePending) {
      live.targetGatePending = false;
      if (yes) return;
      return answeredFalse(live.subject, !live.targetAnswered   ? FalseGate::noTarget
                                         : askedAbout(call) < 0 ? FalseGate::targetNothing
                                                                : FalseGate::targetFilter);
    }
  }
  constexpr FalseGate own[] = {FalseGate::filter1, FalseGate::filter2, FalseGate::filter3};
  if (!yes) answeredFalse(askedAbout(call), own[which]);
}

// The plug-in asks for a ped's current weapon before anything else about it: the ped becomes
// the subject that the questions naming no ped are about.
void noteCurrentWeapon(const NativeContext& call) {
  Derived& live = derived();
  const long asked = askedAbout(call);
  live.subject = asked;
  live.subjectTarget = -1;
  live.subjectTargetHandle = 0;
  live.targetGatePending = false;
  live.targetPlaced = false;
  live.subjectObject = 0;
  live.bonesPlaced = 0;
  if (answeredInt(call) == 0) answeredFalse(asked, FalseGate::noWeapon);
}

template <int which>
void noteWeaponGate(const NativeContext& call) {
  if (answeredInt(call) == 0) {
    answeredFalse(derived().subject,
                  which == 0 ? FalseGate::weaponCheck1 : FalseGate::weaponCheck2);
  }
}

void notePedTarget(const NativeContext& call) {
  Derived& live = derived();
  const Entity handle = answeredInt(call);
  live.targetGatePending = true;
  live.targetAnswered = handle != 0;
  live.subjectTargetHandle = handle;
  live.subjectTarget = actorOf(handle);
}

void noteTargetCheck(const NativeContext& call) {
  if (answeredInt(call) == 0) answeredFalse(askedAbout(call), FalseGate::targetCheck);
}

// Asked for the shooter, then for its target.
void noteValueP(const NativeContext& call) {
  if (!(answeredFloat(call) < 0.0f)) return;
  const Derived& live = derived();
  const long asked = askedAbout(call);
  if (asked < 0) return;
  if (asked == live.subject) noteBelowZero(live.subject, valueP);
  if (asked == live.subjectTarget) noteBelowZero(live.subject, valueTargetP);
}

// A value the game gives without a ped (or for the weapon's key): the subject's.
template <GameValue value>
void noteSubjectValue(const NativeContext& call) {
  if (answeredFloat(call) < 0.0f) noteBelowZero(derived().subject, value);
}

void noteValueH(const NativeContext& call) {
  if (answeredFloat(call) < 0.0f) noteBelowZero(askedAbout(call), valueH);
}

void noteBand(const NativeContext& call) {
  if (PedAnswers* answers = answersAbout(derived().subject)) answers->band = answeredInt(call);
}

void noteWeaponObject(const NativeContext& call) {
  Derived& live = derived();
  if (askedAbout(call) == live.subject) live.subjectObject = answeredInt(call);
}

void noteModelKey(const NativeContext&) {
  if (PedAnswers* answers = answersAbout(derived().subject)) answers->modelKeyAsked = true;
}

void noteBoneIndex(const NativeContext& call) {
  if (!isSubjectsObject(call.intSlot(0))) return;
  PedAnswers* answers = answersAbout(derived().subject);
  if (answers == nullptr || answers->bonesAsked == 2) return;
  const std::uint8_t bone = answers->bonesAsked++;
  const std::int32_t index = answeredInt(call);
  answers->boneIndex[bone] = index;
  if (index == -1) answers->boneName[bone] = missingBoneName(call.pointerSlot<const char>(1));
}

// Both points answered: the barrel runs from the first to the second, as the plug-in measures it,
// against the target where the game placed it.
void noteBoneCoords(const NativeContext& call) {
  Derived& live = derived();
  if (!isSubjectsObject(call.intSlot(0)) || live.bonesPlaced >= 2) return;
  live.boneAt[live.bonesPlaced++] = answeredVector(call);
  PedAnswers* answers = answersAbout(live.subject);
  if (live.bonesPlaced == 2 && live.targetPlaced && answers != nullptr) {
    answers->barrelOff =
        static_cast<float>(degreesOff(live.boneAt[0], live.boneAt[1], live.targetAt));
  }
}

void noteNumerator(const NativeContext& call) {
  if (PedAnswers* answers = answersAbout(askedAbout(call))) answers->numerator = answeredInt(call);
}

void noteDenominator(const NativeContext& call) {
  if (PedAnswers* answers = answersAbout(askedAbout(call)))
    answers->denominator = answeredInt(call);
}

void noteBonus(const NativeContext& call) {
  if (PedAnswers* answers = answersAbout(askedAbout(call))) {
    answers->bonusAsked = true;
    answers->bonus = answeredInt(call) != 0;
  }
}

void noteSetAccuracy(const NativeContext& call) {
  const long index = askedAbout(call);
  if (index < 0) return protocolError(call, "accuracy set on an entity that is no ped");
  ActorFrame& frame = world().current.actors[index];
  frame.accuracy = call.intSlot(1);
  ++frame.accuracySets;
  ++world().totals.accuracySets;
}

template <int which>
void notePedSetting(const NativeContext& call) {
  const long index = askedAbout(call);
  if (index < 0) return protocolError(call, "per-ped setting for an entity that is no ped");
  ActorFrame& frame = world().current.actors[index];
  ++frame.settingCalls[which];
  frame.settingValues[which] = call.floatSlot(1);
}

void noteTextColour(const NativeContext& call) {
  for (int i = 0; i < 4; ++i) derived().colour[i] = call.intSlot(i);
}

void noteTextScale(const NativeContext& call) {
  derived().scale[0] = call.floatSlot(0);
  derived().scale[1] = call.floatSlot(1);
}

void noteDrawText(const NativeContext& call) {
  Label label;
  if (const char* text = call.pointerSlot<const char>(0)) label.text = text;
  label.x = call.floatSlot(1);
  label.y = call.floatSlot(2);
  std::memcpy(label.colour, derived().colour, sizeof label.colour);
  std::memcpy(label.scale, derived().scale, sizeof label.scale);
  world().current.labels.push_back(std::move(label));
  ++world().totals.labels;
}

template void noteFilter<0>(const NativeContext&);
template void noteFilter<1>(const NativeContext&);
template void noteFilter<2>(const NativeContext&);
template void noteWeaponGate<0>(const NativeContext&);
template void noteWeaponGate<1>(const NativeContext&);
template void noteSubjectValue<valueW1>(const NativeContext&);
template void noteSubjectValue<valueW2>(const NativeContext&);
template void noteSubjectValue<valueW3>(const NativeContext&);
template void noteSubjectValue<valueC1>(const NativeContext&);
template void noteSubjectValue<valueC2>(const NativeContext&);
template void notePedSetting<0>(const NativeContext&);
template void notePedSetting<1>(const NativeContext&);

}  // namespace sim
