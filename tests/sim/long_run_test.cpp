// Long runs of the simulated game: frames kept in constant memory, running totals, and save
// loads that start the plug-in's script anew on the next settings file.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "fake_game_test.h"
#include "game_api.h"
#include "scene.h"
#include "script/keyboard.h"
#include "script/script.h"
#include "world.h"

namespace {

using LongRunTest = FakeGameTest;

std::vector<std::uint64_t> keptNumbers() {
  std::vector<std::uint64_t> numbers;
  for (const sim::FrameRecord& frame : sim::world().frames) numbers.push_back(frame.number);
  return numbers;
}

// A folder of its own standing for the game's, with the scene written into it; named after this
// process too, so that two checkouts testing at once do not share it.
std::filesystem::path gameFolder(const char* name, const std::string& scene) {
  std::filesystem::path folder =
      std::filesystem::temp_directory_path() / (name + ("-" + std::to_string(getpid())));
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "scene.ini") << scene;
  sim::setExecutablePath((folder / "game-sim.exe").string());
  return folder;
}

const char* const twoShooters = R"(
[player]
position = 0, 0, 0
[North]
position = 0, 30, 0
weapon = WEAPON_REVOLVER_CATTLEMAN
model = rv_cattleman
target = player
aim error = 1
[East]
position = 40, 0, 0
weapon = WEAPON_RIFLE_SPRINGFIELD
model = rf_spring
target = player
)";

TEST_F(LongRunTest, KeepsTheFirstFramesThenOnlyChangedOnesAndTheLastWhileTotalsCountAll) {
  const std::filesystem::path folder = gameFolder("long-run-kept", twoShooters);
  const GameSimApi& api = *gameSimApi();
  ASSERT_EQ(api.loadScene((folder / "scene.ini").c_str()), nullptr);
  sim::hostScriptRegister(nullptr, onScriptStart);
  api.runFrames(25);

  const sim::WorldState& state = sim::world();
  EXPECT_EQ(keptNumbers(), (std::vector<std::uint64_t>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 25}));
  const sim::FrameRecord& first = state.frames[0];
  EXPECT_EQ(state.totals.frames, 25u);
  EXPECT_EQ(state.totals.natives, 25u * first.natives);
  EXPECT_EQ(state.totals.accuracySets, 50u);
  EXPECT_EQ(state.totals.changedFrames, 0u);

  // The world changes under the plug-in: that frame is kept and counted, the next is like it.
  sim::world().scene.actors[2].filter[0] = false;
  api.runFrames(5);
  EXPECT_EQ(keptNumbers().back(), 30u);
  EXPECT_EQ(keptNumbers()[keptNumbers().size() - 2], 26u);
  EXPECT_EQ(state.totals.changedFrames, 1u);
  EXPECT_EQ(state.totals.firstChangedFrame, 26u);
  EXPECT_EQ(state.totals.accuracySets, 55u);

  // A world that changes every frame fills the bound and no more.
  for (int i = 0; i < 2 * static_cast<int>(sim::changedFramesKept); ++i) {
    sim::world().scene.actors[2].filter[0] = i % 2 == 0;
    api.runFrames(1);
  }
  EXPECT_EQ(state.frames.size(), sim::framesKeptInFull + sim::changedFramesKept + 1);
  EXPECT_EQ(state.frames.back().number, state.totals.frames);
  EXPECT_EQ(state.totals.changedFrames, 1u + 2 * sim::changedFramesKept);
  std::filesystem::remove_all(folder);
}

