#include "world.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <unordered_map>

namespace sim {

// The actors within the radius of the centre, into found, reusing its buffer.
void collectSearchResult(const Scene& scene, const Vector3& centre, double radius,
                         std::vector<std::size_t>& found);

namespace {

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

// Where a ped holds its gun: half a metre out towards its aim, at the height of its position
// (taken as the chest); the barrel is a quarter metre long.
constexpr double handReach = 0.5;
constexpr double barrelLength = 0.25;

// A 50 degree vertical field of view on a 16:9 screen.
constexpr double tanHalfVerticalFov = 0.46630765815499858;  // tan(25 degrees)
constexpr double aspectRatio = 16.0 / 9.0;
constexpr double nearPlane = 0.05;
constexpr double pi = 3.14159265358979323846;

// The barrel bones of the game's weapon models, as the models name them.
const ModelBones gameModelBones[] = {
    {"rv_cattleman", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_cattleman_john", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_cattleman_mexican", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_cattleman_pig", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_schfld", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_schfld_golden", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_schfld_calloway", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_db_actn", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_db_actn_exotic", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_db_actn_micah", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_navy", "Gun_Lead1", "Gun_Muzzle"},
    {"rv_lemat", "Gun_Lead1", "Gun_Muzzle"},
    {"ps_volcnc", "gun_vfx_eject", "Gun_Muzzle"},
    {"ps_mauser", "Gun_Ammo1", "Gun_Muzzle"},
    {"ps_mauser_drunk", "Gun_Ammo1", "Gun_Muzzle"},
    {"ps_semiauto", "gun_guncock4", "gun_muzzle"},
    {"ps_m1899", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"rp_carbine", "Gun_Ammo2", "Gun_Muzzle"},
    {"rp_winchester", "Gun_Ammo2", "Gun_Muzzle"},
    {"rp_henry", "gun_cock2", "Gun_Muzzle"},
    {"rp_evans", "Gun_Ammo1", "Gun_Muzzle"},
    {"rf_spring", "Gun_Ammo2", "Gun_Muzzle"},
    {"rf_boltactn", "gun_cock1", "Gun_Muzzle"},
    {"rf_varmint", "gun_cock1", "Gun_Muzzle"},
    {"rf_elephant", "gun_muzzle", "gun_projectile"},
    {"sg_dbbarrel", "Gun_Ammo2", "gun_muzzle1"},
    {"sg_dbbarrel_exotic", "Gun_Ammo2", "gun_muzzle1"},
    {"sg_sawedoff", "gun_ammo2", "Gun_Muzzle1"},
    {"sg_semiauto", "Gun_Ammo3", "Gun_Muzzle"},
    {"sg_repeating", "Gun_Ammo2", "Gun_Muzzle"},
    {"sg_pump", "Gun_Ammo3", "Gun_Muzzle"},
    {"sn_carcano", "Gun_Ammo1", "Gun_Muzzle"},
    {"sn_rolling", "Gun_VFX_Eject", "Gun_Muzzle"},
    {"sn_rolling_exotic", "Gun_VFX_Eject", "Gun_Muzzle"},
};

struct Vec {
  double x, y, z;
};
Vec operator+(Vec a, Vec b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
Vec operator-(Vec a, Vec b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
Vec operator*(double s, Vec a) { return {s * a.x, s * a.y, s * a.z}; }
double dot(Vec a, Vec b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Vec cross(Vec a, Vec b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double length(Vec a) { return std::sqrt(dot(a, a)); }
Vec toVec(const Vector3& v) { return {v.x, v.y, v.z}; }
Vector3 toVector3(Vec v) {
  return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
}
// The unit vector along a, or the fallback when a has no length.
Vec unit(Vec a, Vec fallback) {
  const double size = length(a);
  return size > 0.0 ? (1.0 / size) * a : fallback;
}

// Sine and cosine from their series, with nothing but + * /: the same bits in every build, so
// the in-process run and the DLL under Wine place the same bones.
void sinCosDegrees(double degrees, double& sine, double& cosine) {
  const double reduced = std::fmod(degrees, 360.0);
  const double folded = reduced > 180.0    ? reduced - 360.0
                        : reduced < -180.0 ? reduced + 360.0
                                           : reduced;
  const double x = folded * (pi / 180.0);
  double term = x;
  sine = 0.0;
  for (int n = 1; n < 40; n += 2) {
    sine += term;
    term *= -x * x / ((n + 1) * (n + 2));
  }
  term = 1.0;
  cosine = 0.0;
  for (int n = 0; n < 40; n += 2) {
    cosine += term;
    term *= -x * x / ((n + 1) * (n + 2));
  }
}

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
  std::vector<const ModelBones*> bones;
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
};

// Plain globals rather than function-local statics: the answers reach them on every native, and
// nothing asks the world anything while globals are being constructed.
WorldState worldState;
Derived derivedState;

Derived& derived() { return derivedState; }

// The actor behind an entity handle, or -1. A handle the scene made stale refers to nothing,
// and neither does the handle it replaced.
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

// ---- the natives, as the game answers them ----

void playerPed(const NativeContext& call) { call.setInt(derived().handles[0]); }

// Anything the world does not know stands at the origin, as the game answers for a bad handle.
void entityCoords(const NativeContext& call) {
  const Entity entity = call.intSlot(0);
  if (const long index = actorOf(entity); index >= 0) {
    call.setVector(derived().positions[index]);
  } else if (const long owner = ownerOfWeaponObject(entity); owner >= 0) {
    call.setVector(derived().base[owner]);
  } else {
    call.setVector({0.0f, 0.0f, 0.0f});
  }
}

void nameHashOf(const NativeContext& call) {
  const char* text = call.pointerSlot<const char>(0);
  call.setInt(static_cast<std::int32_t>(text != nullptr ? gameNameHash(text) : 0));
}

void createSet(const NativeContext& call) {
  Derived& live = derived();
  const std::int32_t handle = ++live.lastSetHandle;
  LiveSet* slot = nullptr;
  for (LiveSet& set : live.sets) {
    if (!set.live) slot = &set;
  }
  if (slot == nullptr) slot = &live.sets.emplace_back();
  slot->handle = handle;
  slot->live = true;
  slot->actors.clear();
  slot->answeredCount = 0;
  world().current.setsCreated.push_back(handle);
  call.setInt(handle);
}

LiveSet* findSet(std::int32_t handle) {
  for (LiveSet& set : derived().sets) {
    if (set.live && set.handle == handle) return &set;
  }
  return nullptr;
}

void searchPeds(const NativeContext& call) {
  LiveSet* set = findSet(call.intSlot(4));
  if (set == nullptr) {
    protocolError(call, "searched into a set that does not exist");
    call.setInt(0);
    return;
  }
  const Vector3 centre{call.floatSlot(0), call.floatSlot(1), call.floatSlot(2)};
  const WorldState& state = world();
  collectSearchResult(state.scene, centre, call.floatSlot(3), set->actors);
  for (const std::size_t i : set->actors) world().current.actors[i].inSet = true;
  set->answeredCount =
      state.scene.values.foundCount.value_or(static_cast<std::int32_t>(set->actors.size()));
  call.setInt(set->answeredCount);
}

void setItem(const NativeContext& call) {
  const LiveSet* set = findSet(call.intSlot(1));
  const std::int32_t index = call.intSlot(0);
  const auto held = set == nullptr ? 0 : static_cast<std::int32_t>(set->actors.size());
  if (set == nullptr || index < 0 || index >= std::max(held, set->answeredCount)) {
    call.setInt(0);
    return;
  }
  if (index < held) {
    call.setInt(firstSetItem + static_cast<std::int32_t>(set->actors[index]));
    return;
  }
  // Past its own peds the set holds items of peds that are gone; far past them, nothing.
  const std::int32_t gone = index - held;
  call.setInt(gone < firstStaleHandle - firstStaleItem ? firstStaleItem + gone : 0);
}

// Items of gone peds turn into the handles 0 and -1 and stale ones, in turn.
void itemEntity(const NativeContext& call) {
  const std::int32_t item = call.intSlot(0);
  const long index = static_cast<long>(item) - firstSetItem;
  if (index >= 0 && index < static_cast<long>(derived().handles.size())) {
    call.setInt(derived().handles[index]);
  } else if (item >= firstStaleItem && item < firstStaleHandle) {
    const std::int32_t gone = item - firstStaleItem;
    call.setInt(gone % 3 == 0 ? 0 : gone % 3 == 1 ? -1 : firstStaleHandle + gone);
  } else {
    call.setInt(0);
  }
}

template <int which>
void filter(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setInt(actor != nullptr && actor->filter[which] ? 1 : 0);
}

void currentWeapon(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  const Actor* actor = actorAt(index);
  if (actor == nullptr || actor->weapon.empty()) {
    call.setInt(0);
    return;
  }
  if (auto* out = call.pointerSlot<std::uint32_t>(1)) *out = derived().weaponHash[index];
  call.setInt(1);
}

const WeaponEntry* weaponEntry(std::uint32_t hash) {
  const auto found = derived().weapons.find(hash);
  return found == derived().weapons.end() ? nullptr : &found->second;
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

template <int which>
void pedSetting(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  if (index < 0) return protocolError(call, "per-ped setting for an entity that is no ped");
  ActorFrame& frame = world().current.actors[index];
  ++frame.settingCalls[which];
  frame.settingValues[which] = call.floatSlot(1);
}

void releaseSet(const NativeContext& call) {
  const std::int32_t handle = call.intSlot(0);
  if (LiveSet* set = findSet(handle)) {
    set->live = false;
    world().current.setsReleased.push_back(handle);
    return;
  }
  protocolError(call, "released a set that does not exist");
}

void pedTarget(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  const long target = index < 0 ? -1 : derived().targetIndex[index];
  call.setInt(target < 0 ? 0 : derived().handles[target]);
}

void targetCheck(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  const bool targetIsActor = actorOf(call.intSlot(1)) >= 0;
  call.setInt(actor != nullptr && targetIsActor && actor->targetCheck ? 1 : 0);
}

// Bit for bit, so that a faulty answer can be tied to points that are not numbers too.
bool sameBits(const Vector3& a, const Vector3& b) {
  const auto bits = [](float value) { return std::bit_cast<std::uint32_t>(value); };
  return bits(a.x) == bits(b.x) && bits(a.y) == bits(b.y) && bits(a.z) == bits(b.z);
}

void pointDistanceOf(const NativeContext& call) {
  const Vector3 from{call.floatSlot(0), call.floatSlot(1), call.floatSlot(2)};
  const Vector3 to{call.floatSlot(3), call.floatSlot(4), call.floatSlot(5)};
  for (const Derived::DistanceAnswer& fault : derived().distanceAnswers) {
    if (sameBits(fault.from, from) && sameBits(fault.to, to)) return call.setFloat(fault.answer);
  }
  call.setFloat(static_cast<float>(length(toVec(from) - toVec(to))));
}

void entityValueP(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setFloat(actor != nullptr ? actor->p : 0.0f);
}

void worldW1(const NativeContext& call) { call.setFloat(world().scene.values.w1); }
void worldW2(const NativeContext& call) { call.setFloat(world().scene.values.w2); }
void worldW3(const NativeContext& call) { call.setFloat(world().scene.values.w3); }
void worldN(const NativeContext& call) { call.setInt(world().scene.values.n); }

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

const Actor* ownerOfWeaponInfo(std::int32_t info) {
  const long index = static_cast<long>(info) - firstWeaponInfo;
  return index >= 0 && index < static_cast<long>(world().scene.actors.size()) ? actorAt(index)
                                                                              : nullptr;
}

void weaponC1(const NativeContext& call) {
  const Actor* actor = ownerOfWeaponInfo(call.intSlot(0));
  call.setFloat(actor != nullptr ? actor->c1 : 0.0f);
}

void weaponC2(const NativeContext& call) {
  const Actor* actor = ownerOfWeaponInfo(call.intSlot(0));
  call.setFloat(actor != nullptr ? actor->c2 : 0.0f);
}

void pedH(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setFloat(actor != nullptr ? actor->h : 0.0f);
}

// Bone names are matched as the model spells them, letter case included: a name the plug-in
// changed shows up as a missing bone.
void boneIndex(const NativeContext& call) {
  const long owner = ownerOfWeaponObject(call.intSlot(0));
  const char* name = call.pointerSlot<const char>(1);
  const ModelBones* bones = owner < 0 ? nullptr : derived().bones[owner];
  std::int32_t index = -1;
  if (bones != nullptr && name != nullptr) {
    const std::string& missing = world().scene.actors[owner].missingBones;
    if (std::strcmp(name, bones->base) == 0 && missing != "base" && missing != "both") {
      index = baseBoneIndex;
    } else if (std::strcmp(name, bones->tip) == 0 && missing != "tip" && missing != "both") {
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

void ratioNumerator(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setInt(actor != nullptr ? actor->numerator : 0);
}

void ratioDenominator(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setInt(actor != nullptr ? actor->denominator : 0);
}

void pedBonus(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setInt(actor != nullptr && actor->bonus ? 1 : 0);
}

void setAccuracy(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  if (index < 0) return protocolError(call, "accuracy set on an entity that is no ped");
  ActorFrame& frame = world().current.actors[index];
  frame.accuracy = call.intSlot(1);
  ++frame.accuracySets;
  ++world().totals.accuracySets;
}

void answerZero(const NativeContext& call) { call.setInt(0); }

void worldToScreen(const NativeContext& call) {
  const Vector3 point{call.floatSlot(0), call.floatSlot(1), call.floatSlot(2)};
  const ScreenPoint screen = projectToScreen(world().scene, point);
  if (!screen.inFront) {
    call.setInt(0);
    return;
  }
  const CameraSpec& camera = world().scene.camera;
  if (auto* x = call.pointerSlot<float>(3)) *x = camera.screenX.value_or(screen.x);
  if (auto* y = call.pointerSlot<float>(4)) *y = camera.screenY.value_or(screen.y);
  call.setInt(1);
}

void absoluteValue(const NativeContext& call) {
  const std::optional<float>& fault = world().scene.camera.absoluteValue;
  call.setFloat(fault ? *fault : std::fabs(call.floatSlot(0)));
}

void labelLimit(const NativeContext& call) {
  const CameraSpec& camera = world().scene.camera;
  call.setFloat(camera.labelLimit.value_or(static_cast<float>(camera.pullBack)));
}

void textColour(const NativeContext& call) {
  for (int i = 0; i < 4; ++i) derived().colour[i] = call.intSlot(i);
}

void textScale(const NativeContext& call) {
  derived().scale[0] = call.floatSlot(0);
  derived().scale[1] = call.floatSlot(1);
}

void drawText(const NativeContext& call) {
  Label label;
  if (const char* text = call.pointerSlot<const char>(0)) label.text = text;
  label.x = call.floatSlot(1);
  label.y = call.floatSlot(2);
  std::memcpy(label.colour, derived().colour, sizeof label.colour);
  std::memcpy(label.scale, derived().scale, sizeof label.scale);
  world().current.labels.push_back(std::move(label));
  ++world().totals.labels;
  call.setInt(0);
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

Vec handPosition(const Scene& scene, std::size_t index, Vec& aimPoint) {
  const Actor& actor = scene.actors[index];
  const Vec position = toVec(actor.position);
  const Actor* targetActor = findActor(scene, actor.target);
  if (targetActor != nullptr) {
    aimPoint = toVec(targetActor->position);
  } else if (index != 0) {
    aimPoint = toVec(scene.actors[0].position);  // unengaged peds face the player
  } else {
    aimPoint = position + Vec{0.0, 1.0, 0.0};
  }
  const Vec towards{aimPoint.x - position.x, aimPoint.y - position.y, 0.0};
  return position + handReach * unit(towards, Vec{0.0, 0.0, 0.0});
}

// The barrel leaves the hand along the line to the aim point, raised by the aim error.
void placeBarrel(const Scene& scene, std::size_t index, Vec& base, Vec& tip) {
  Vec aimPoint{};
  base = handPosition(scene, index, aimPoint);
  const Vec aim = unit(aimPoint - base, Vec{0.0, 1.0, 0.0});
  const Vec up{0.0, 0.0, 1.0};
  Vec raise = up - dot(up, aim) * aim;
  if (length(raise) < 1e-9) raise = Vec{1.0, 0.0, 0.0} - aim.x * aim;  // aiming straight up
  raise = unit(raise, Vec{1.0, 0.0, 0.0});
  double sine = 0.0;
  double cosine = 1.0;
  sinCosDegrees(scene.actors[index].aimError, sine, cosine);
  const Vec direction = cosine * aim + sine * raise;
  tip = base + barrelLength * direction;
}

struct Camera {
  Vec eye, forward, right, up;
};

Camera cameraOf(const Scene& scene) {
  Camera camera;
  const Vec eye = toVec(scene.actors[0].position) + Vec{0.0, 0.0, scene.camera.eyeHeight};
  camera.forward = unit(toVec(scene.camera.lookAt) - eye, Vec{0.0, 1.0, 0.0});
  camera.right = unit(cross(camera.forward, Vec{0.0, 0.0, 1.0}), Vec{1.0, 0.0, 0.0});
  camera.up = cross(camera.right, camera.forward);
  camera.eye = eye - scene.camera.pullBack * camera.forward;
  return camera;
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

Entity actorHandle(std::size_t actorIndex) {
  return firstActorHandle + static_cast<Entity>(actorIndex);
}

Entity weaponObjectHandle(std::size_t actorIndex) {
  return firstWeaponObject + static_cast<Entity>(actorIndex);
}

Entity handleOf(const Scene& scene, std::size_t actorIndex) {
  return scene.actors[actorIndex].handle.value_or(actorHandle(actorIndex));
}

Vector3 answeredPosition(const Scene& scene, std::size_t actorIndex) {
  const Actor& actor = scene.actors[actorIndex];
  return actor.reportedPosition.value_or(actor.position);
}

Vector3 searchCentre(const Scene& scene) {
  return scene.actors[0].handle ? Vector3{0.0f, 0.0f, 0.0f} : answeredPosition(scene, 0);
}

// Fills found, reusing its buffer: the search runs every frame and a steady frame allocates
// nothing.
void collectSearchResult(const Scene& scene, const Vector3& centre, double radius,
                         std::vector<std::size_t>& found) {
  found.clear();
  for (std::size_t i = 0; i < scene.actors.size(); ++i) {
    if (i == 0 && !scene.actors[0].inSearch) continue;
    if (!(length(toVec(scene.actors[i].position) - toVec(centre)) <= radius)) continue;
    found.push_back(i);
  }
}

std::vector<std::size_t> searchResult(const Scene& scene, const Vector3& centre, double radius) {
  std::vector<std::size_t> found;
  collectSearchResult(scene, centre, radius, found);
  return found;
}

const ModelBones* modelBones(const std::string& model) {
  for (const ModelBones& row : gameModelBones) {
    if (model == row.model) return &row;
  }
  return nullptr;
}

std::span<const ModelBones> knownModels() { return gameModelBones; }

unsigned addressSlotsOf(std::uint64_t hash) {
  for (const NativeRow& row : nativeRows) {
    if (row.hash == hash) return row.addressSlots;
  }
  return 0;
}

const Actor* findActor(const Scene& scene, const std::string& name) {
  if (name.empty()) return nullptr;
  for (const Actor& actor : scene.actors) {
    if (actor.name == name) return &actor;
  }
  return nullptr;
}

Vector3 baseBonePosition(const Scene& scene, std::size_t actorIndex) {
  Vec base{}, tip{};
  placeBarrel(scene, actorIndex, base, tip);
  return toVector3(base);
}

Vector3 tipBonePosition(const Scene& scene, std::size_t actorIndex) {
  Vec base{}, tip{};
  placeBarrel(scene, actorIndex, base, tip);
  return toVector3(tip);
}

double barrelMisalignment(const Scene& scene, std::size_t actorIndex) {
  const Actor* target = findActor(scene, scene.actors[actorIndex].target);
  if (target == nullptr) return -1.0;
  const Vec base = toVec(baseBonePosition(scene, actorIndex));
  const Vec barrel = unit(toVec(tipBonePosition(scene, actorIndex)) - base, Vec{0, 0, 0});
  const Vec aim = unit(toVec(target->position) - base, Vec{0, 0, 0});
  const double cosine = dot(barrel, aim);
  return std::acos(cosine > 1.0 ? 1.0 : cosine < -1.0 ? -1.0 : cosine) * (180.0 / pi);
}

Vector3 cameraPosition(const Scene& scene) { return toVector3(cameraOf(scene).eye); }

ScreenPoint projectToScreen(const Scene& scene, const Vector3& point) {
  const Camera camera = cameraOf(scene);
  const Vec view = toVec(point) - camera.eye;
  const double depth = dot(view, camera.forward);
  ScreenPoint screen;
  if (!(depth > nearPlane)) return screen;  // behind the eye, or nowhere (NaN)
  screen.inFront = true;
  const double across = dot(view, camera.right) / (depth * tanHalfVerticalFov * aspectRatio);
  const double upwards = dot(view, camera.up) / (depth * tanHalfVerticalFov);
  screen.x = static_cast<float>(0.5 + 0.5 * across);
  screen.y = static_cast<float>(0.5 - 0.5 * upwards);
  return screen;
}

std::string expectedSkipReason(const Scene& scene, std::size_t actorIndex) {
  const Actor& actor = scene.actors[actorIndex];
  if (actorIndex == 0) return actor.inSearch ? "the player" : "the player, not in the search";
  const std::vector<std::size_t> found = searchResult(scene, searchCentre(scene), 150.0);
  const auto place = std::find(found.begin(), found.end(), actorIndex);
  if (place == found.end()) {
    const Actor& player = scene.actors[0];
    const bool centredOnPlayer = !player.handle && !player.reportedPosition;
    return centredOnPlayer ? "beyond 150 m of the player" : "beyond 150 m of the search centre";
  }
  if (place - found.begin() >= scene.values.foundCount.value_or(static_cast<int>(found.size()))) {
    return "past the found count";
  }
  if (actor.handle) return "its handle refers to nothing";
  for (int i = 0; i < 3; ++i) {
    if (!actor.filter[i]) return "filter " + std::to_string(i + 1) + " false";
  }
  if (actor.weapon.empty()) return "no current weapon";
  for (int i = 0; i < 2; ++i) {
    if (!actor.weaponCheck[i]) return "weapon check " + std::to_string(i + 1) + " false";
  }
  const Actor* target = findActor(scene, actor.target);
  if (target == nullptr) return "no target";
  if (target->handle) return "its target's handle refers to nothing";
  if (!target->filter[0]) return "target fails filter 1";
  if (actor.targetCheck && modelBones(actor.model) == nullptr) {
    return "no barrel bones for model " + actor.model;
  }
  return "";
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
  for (std::size_t i = 0; i < count; ++i) {
    const Actor& actor = scene.actors[i];
    live.handles.push_back(handleOf(scene, i));
    live.objectHandles.push_back(actor.weaponObjectHandle.value_or(weaponObjectHandle(i)));
    live.positions.push_back(answeredPosition(scene, i));
    long target = -1;
    for (std::size_t j = 0; j < count && !actor.target.empty(); ++j) {
      if (scene.actors[j].name == actor.target) target = static_cast<long>(j);
    }
    live.targetIndex.push_back(target);
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
    Vec base{}, tip{};
    placeBarrel(scene, i, base, tip);
    live.base.push_back(actor.reportedBaseBone.value_or(toVector3(base)));
    live.tip.push_back(actor.reportedTipBone.value_or(toVector3(tip)));
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
