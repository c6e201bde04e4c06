// The simulated world's state and its record of every frame: the scene installed into the fake
// host, one handler per native the plug-in may call (the table below; the answers themselves
// are in ped_answers.cpp, weapon_answers.cpp and screen_answers.cpp), and the frames kept.
#include "world.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <string_view>
#include <unordered_map>

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
  const std::vector<Entity>& handles = derived().handles;
  return index >= 0 && index < static_cast<long>(handles.size()) && handles[index] == handle ? index
                                                                                             : -1;
}
long ownerOfWeaponObject(Entity handle) {
  const long index = static_cast<long>(handle) - firstWeaponObject;
  const std::vector<Entity>& handles = derived().objectHandles;
  return index >= 0 && index < static_cast<long>(handles.size()) && handles[index] == handle ? index
                                                                                             : -1;
}
const Actor* actorAt(long index) { return index < 0 ? nullptr : &world().scene.actors[index]; }

void protocolError(const NativeContext& call, const char* what) {
  ++world().totals.protocolErrors;
  std::vector<std::string>& errors = world().protocolErrors;
  if (errors.size() >= 50) return;  // the first ones tell the story
  char text[160];
  std::snprintf(text, sizeof text, "native 0x%016llX: %s",
                static_cast<unsigned long long>(call.hash), what);
  errors.push_back(text);
}

namespace {

std::uint64_t nativeHashAt(std::size_t row);

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
  derived().unknownAtFrameStart = host().unknownNativeCount;
}

void keepFrame(WorldState& state) {
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
  if (current.number <= framesKeptInFull ||
      (!same && state.frames.size() < framesKeptInFull + changedFramesKept)) {
    state.frames.push_back(current);
  }
  // The record closed before lends its buffers to the next frame: nothing is allocated.
  std::swap(state.previous, current);
}

void closeFrame(DWORD milliseconds) {
  WorldState& state = world();
  FrameRecord& current = state.current;
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
  current.endsWithReleaseThenWait = current.lastNative == 0x712BC69F10549B92 &&
                                    current.setsCreated.size() == 1 &&
                                    current.setsReleased == current.setsCreated;
  if (state.recordFrames) keepFrame(state);
  resetFrame();
}

// Every native the plug-in may call: how many slots it takes, which of them carry an address
// (bit i for slot i), and the answer.
struct NativeRow {
  std::uint64_t hash;
  std::size_t slots;
  unsigned addressSlots;
  void (*answer)(const NativeContext&);
};

const NativeRow nativeRows[] = {
    {0x096275889B8E0EE0, 0, 0, playerPed},
    {0xA86D5F069399F44D, 3, 0, entityCoords},
    {0xFD340785ADF8CFB7, 1, 0b1, nameHashOf},
    {0xA1AF16083320065A, 1, 0, createSet},
    {0x59B57C4B06531E1E, 6, 0, searchPeds},
    {0x275A2E2C0FAB7612, 2, 0, setItem},
    {0xEE04C0AFD4EFAF0E, 1, 0, itemEntity},
    {0xD42BD6EB2E0F1677, 1, 0, filter<0>},
    {0xCF8176912DDA4EA5, 1, 0, filter<1>},
    {0xB980061DA992779D, 1, 0, filter<2>},
    {0x3A87E44BB9A01D54, 5, 0b10, currentWeapon},
    {0xEDCA14CA5199FF25, 1, 0, weaponKnown},
    {0xC2266AA617668AD3, 2, 0, pedSetting<0>},
    {0x2BA918C823B8BA56, 2, 0, pedSetting<1>},
    {0x712BC69F10549B92, 1, 0, releaseSet},
    {0x937C71165CF334B3, 1, 0, weaponCheck<0>},
    {0x705BE297EEBDB95D, 1, 0, weaponCheck<1>},
    {0xCD66FEA29400A0B5, 1, 0, pedTarget},
    {0xFCDFF7B72D23A1AC, 3, 0, targetCheck},
    {0x0BE7F4E3CDBAFB28, 7, 0, pointDistanceOf},
    {0xFB6BA510A533DF81, 1, 0, entityValueP},
    {0x931B5F4CC130224B, 0, 0, worldW1},
    {0x1E5D727041BE1709, 0, 0, worldW2},
    {0xFFB7E74E041150A4, 0, 0, worldW3},
    {0xC82CF208C2B19199, 0, 0, worldN},
    {0x3B390A939AF0B5FC, 2, 0, weaponObject},
    {0x280BBE5601EAA983, 1, 0, weaponInfo},
    {0xD56E5F336C675EFA, 1, 0, weaponC1},
    {0x0D78E1097F89E637, 1, 0, weaponC2},
    {0x6FB76442469ABD68, 1, 0, pedH},
    {0x8EC44AE8DECFF841, 1, 0, weaponModelKey},
    {0xBACA8FE9C76C124E, 2, 0b10, boneIndex},
    {0x82CFA50E34681CA5, 2, 0, bonePosition},
    {0x82368787EA73C0F7, 1, 0, ratioNumerator},
    {0x15D757606D170C3C, 2, 0, ratioDenominator},
    {0x60DFD0691A170B88, 3, 0, pedBonus},
    {0x7AEFB85C1D49DEB6, 2, 0, setAccuracy},
    {0x285D36C5C72B0569, 1, 0, answerZero},
    {0xCB50D7AFCC8B0EC6, 5, 0b11000, worldToScreen},
    {0x134549B388167CBF, 1, 0, absoluteValue},
    {0xF6A96E5ACEEC6E50, 0, 0, labelLimit},
    {0x16FA5CE47F184F1E, 4, 0, textColour},
    {0xA1253A3C870B6843, 2, 0, textScale},
    {0x16794E044C9EFB58, 3, 0b1, drawText},
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
  row.answer(call);
}

}  // namespace

WorldState& world() { return worldState; }

namespace {
bool sameBits(float a, float b) {
  return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool sameActor(const ActorFrame& a, const ActorFrame& b) {
  return a.inSet == b.inSet && a.accuracy == b.accuracy && a.accuracySets == b.accuracySets &&
         a.settingCalls[0] == b.settingCalls[0] && a.settingCalls[1] == b.settingCalls[1] &&
         sameBits(a.settingValues[0], b.settingValues[0]) &&
         sameBits(a.settingValues[1], b.settingValues[1]);
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

unsigned addressSlotsOf(std::uint64_t hash) {
  for (const NativeRow& row : nativeRows) {
    if (row.hash == hash) return row.addressSlots;
  }
  return 0;
}

void installWorld(const Scene& scene) {
  resetHost();
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
