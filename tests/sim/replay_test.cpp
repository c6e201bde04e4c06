// Replaying a capture: the plug-in run against the capture of a scene run gives every ped the
// accuracy and reason the scene run gave, and a question the capture cannot answer shows as such.
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "fake_game_test.h"
#include "replay_report.h"
#include "replay_world.h"
#include "scene.h"
#include "script/script.h"

namespace {

constexpr std::uint64_t boneIndexNative = 0xBACA8FE9C76C124E;

// The host's traffic of a run in-process, recorded as the capture flavour records it in the
// game: each call's slots (texts as text, addresses as what the game left there), the low halves
// of the answer slots, and a pass per scriptWait.
sim::Capture* recording = nullptr;
void (*worldClosesFrame)(DWORD) = nullptr;

void closePass(DWORD milliseconds) {
  recording->passes.emplace_back();
  worldClosesFrame(milliseconds);
}

void recordCalls(sim::Capture& capture) {
  recording = &capture;
  capture.passes.emplace_back();
  for (sim::HandlerTable::Entry& entry : sim::host().handlers.entries) {
    if (!entry.used) continue;
    entry.handler = [inner = entry.handler](const sim::NativeContext& call) {
      inner(call);
      sim::CapturedCall& captured = recording->passes.back().calls.emplace_back();
      captured.hash = call.hash;
      for (std::size_t i = 0; i < call.slotCount; ++i) {
        sim::CapturedSlot& slot = captured.slots.emplace_back();
        const bool address = call.slot(i) != 0 && (sim::addressSlotsOf(call.hash) >> i & 1u) != 0;
        if (address && static_cast<int>(i) == sim::textSlotOf(call.hash)) {
          slot.kind = sim::CapturedSlot::Kind::text;
          slot.text = call.pointerSlot<const char>(i);
        } else if (address) {
          slot.kind = sim::CapturedSlot::Kind::output;
          const auto* written = call.pointerSlot<const std::uint8_t>(i);
          slot.written.assign(written, written + 4);
        } else {
          slot.value = call.slot(i);
        }
      }
      for (std::size_t i = 0; i < 3; ++i) captured.answer[i] = static_cast<std::uint32_t>(call.result[i]);
    };
  }
  worldClosesFrame = sim::host().onWait;
  sim::host().onWait = closePass;
}

struct Outcome {
  std::int32_t accuracy;
  std::string reason;
  bool operator==(const Outcome&) const = default;
  friend void PrintTo(const Outcome& outcome, std::ostream* out) {
    *out << outcome.accuracy << " (" << outcome.reason << ")";
  }
};
using Outcomes = std::vector<std::map<std::int32_t, Outcome>>;  // per frame, by ped handle

class ReplayTest : public FakeGameTest {
 protected:
  void SetUp() override {
    FakeGameTest::SetUp();
    folder = testing::TempDir() + "replay_test/";
    std::filesystem::create_directories(folder);
    sim::setExecutablePath(folder + "game-sim.exe");
    sim::setPluginLogPath(folder + "vok.quillmarrowfendcask.log");
  }
  void TearDown() override {
    sim::setPluginLogPath("");
    std::filesystem::remove_all(folder);
    FakeGameTest::TearDown();
  }

