// The simulated world's state and its record of every frame: the scene installed into the fake
// host, one handler per native the plug-in may call (the table below; the answers themselves
// are in ped_answers.cpp, weapon_answers.cpp and screen_answers.cpp), and the frames kept.
#include "world.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string_view>
#include <unordered_map>

#include "files.h"
#include "natives.h"
#include "world_live.h"

namespace sim {

namespace {

// Plain globals rather than function-local statics: the answers reach them on every native, and
// nothing asks the world anything while globals are being constructed.
WorldState worldState;
Derived derivedState;

}  // namespace

Derived& derived() { return derivedState; }

long actorOf(Entity handle) {
  const long index = static_cast<long>(handle) - firstActorHandle;
  const Derived& live = derived();
  const std::vector<Entity>& handles = live.handles;
  if (index >= 0 && index < static_cast<long>(handles.size()) && handles[index] == handle) {
    return index;
  }
  if (live.otherHandles.empty()) return -1;
  const auto found = live.otherHandles.find(handle);
  return found == live.otherHandles.end() ? -1 : found->second;
}
long ownerOfWeaponObject(Entity handle) {
  const long index = static_cast<long>(handle) - firstWeaponObject;
  const std::vector<Entity>& handles = derived().objectHandles;
  return index >= 0 && index < static_cast<long>(handles.size()) && handles[index] == handle ? index
                                                                                             : -1;
}
const Actor* actorAt(long index) { return index < 0 ? nullptr : &world().scene.actors[index]; }

void answeredFalse(long actorIndex, FalseGate gate) {
  if (PedAnswers* answers = answersAbout(actorIndex)) answers->falseGate = gate;
}

void noteBelowZero(long actorIndex, GameValue value) {
  if (PedAnswers* answers = answersAbout(actorIndex)) answers->belowZero |= 1u << value;
}

namespace {
std::string logPath;                  // where the plug-in's start-up log is, kept across scenes
AnswerSource answerSource = nullptr;  // null: the world answers from its scene
FrameCloseHook frameCloseHook = nullptr;
std::uint64_t nativeHashAt(std::size_t row);
}  // namespace

void protocolError(const NativeContext& call, const char* what) {
  ++world().totals.protocolErrors;
  std::vector<std::string>& errors = world().protocolErrors;
  if (errors.size() >= 50) return;  // the first ones tell the story
  char text[256];
  std::snprintf(text, sizeof text, "native 0x%016llX (%s): %s",
                static_cast<unsigned long long>(call.hash), pluginConstantOf(call.hash), what);
  errors.push_back(text);
}

namespace {

// A fresh record for the next frame. A record that was not kept lends its buffers to the next,
// so that frames that are not recorded allocate nothing.
void resetFrame() {
  FrameRecord& current = world().current;
  FrameRecord next;
  next.actors = std::move(current.actors);
  next.labels = std::move(current.labels);
  next.setsCreated = std::move(current.setsCreated);
  next.setsReleased = std::move(current.setsReleased);
  next.nativeCalls = std::move(current.nativeCalls);
  next.labels.clear();
  next.setsCreated.clear();
  next.setsReleased.clear();
  next.nativeCalls.clear();
  next.actors.assign(world().scene.actors.size(), ActorFrame{});
  current = std::move(next);
  Derived& live = derived();
  live.subject = -1;
  live.subjectTarget = -1;
  live.subjectTargetHandle = 0;
  live.targetPlaced = false;
  live.subjectObject = 0;
  live.bonesPlaced = 0;
  live.unknownAtFrameStart = host().unknownNativeCount;
}

void keepFrame(WorldState& state, bool mustKeep) {
  FrameRecord& current = state.current;
  RunTotals& totals = state.totals;
  if (state.lastKeptOnlyAsLast) {
    state.frames.pop_back();
    state.lastKeptOnlyAsLast = false;
  }
  const bool same = state.previous.number != 0 && sameFrame(current, state.previous);
  if (!same && current.number > 1 && !current.afterSaveLoad) {
    if (totals.changedFrames++ == 0) totals.firstChangedFrame = current.number;
  }
  if (current.afterSaveLoad && !state.saveLoads.empty() &&
      state.saveLoads.back().frame == current.number) {
    SaveLoadRecord& record = state.saveLoads.back();
    record.labels = static_cast<std::uint32_t>(current.labels.size());
    for (const ActorFrame& actor : current.actors) {
      if (actor.accuracySets == 0) continue;
      ++record.treated;
      record.accuracySum += actor.accuracy;
    }
  }
  if (current.number <= framesKeptInFull || mustKeep ||
      (!same && state.frames.size() < framesKeptInFull + changedFramesKept)) {
    state.frames.push_back(current);
  }
  // The record closed before lends its buffers to the next frame: nothing is allocated.
  std::swap(state.previous, current);
}

// The Angle line of the start-up log, as the plug-in wrote it at its script's start: the value
// it then holds, whatever the settings file says and however the plug-in read it.
void readLoggedAngle(FrameRecord& frame) {
  frame.angleLogged = false;
  std::FILE* log = logPath.empty() ? nullptr : openFile(logPath, "rb");
  if (log == nullptr) return;
  char line[512];
  constexpr std::string_view label = "Angle: ";
  while (std::fgets(line, sizeof line, log) != nullptr) {
    if (std::string_view(line).substr(0, label.size()) != label) continue;
    char* end = nullptr;
    const double angle = std::strtod(line + label.size(), &end);
    frame.angleLogged = end != line + label.size();
    frame.angle = angle;
    break;
  }
  std::fclose(log);
}

void closeFrame(DWORD milliseconds) {
  WorldState& state = world();
  FrameRecord& current = state.current;
  // The log is written as the script starts, before its first wait.
  if (state.totals.frames == 0 || current.afterSaveLoad) readLoggedAngle(current);
  current.waitMilliseconds = milliseconds;
  current.lastNative = host().pendingHash;
  current.unknownNatives =
      static_cast<std::uint32_t>(host().unknownNativeCount - derived().unknownAtFrameStart);
  current.natives += current.unknownNatives;
  current.number = ++state.totals.frames;
  state.totals.natives += current.natives;
  state.totals.unknownNatives += current.unknownNatives;
  std::vector<std::uint32_t>& calls = derived().rowCalls;
  for (std::size_t row = 0; row < calls.size(); ++row) {
    if (calls[row] != 0) current.nativeCalls.emplace_back(nativeHashAt(row), calls[row]);
    calls[row] = 0;
  }
  current.endsWithReleaseThenWait = current.lastNative == natives::releasePedSetNative &&
                                    current.setsCreated.size() == 1 &&
                                    current.setsReleased == current.setsCreated;
  // The script keeps the settings it read at its start until the next start.
  const bool angleLogged = current.angleLogged;
  const double angle = current.angle;
  const bool mustKeep = frameCloseHook != nullptr && frameCloseHook(current);
  if (state.recordFrames) keepFrame(state, mustKeep);
  resetFrame();
  state.current.angleLogged = angleLogged;
  state.current.angle = angle;
}

// Every native the plug-in may call: how many slots it takes, which of them carry an address
// (bit i for slot i), and the answer; natives.h names them.
struct NativeRow {
  std::uint64_t hash;
  std::size_t slots;
  unsigned addressSlots;
  void (*answer)(const NativeContext&);
  void (*note)(const NativeContext&);  // what the answer tells of the ped asked about, or null
};

const NativeRow nativeRows[] = {
    {natives::playerPedNative, 0, 0, playerPed, nullptr},
    {natives::entityCoordsNative, 3, 0, entityCoords, noteCoords},
    {natives::nameHashNative, 1, 0b1, nameHashOf, nullptr},
    {natives::createPedSetNative, 1, 0, createSet, noteCreateSet},
    {natives::findNearbyPedsNative, 6, 0, searchPeds, nullptr},
    {natives::pedSetItemNative, 2, 0, setItem, nullptr},
    {natives::itemEntityNative, 1, 0, itemEntity, noteItemEntity},
    {natives::pedFirstFilterNative, 1, 0, filter<0>, noteFilter<0>},
    {natives::pedSecondFilterNative, 1, 0, filter<1>, noteFilter<1>},
    {natives::pedThirdFilterNative, 1, 0, filter<2>, noteFilter<2>},
    {natives::currentWeaponNative, 5, 0b10, currentWeapon, noteCurrentWeapon},
    {natives::weaponKnownNative, 1, 0, weaponKnown, nullptr},
    {natives::pedFirstSettingNative, 2, 0, answerNothing, notePedSetting<0>},
    {natives::pedSecondSettingNative, 2, 0, answerNothing, notePedSetting<1>},
    {natives::releasePedSetNative, 1, 0, releaseSet, nullptr},
    {natives::weaponFirstGateNative, 1, 0, weaponCheck<0>, noteWeaponGate<0>},
    {natives::weaponSecondGateNative, 1, 0, weaponCheck<1>, noteWeaponGate<1>},
    {natives::pedTargetNative, 1, 0, pedTarget, notePedTarget},
    {natives::zeroAccuracyGateNative, 3, 0, targetCheck, noteTargetCheck},
    {natives::distanceBetweenNative, 7, 0, pointDistanceOf, nullptr},
    {natives::sValueNative, 1, 0, entityValueP, noteValueP},
    {natives::w1ValueNative, 0, 0, worldW1, noteSubjectValue<valueW1>},
    {natives::w2ValueNative, 0, 0, worldW2, noteSubjectValue<valueW2>},
    {natives::w3ValueNative, 0, 0, worldW3, noteSubjectValue<valueW3>},
    {natives::bandValueNative, 0, 0, worldN, noteBand},
    {natives::weaponObjectNative, 2, 0, weaponObject, noteWeaponObject},
    {natives::weaponObjectKeyNative, 1, 0, weaponInfo, nullptr},
    {natives::c1ValueNative, 1, 0, weaponC1, noteSubjectValue<valueC1>},
    {natives::c2ValueNative, 1, 0, weaponC2, noteSubjectValue<valueC2>},
    {natives::hValueNative, 1, 0, pedH, noteValueH},
    {natives::weaponModelKeyNative, 1, 0, weaponModelKey, noteModelKey},
    {natives::boneIndexNative, 2, 0b10, boneIndex, noteBoneIndex},
    {natives::boneCoordsNative, 2, 0, bonePosition, noteBoneCoords},
    {natives::ratioNumeratorNative, 1, 0, ratioNumerator, noteNumerator},
    {natives::ratioDenominatorNative, 2, 0, ratioDenominator, noteDenominator},
    {natives::bonusNative, 3, 0, pedBonus, noteBonus},
    {natives::setAccuracyNative, 2, 0, answerNothing, noteSetAccuracy},
    {natives::accuracyUnreadNative, 1, 0, answerZero, nullptr},
    {natives::worldToScreenNative, 5, 0b11000, worldToScreen, nullptr},
    {natives::absoluteValueNative, 1, 0, absoluteValue, nullptr},
    {natives::labelLimitNative, 0, 0, labelLimit, nullptr},
    {natives::textColourNative, 4, 0, answerNothing, noteTextColour},
    {natives::textScaleNative, 2, 0, answerNothing, noteTextScale},
    {natives::drawTextNative, 3, 0b1, answerZero, noteDrawText},
};

std::uint64_t nativeHashAt(std::size_t row) { return nativeRows[row].hash; }

void answerChecked(const NativeRow& row, const NativeContext& call) {
  ++world().current.natives;
  ++derived().rowCalls[static_cast<std::size_t>(&row - nativeRows)];
  if (call.slotCount != row.slots) {
    protocolError(call, "called with the wrong number of slots");
  } else {
    for (std::size_t i = 0; i < call.slotCount; ++i) {
      if ((row.addressSlots >> i & 1u) == 0 && call.slots[i] >> 32 != 0) {
        protocolError(call, "a value slot has a non-zero upper half");
        break;
      }
    }
  }
  if (answerSource != nullptr) {
    answerSource(call);
  } else {
    row.answer(call);
  }
  if (row.note != nullptr) row.note(call);
}

}  // namespace

WorldState& world() { return worldState; }

const char* pluginConstantOf(std::uint64_t hash) {
  const char* name = natives::nameOf(hash);
  return name != nullptr ? name : "unknown to the game";
}

namespace {
bool sameBits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool sameAnswers(const PedAnswers& a, const PedAnswers& b) {
  return a.falseGate == b.falseGate && a.modelKeyAsked == b.modelKeyAsked &&
         a.bonusAsked == b.bonusAsked && a.bonus == b.bonus && a.belowZero == b.belowZero &&
         a.bonesAsked == b.bonesAsked && a.boneName[0] == b.boneName[0] &&
         a.boneName[1] == b.boneName[1] && a.boneIndex[0] == b.boneIndex[0] &&
         a.boneIndex[1] == b.boneIndex[1] && a.band == b.band && a.numerator == b.numerator &&
         a.denominator == b.denominator && sameBits(a.barrelOff, b.barrelOff);
}

bool sameActor(const ActorFrame& a, const ActorFrame& b) {
  return a.inSet == b.inSet && a.accuracy == b.accuracy && a.accuracySets == b.accuracySets &&
         a.settingCalls[0] == b.settingCalls[0] && a.settingCalls[1] == b.settingCalls[1] &&
         sameBits(a.settingValues[0], b.settingValues[0]) &&
         sameBits(a.settingValues[1], b.settingValues[1]) && sameAnswers(a.answers, b.answers);
}

bool sameLabel(const Label& a, const Label& b) {
  return a.text == b.text && sameBits(a.x, b.x) && sameBits(a.y, b.y) &&
         std::equal(std::begin(a.colour), std::end(a.colour), std::begin(b.colour)) &&
         sameBits(a.scale[0], b.scale[0]) && sameBits(a.scale[1], b.scale[1]);
}
}  // namespace

bool sameFrame(const FrameRecord& a, const FrameRecord& b) {
  // Set handles differ every frame; what counts is how many were made and whether each went.
  const bool aReleasedAll = a.setsReleased == a.setsCreated;
  const bool bReleasedAll = b.setsReleased == b.setsCreated;
  return a.natives == b.natives && a.unknownNatives == b.unknownNatives &&
         a.angleLogged == b.angleLogged &&
         std::bit_cast<std::uint64_t>(a.angle) == std::bit_cast<std::uint64_t>(b.angle) &&
         a.lastNative == b.lastNative && a.waitMilliseconds == b.waitMilliseconds &&
         a.endsWithReleaseThenWait == b.endsWithReleaseThenWait &&
         a.setsCreated.size() == b.setsCreated.size() &&
         a.setsReleased.size() == b.setsReleased.size() && aReleasedAll == bReleasedAll &&
         a.nativeCalls == b.nativeCalls &&
         std::equal(a.actors.begin(), a.actors.end(), b.actors.begin(), b.actors.end(),
                    sameActor) &&
         std::equal(a.labels.begin(), a.labels.end(), b.labels.begin(), b.labels.end(), sameLabel);
}

void noteSaveLoad(int settingsFile) {
  WorldState& state = world();
  ++state.totals.saveLoads;
  state.current.afterSaveLoad = true;
  if (state.saveLoads.size() < saveLoadsKept) {
    state.saveLoads.push_back({state.totals.frames + 1, settingsFile, 0, 0, 0});
  }
}

void keepLastFrame() {
  WorldState& state = world();
  const FrameRecord& last = state.previous;
  if (!state.recordFrames || last.number == 0) return;
  if (state.frames.empty() || state.frames.back().number != last.number) {
    state.frames.push_back(last);
    state.lastKeptOnlyAsLast = true;
  }
}

void setPluginLogPath(const std::string& path) { logPath = path; }

void answerFrom(AnswerSource source) { answerSource = source; }

void onFrameClose(FrameCloseHook hook) { frameCloseHook = hook; }

unsigned addressSlotsOf(std::uint64_t hash) {
  for (const NativeRow& row : nativeRows) {
    if (row.hash == hash) return row.addressSlots;
  }
  return 0;
}

void installWorld(const Scene& scene) {
  resetHost();
  answerSource = nullptr;
  frameCloseHook = nullptr;
  HostState& state = host();
  state.recording = false;
  state.onWait = closeFrame;

  WorldState& current = world();
  current = WorldState{};
  current.scene = scene;

  Derived& live = derived();
  live = Derived{};
  const std::size_t count = scene.actors.size();
  // Targets by name at once: a crowd of thousands would otherwise take seconds to set up.
  std::unordered_map<std::string_view, long> indexByName;
  for (std::size_t i = 0; i < count; ++i) {
    indexByName[scene.actors[i].name] = static_cast<long>(i);
  }
  for (std::size_t i = 0; i < count; ++i) {
    const Actor& actor = scene.actors[i];
    live.handles.push_back(handleOf(scene, i));
    if (live.handles[i] > 0 && live.handles[i] != actorHandle(i)) {
      live.otherHandles[live.handles[i]] = static_cast<long>(i);
    }
    live.objectHandles.push_back(actor.weaponObjectHandle.value_or(weaponObjectHandle(i)));
    live.positions.push_back(answeredPosition(scene, i));
    const auto target = actor.target.empty() ? indexByName.end() : indexByName.find(actor.target);
    live.targetIndex.push_back(target == indexByName.end() ? -1 : target->second);
    const std::uint32_t hash = actor.weapon.empty() ? 0 : gameNameHash(actor.weapon.c_str());
    live.weaponHash.push_back(hash);
    live.bones.push_back(modelBones(actor.model));
    if (!actor.weapon.empty()) {
      WeaponEntry& entry = live.weapons[hash];
      entry.modelKey = gameNameHash(actor.model.c_str());
      entry.check[0] = actor.weaponCheck[0];
      entry.check[1] = actor.weaponCheck[1];
    }
  }
  for (std::size_t i = 0; i < count; ++i) {
    const Actor& actor = scene.actors[i];
    live.base.push_back(actor.reportedBaseBone.value_or(baseBonePosition(scene, i)));
    live.tip.push_back(actor.reportedTipBone.value_or(tipBonePosition(scene, i)));
    if (actor.reportedDistance && live.targetIndex[i] >= 0) {
      live.distanceAnswers.push_back(
          {live.positions[i], live.positions[live.targetIndex[i]], *actor.reportedDistance});
    }
  }
  live.rowCalls.assign(std::size(nativeRows), 0);

  for (const NativeRow& row : nativeRows) {
    const NativeRow* entry = &row;
    answer(row.hash, [entry](const NativeContext& call) { answerChecked(*entry, call); });
  }
  resetFrame();
}

}  // namespace sim
