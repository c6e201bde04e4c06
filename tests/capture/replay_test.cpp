// Replaying a capture: the capture flavour's file of the built-in scene, replayed, gives every ped
// the accuracy and reason the scene run gave; and a question the capture cannot answer shows as
// such, with the accuracy the captured plug-in set beside today's.
//
// In this binary the plug-in is the capture flavour, which records passively: its natives, their
// order and results are those of the normal plug-in, so its replay is the normal plug-in's.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "capture.h"
#include "fake_game_test.h"
#include "game_api.h"
#include "replay_report.h"
#include "replay_world.h"
#include "script/script.h"

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t boneIndexNative = 0xBACA8FE9C76C124E;
constexpr int passesRecorded = 3;

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
  // The capture flavour writes one capture per process: the built-in scene's, made once.
  static void SetUpTestSuite() {
    folder = fs::temp_directory_path() / ("replay-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  static void TearDownTestSuite() { fs::remove_all(folder); }

  void SetUp() override {
    FakeGameTest::SetUp();
    sim::setExecutablePath((folder / "game-sim.exe").string());
    sim::setPluginLogPath((folder / "vok.quillmarrowfendcask.log").string());
    if (captured.empty()) captureBuiltInScene();
  }
  void TearDown() override {
    sim::setPluginLogPath("");
    FakeGameTest::TearDown();
  }

  // The built-in scene, its settings file asking the capture flavour for a few passes, run past
  // them; the capture it wrote, and what the scene run gave in those passes.
  static void captureBuiltInScene() {
    const GameSimApi& api = *gameSimApi();
    ASSERT_EQ(api.loadScene(nullptr), nullptr);
    std::ofstream(folder / "vok.quillmarrowfendcask.ini", std::ios::binary)
        << api.sceneSettingsFile() << "[Capture]\r\nPasses = " << passesRecorded << "\r\n";
    runPlugin(passesRecorded + 2);
    std::ifstream file(folder / "vok.quillmarrowfendcask.capture", std::ios::binary);
    captured.assign(std::istreambuf_iterator<char>(file), {});
    scene = outcomes([](std::size_t actor) { return sim::handleOf(sim::world().scene, actor); },
                     sim::pedReason);
    scene.resize(passesRecorded);
  }

  // As game-sim replays a capture: its settings put down, a frame per pass.
  static Outcomes replay(const sim::Capture& capture) {
    EXPECT_EQ(sim::installReplay(capture, "test.capture"), "");
    std::ofstream(folder / "vok.quillmarrowfendcask.ini", std::ios::binary)
        << sim::world().scene.settingsFile;
    runPlugin(static_cast<int>(capture.passes.size()));
    return outcomes([](std::size_t actor) { return sim::replayRecord().handles[actor]; },
                    sim::replayReason);
  }

  static void runPlugin(int frames) {
    weaponBoneTable.clear();
    sim::hostScriptRegister(nullptr, onScriptStart);
    sim::runScriptFrames(frames);
  }

  // Every ped the search found: one it never found is in no capture.
  template <typename Handle, typename Reason>
  static Outcomes outcomes(Handle handle, Reason reason) {
    const sim::WorldState& state = sim::world();
    Outcomes out;
    for (const sim::FrameRecord& frame : state.frames) {
      auto& peds = out.emplace_back();
      for (std::size_t i = 0; i < frame.actors.size(); ++i) {
        const sim::ActorFrame& actor = frame.actors[i];
        if (!actor.inSet) continue;
        peds[handle(i)] = {actor.accuracySets == 0 ? -1 : actor.accuracy, reason(state, frame, i)};
      }
    }
    return out;
  }

  static sim::Capture readBack() {
    sim::Capture capture;
    std::string error;
    EXPECT_TRUE(sim::readCapture(captured, capture, error)) << error;
    EXPECT_EQ(capture.passes.size(), static_cast<std::size_t>(passesRecorded));
    return capture;
  }

  static fs::path folder;
  static std::vector<std::uint8_t> captured;
  static Outcomes scene;
};
fs::path ReplayTest::folder;
std::vector<std::uint8_t> ReplayTest::captured;
Outcomes ReplayTest::scene;

TEST_F(ReplayTest, ACaptureReplaysToTheScenesAccuraciesAndReasons) {
  EXPECT_EQ(replay(readBack()), scene);
  EXPECT_EQ(sim::replayRecord().unansweredCount, 0u);
  EXPECT_TRUE(sim::world().protocolErrors.empty());
  // The captured plug-in's accuracies agree with today's, and the report says so.
  const std::string report = sim::replayReport(sim::world(), {}, sim::replayRecord());
  EXPECT_NE(report.find("captured "), std::string::npos) << report;
  EXPECT_EQ(report.find(", now "), std::string::npos) << report;
}

// A weapon row whose tip bone changed since the capture asks the game a name the capture holds no
// answer for. Here the capture's bone name is changed instead of the plug-in's row, for one ped's
// weapon object: today's plug-in then asks what the capture cannot answer, as after that edit.
TEST_F(ReplayTest, ABoneNameTheCaptureNeverAnsweredIsMissingAndNamed) {
  sim::Capture capture = readBack();
  std::uint64_t object = 0;
  std::string tip;
  std::size_t renamed = 0;
  for (sim::CapturedPass& pass : capture.passes) {
    int bone = 0;
    for (sim::CapturedCall& call : pass.calls) {
      if (call.hash != boneIndexNative) continue;
      // The second bone of the first weapon asked about: its tip.
      if (object == 0 && ++bone == 2) {
        object = call.slots[0].value;
        tip = call.slots[1].text;
      }
      if (object != 0 && call.slots[0].value == object && call.slots[1].text == tip) {
        call.slots[1].text += "_before";
        ++renamed;
      }
    }
  }
  ASSERT_EQ(renamed, static_cast<std::size_t>(passesRecorded));
  const Outcomes now = replay(capture);

  const sim::ReplayRecord& record = sim::replayRecord();
  EXPECT_EQ(record.unansweredCount, static_cast<std::uint64_t>(passesRecorded));
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
  EXPECT_EQ(changed, passesRecorded);  // that ped, in every pass
}

}  // namespace