  // The settings file goes down beside the game as game-sim puts a scene's or a capture's.
  void putSettings(const std::string& text) {
    std::FILE* file = std::fopen((folder + "vok.quillmarrowfendcask.ini").c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs(text.c_str(), file);
    std::fclose(file);
  }

  void runPlugin(int frames) {
    weaponBoneTable.clear();
    sim::hostScriptRegister(nullptr, onScriptStart);
    sim::runScriptFrames(frames);
  }

  // The default scene's run, recorded as a capture.
  Outcomes runScene(int frames, sim::Capture& capture) {
    sim::Scene scene;
    EXPECT_EQ(sim::parseScene(sim::defaultSceneText(), scene), "");
    sim::installWorld(scene);
    putSettings(scene.settingsFile);
    recordCalls(capture);
    runPlugin(frames);
    capture.passes.pop_back();  // begun at the last wait, where the script stopped
    capture.displayAccuracy = displayAccuracy;
    capture.angleLeniency = angleLeniency;
    return outcomes([&](std::size_t actor) { return sim::handleOf(scene, actor); }, sim::pedReason);
  }

  Outcomes replay(const sim::Capture& capture) {
    sim::installReplay(capture, "test.capture");
    putSettings(sim::world().scene.settingsFile);
    runPlugin(static_cast<int>(capture.passes.size()));
    return outcomes([](std::size_t actor) { return sim::replayRecord().handles[actor]; },
                    sim::replayReason);
  }

  template <typename Handle, typename Reason>
  Outcomes outcomes(Handle handle, Reason reason) {
    const sim::WorldState& state = sim::world();
    Outcomes out;
    for (const sim::FrameRecord& frame : state.frames) {
      auto& peds = out.emplace_back();
      for (std::size_t i = 0; i < frame.actors.size(); ++i) {
        const sim::ActorFrame& actor = frame.actors[i];
        if (!actor.inSet) continue;  // a ped the search never found is in no capture
        peds[handle(i)] = {actor.accuracySets == 0 ? -1 : actor.accuracy, reason(state, frame, i)};
      }
    }
    return out;
  }

  std::string folder;
};

TEST_F(ReplayTest, ACaptureReplaysToTheScenesAccuraciesAndReasons) {
  sim::Capture capture;
  const Outcomes scene = runScene(3, capture);
  ASSERT_EQ(capture.passes.size(), 3u);
  EXPECT_EQ(replay(capture), scene);
  EXPECT_EQ(sim::replayRecord().unansweredCount, 0u);
  EXPECT_TRUE(sim::world().protocolErrors.empty());
  // The captured plug-in's accuracies agree with today's, and the report says so.
  const std::string report = sim::replayReport(sim::world(), {}, sim::replayRecord());
  EXPECT_NE(report.find("captured "), std::string::npos) << report;
  EXPECT_EQ(report.find(", now "), std::string::npos) << report;
}

// A weapon row whose tip bone changed since the capture asks the game a name the capture holds
// no answer for. Here the capture's bone name is changed instead of the plug-in's row, for one
// ped's weapon object: the plug-in then asks what the capture cannot answer, as after the edit.
TEST_F(ReplayTest, ABoneNameTheCaptureNeverAnsweredIsMissingAndNamed) {
  sim::Capture capture;
  const Outcomes scene = runScene(2, capture);
  std::int32_t object = 0;
  std::string tip;
  std::size_t renamed = 0;
  for (sim::CapturedPass& pass : capture.passes) {
    int bone = 0;
    for (sim::CapturedCall& call : pass.calls) {
      if (call.hash != boneIndexNative) continue;
      // The second bone of the first weapon asked about: its tip.
      if (object == 0 && ++bone == 2) {
        object = static_cast<std::int32_t>(call.slots[0].value);
        tip = call.slots[1].text;
      }
      if (object != 0 && static_cast<std::int32_t>(call.slots[0].value) == object &&
          call.slots[1].text == tip) {
        call.slots[1].text += "_before";
        ++renamed;
      }
    }
  }
  ASSERT_EQ(renamed, 2u);
  const Outcomes now = replay(capture);
  const sim::ReplayRecord& record = sim::replayRecord();
  EXPECT_EQ(record.unansweredCount, 2u);
  ASSERT_FALSE(record.unanswered.empty());
  EXPECT_NE(record.unanswered[0].find("\"" + tip + "\""), std::string::npos);
  const std::string report = sim::replayReport(sim::world(), {}, record);
  int changed = 0;
  for (std::size_t frame = 0; frame < now.size(); ++frame) {
    for (const auto& [handle, outcome] : now[frame]) {
      const Outcome& before = scene[frame].at(handle);
      if (outcome == before) continue;
      ++changed;
      EXPECT_EQ(outcome.reason, "bone " + tip + " not on the weapon: barrel point at the origin");
      EXPECT_NE(report.find("captured " + std::to_string(before.accuracy) + ", now " +
                            std::to_string(outcome.accuracy)),
                std::string::npos)
          << report;
    }
  }
  EXPECT_EQ(changed, 2);  // that ped, in both passes
}

}  // namespace
