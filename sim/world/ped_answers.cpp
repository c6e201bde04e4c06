// The game's answers about peds, the search and its sets, and the values the world gives
// without a ped: every native of that family the plug-in calls.
#include <algorithm>
#include <bit>

#include "world_live.h"

namespace sim {

namespace {

LiveSet* findSet(std::int32_t handle) {
  for (LiveSet& set : derived().sets) {
    if (set.live && set.handle == handle) return &set;
  }
  return nullptr;
}

// Bit for bit, so that a faulty answer can be tied to points that are not numbers too.
bool sameBits(const Vector3& a, const Vector3& b) {
  const auto bits = [](float value) { return std::bit_cast<std::uint32_t>(value); };
  return bits(a.x) == bits(b.x) && bits(a.y) == bits(b.y) && bits(a.z) == bits(b.z);
}

}  // namespace

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
  call.setInt(handle);
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

// The first filter also gates the target, asked right after the target query: its no is then
// the shooter's.
template <int which>
void filter(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setInt(actor != nullptr && actor->filter[which] ? 1 : 0);
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
  Derived& live = derived();
  const long index = actorOf(call.intSlot(0));
  const long target = index < 0 ? -1 : live.targetIndex[index];
  call.setInt(target < 0 ? 0 : live.handles[target]);
}

void targetCheck(const NativeContext& call) {
  const long index = actorOf(call.intSlot(0));
  const Actor* actor = actorAt(index);
  const bool targetIsActor = actorOf(call.intSlot(1)) >= 0;
  call.setInt(actor != nullptr && targetIsActor && actor->targetCheck ? 1 : 0);
}

void pointDistanceOf(const NativeContext& call) {
  const Vector3 from{call.floatSlot(0), call.floatSlot(1), call.floatSlot(2)};
  const Vector3 to{call.floatSlot(3), call.floatSlot(4), call.floatSlot(5)};
  for (const Derived::DistanceAnswer& fault : derived().distanceAnswers) {
    if (sameBits(fault.from, from) && sameBits(fault.to, to)) return call.setFloat(fault.answer);
  }
  call.setFloat(static_cast<float>(metresBetween(from, to)));
}

// Asked for the shooter, then for its target.
void entityValueP(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setFloat(actor != nullptr ? actor->p : 0.0f);
}

void worldW1(const NativeContext& call) { call.setFloat(world().scene.values.w1); }
void worldW2(const NativeContext& call) { call.setFloat(world().scene.values.w2); }
void worldW3(const NativeContext& call) { call.setFloat(world().scene.values.w3); }
void worldN(const NativeContext& call) { call.setInt(world().scene.values.n); }

void pedH(const NativeContext& call) {
  const Actor* actor = actorAt(actorOf(call.intSlot(0)));
  call.setFloat(actor != nullptr ? actor->h : 0.0f);
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

void answerZero(const NativeContext& call) { call.setInt(0); }

// A command the plug-in reads nothing back from: the world notes it, and answers nothing.
void answerNothing(const NativeContext&) {}

template void filter<0>(const NativeContext&);
template void filter<1>(const NativeContext&);
template void filter<2>(const NativeContext&);

}  // namespace sim
