#include "bench_support.h"

#include <cstring>

#include "fake_host.h"
#include "host/host.h"
#include "scene.h"
#include "script/script.h"
#include "settings/settings.h"
#include "world.h"

void enterCrowd(int peds, bool labels) {
  sim::installWorld(sim::crowdScene(peds));
  sim::world().recordFrames = false;
  displayAccuracy = labels;
  angleLeniency = 3.0f;
  runTickPass();
  scriptWait(0);
}

int pedsTreatedByAPass() {
  sim::WorldState& state = sim::world();
  state.recordFrames = true;
  state.frames.clear();
  runTickPass();
  scriptWait(0);
  int treated = 0;
  for (const sim::ActorFrame& actor : state.frames.at(0).actors) treated += actor.accuracySets;
  state.recordFrames = false;
  state.frames.clear();
  return treated;
}

NativeReplay recordNatives(const std::function<void()>& work) {
  sim::HostState& host = sim::host();
  host.calls.clear();
  host.recording = true;
  work();
  host.recording = false;
  NativeReplay replay = sim::replayOf(host.calls);
  host.calls.clear();
  return replay;
}

// As lean as a data-driven call can be: the plug-in pushes constants and registers, this loop
// loads each slot, so the floor leans if anything towards the plug-in.
void replayNatives(NativeReplay& replay) {
  std::uint64_t* slots = replay.slots.data();
  for (const ReplayCall& call : replay.calls) {
    nativeInit(call.hash);
    const std::uint64_t* slot = slots + call.firstSlot;
    const std::uint64_t* const end = slot + call.slotCount;
    for (; slot != end; ++slot) nativePush64(*slot);
    const std::uint64_t* result = nativeCall();
    if (call.createsSet) {
      const std::uint64_t set = sim::setHandleOf(result);
      for (const std::size_t index : replay.setSlots) slots[index] = set;
    }
  }
}

namespace {
std::string compareFrames(const sim::FrameRecord& pass, const sim::FrameRecord& replayed) {
  if (pass.natives != replayed.natives) return "a different number of natives";
  if (replayed.unknownNatives != 0) return "natives the world does not know";
  if (!replayed.endsWithReleaseThenWait) return "a frame that does not end with the release";
  if (pass.labels.size() != replayed.labels.size()) return "a different number of labels";
  for (std::size_t i = 0; i < pass.labels.size(); ++i) {
    const sim::Label& a = pass.labels[i];
    const sim::Label& b = replayed.labels[i];
    if (a.text != b.text || a.x != b.x || a.y != b.y) return "label " + a.text + " differs";
  }
  for (std::size_t i = 0; i < pass.actors.size(); ++i) {
    const sim::ActorFrame& a = pass.actors[i];
    const sim::ActorFrame& b = replayed.actors[i];
    if (a.inSet != b.inSet || a.accuracy != b.accuracy || a.accuracySets != b.accuracySets ||
        std::memcmp(a.settingCalls, b.settingCalls, sizeof a.settingCalls) != 0 ||
        std::memcmp(a.settingValues, b.settingValues, sizeof a.settingValues) != 0) {
      return "actor " + std::to_string(i) + " treated differently";
    }
  }
  return "";
}
}  // namespace

std::string replayDiffersFromPass(NativeReplay& replay) {
  sim::WorldState& state = sim::world();
  state.recordFrames = true;
  state.frames.clear();
  runTickPass();
  scriptWait(0);
  replayNatives(replay);
  scriptWait(0);
  std::string difference =
      state.frames.size() == 2 ? compareFrames(state.frames[0], state.frames[1]) : "frames missing";
  if (difference.empty() && !state.protocolErrors.empty()) difference = state.protocolErrors[0];
  state.recordFrames = false;
  state.frames.clear();
  return difference;
}