TEST_F(LongRunTest, SaveLoadsStartTheScriptAnewOnTheNextSettingsFileInTurn) {
  const std::string scene = std::string(twoShooters) + R"(
[settings]
file = <<<END
[Debug]
DisplayAccuracy = true
[Settings]
Angle = 3
END
file 2 = <<<END
[Debug]
DisplayAccuracy = false
[Settings]
Angle = 1.5
END
file 3 = <<<END
[Debug]
DisplayAccuracy = true
[Settings]
Angle = 6
END
)";
  const std::filesystem::path folder = gameFolder("long-run-save-loads", scene);
  const GameSimApi& api = *gameSimApi();
  ASSERT_EQ(api.loadScene((folder / "scene.ini").c_str()), nullptr);
  const std::string settingsPath = (folder / "vok.quillmarrowfendcask.ini").string();
  std::ofstream(settingsPath, std::ios::binary) << api.sceneSettingsFile();
  static std::vector<std::pair<std::uint64_t, bool>> told;
  told.clear();
  api.setSaveLoads(4, settingsPath.c_str());
  api.setKeysEveryFrame(true);
  api.setFrameObserver(
      [](std::uint64_t frame, bool started) { told.emplace_back(frame, started); });
  api.setPluginLog((folder / "vok.quillmarrowfendcask.log").c_str());
  sim::hostScriptRegister(nullptr, onScriptStart);
  sim::hostKeyboardHandlerRegister(onKeyboardEvent);
  const std::uint64_t keysBefore = sim::keyboardEventsSent;
  api.runFrames(13);

  const sim::WorldState& state = sim::world();
  ASSERT_EQ(told.size(), 13u);
  for (const auto& [frame, started] : told) {
    EXPECT_EQ(started, frame == 1 || frame % 4 == 0) << "frame " << frame;
  }
  EXPECT_EQ(told.back().first, 13u);
  ASSERT_EQ(state.saveLoads.size(), 3u);
  EXPECT_EQ(state.totals.saveLoads, 3u);
  const int files[] = {2, 3, 1};
  const bool labels[] = {false, true, true};
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(state.saveLoads[i].frame, 4 * (i + 1));
    EXPECT_EQ(state.saveLoads[i].settingsFile, files[i]);
    EXPECT_EQ(state.saveLoads[i].labels > 0, labels[i]) << "save load " << i + 1;
    EXPECT_EQ(state.saveLoads[i].treated, 2u);
  }
  // The angle read anew: file 1 gives the first frame's accuracies again, 1.5 less, 6 more.
  std::int64_t firstSum = 0;
  for (const sim::ActorFrame& actor : state.frames[0].actors) {
    if (actor.accuracySets > 0) firstSum += actor.accuracy;
  }
  EXPECT_EQ(state.saveLoads[2].accuracySum, firstSum);
  EXPECT_LT(state.saveLoads[0].accuracySum, firstSum);
  EXPECT_GT(state.saveLoads[1].accuracySum, firstSum);
  EXPECT_EQ(state.totals.changedFrames, 0u);
  // Each frame's reasons take the Angle the plug-in logged at the start of its script.
  const double logged[] = {3.0, 1.5, 6.0, 3.0};
  for (const sim::FrameRecord& frame : state.frames) {
    EXPECT_TRUE(frame.angleLogged) << "frame " << frame.number;
    EXPECT_EQ(frame.angle, logged[frame.number / 4]) << "frame " << frame.number;
  }
  // Once at the start and before every frame, three events each time.
  EXPECT_EQ(sim::keyboardEventsSent - keysBefore, 3u * 14);
  std::ifstream written(settingsPath, std::ios::binary);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(written), {}), api.sceneSettingsFile());
  // The schedule outlives the scene; the tests after this one run without save loads.
  api.setFrameObserver(nullptr);
  api.setSaveLoads(0, nullptr);
  api.setKeysEveryFrame(false);
  api.setPluginLog(nullptr);
  std::filesystem::remove_all(folder);
}

TEST(SameFrame, SetHandlesAsideEveryDifferenceCounts) {
  sim::FrameRecord a;
  a.actors.resize(2);
  a.actors[1] = {true, 40, 1, {1, 1}, {1.0f, std::numeric_limits<float>::quiet_NaN()}, {}};
  a.labels.push_back({"Accuracy: 40", 0.5f, 0.25f, {255, 0, 0, 255}, {0.3f, 0.3f}});
  a.setsCreated = {7};
  a.setsReleased = {7};
  a.natives = 30;
  sim::FrameRecord b = a;
  b.number = 9;
  b.setsCreated = {8};
  b.setsReleased = {8};
  EXPECT_TRUE(sim::sameFrame(a, b));  // the same NaN counts as the same value

  sim::FrameRecord kept = b;
  kept.setsReleased.clear();
  kept.natives = a.natives - 1;  // one release call fewer: the counts alone would tell too
  EXPECT_FALSE(sim::sameFrame(a, kept));
  kept.natives = a.natives;
  EXPECT_FALSE(sim::sameFrame(a, kept));
  sim::FrameRecord moved = b;
  moved.labels[0].y = 0.26f;
  EXPECT_FALSE(sim::sameFrame(a, moved));
  sim::FrameRecord set = b;
  set.actors[1].accuracy = 41;
  EXPECT_FALSE(sim::sameFrame(a, set));
  sim::FrameRecord fewer = b;
  fewer.labels.clear();
  EXPECT_FALSE(sim::sameFrame(a, fewer));
}

TEST(Scene, SettingsFilesForSaveLoadsComeInTurnWithoutAGap) {
  sim::Scene scene;
  EXPECT_EQ(sim::parseScene("[settings]\nfile = one\nfile 2 = two\nFile 3 = three\n", scene), "");
  EXPECT_EQ(scene.settingsFile, "one\n");
  EXPECT_EQ(scene.laterSettingsFiles, (std::vector<std::string>{"two\n", "three\n"}));
  EXPECT_NE(sim::parseScene("[settings]\nfile = one\nfile 3 = three\n", scene).find("file 3"),
            std::string::npos);
  EXPECT_NE(sim::parseScene("[settings]\nfile 2 = two\n", scene).find("file 2"), std::string::npos);
  EXPECT_NE(sim::parseScene("[settings]\nfile 17 = x\n", scene).find("unknown key"),
            std::string::npos);
}

}  // namespace
