// The capture flavour over the built-in scene: the file it writes reads back as the calls the
// fake host saw, with the game's answers and outputs; and a capture spoiled in any of the usual
// ways gets one error naming what is wrong.
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture.h"
#include "capture/capture_recorder.h"
#include "fake_game_test.h"
#include "file_versions.h"
#include "game_api.h"
#include "natives.h"
#include "plugin_version.h"
#include "script/script.h"

namespace {

namespace fs = std::filesystem;

constexpr int passesWanted = 3;

std::vector<std::uint8_t> fileBytes(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::string fileText(const fs::path& path) {
  const std::vector<std::uint8_t> bytes = fileBytes(path);
  return {bytes.begin(), bytes.end()};
}

std::uint32_t lowHalf(std::uint64_t slot) { return static_cast<std::uint32_t>(slot); }

std::uint32_t writtenWord(const sim::CapturedSlot& slot) {
  EXPECT_EQ(slot.kind, sim::CapturedSlot::Kind::output);
  EXPECT_EQ(slot.written.size(), 4u);
  std::uint32_t word = 0;
  for (std::size_t i = slot.written.size(); i-- > 0;) word = word << 8 | slot.written[i];
  return word;
}

class CaptureTest : public FakeGameTest {
 protected:
  // The built-in scene in a game folder of its own, its settings file asking for a few passes;
  // the script runs more frames than that, so the count, not the unload, ends the capture.
  static void SetUpTestSuite() {
    folder = fs::temp_directory_path() / ("capture-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  static void TearDownTestSuite() { fs::remove_all(folder); }

  void recordBuiltInScene() {
    const GameSimApi& api = *gameSimApi();
    ASSERT_EQ(api.loadScene(nullptr), nullptr);
    std::ofstream(folder / "vok.quillmarrowfendcask.ini", std::ios::binary)
        << api.sceneSettingsFile() << "[Capture]\r\nPasses = " << passesWanted << "\r\n";
    sim::setExecutablePath((folder / "game-sim.exe").string());
    captureUnload(false);          // a fresh module's recorder, whatever another test left
    sim::host().recording = true;  // the world turns the host's record off
    sim::hostScriptRegister(nullptr, onScriptStart);
    sim::runScriptFrames(passesWanted + 2);
  }

  static fs::path folder;
};
fs::path CaptureTest::folder;

TEST_F(CaptureTest, RoundTripGivesTheCallsTheGameSawWithItsAnswersAndOutputs) {
  recordBuiltInScene();
  const fs::path file = folder / "vok.quillmarrowfendcask.capture";
  sim::Capture capture;
  std::string error;
  ASSERT_TRUE(sim::readCapture(fileBytes(file), capture, error)) << error;

  EXPECT_EQ(capture.pluginVersion, pluginVersion);
  EXPECT_EQ(capture.gameVersion, SIM_GAME_FILE_VERSION_TEXT);
  EXPECT_EQ(capture.hostVersion, SIM_HOST_FILE_VERSION_TEXT);
  EXPECT_TRUE(capture.displayAccuracy);  // the scene's settings file asks for labels
  EXPECT_EQ(capture.angleLeniency, angleLeniency);
  EXPECT_EQ(capture.passesWanted, static_cast<std::uint32_t>(passesWanted));
  EXPECT_FALSE(capture.stoppedFull);
  EXPECT_NE(fileText(folder / "vok.quillmarrowfendcask.log")
                .find("Capture: 3 passes, " +
                      std::to_string(capture.passes[0].calls.size() * passesWanted)),
            std::string::npos);
  EXPECT_NE(fileText(folder / "vok.quillmarrowfendcask.log").find("written to " + file.string()),
            std::string::npos);

  // The host's record, cut into passes at its waits: the same calls, slot by slot.
  std::vector<std::vector<sim::RecordedCall>> seen(1);
  for (const sim::RecordedCall& call : sim::host().calls) {
    if (call.isWait) {
      seen.emplace_back();
    } else {
      seen.back().push_back(call);
    }
  }
  ASSERT_EQ(capture.passes.size(), static_cast<std::size_t>(passesWanted));
  int labels = 0;
  int weapons = 0;
  for (std::size_t pass = 0; pass < capture.passes.size(); ++pass) {
    const std::vector<sim::CapturedCall>& calls = capture.passes[pass].calls;
    ASSERT_EQ(calls.size(), seen[pass].size()) << "pass " << pass;
    for (std::size_t i = 0; i < calls.size(); ++i) {
      const sim::CapturedCall& call = calls[i];
      const sim::RecordedCall& made = seen[pass][i];
      ASSERT_EQ(call.hash, made.hash) << "pass " << pass << ", call " << i;
      ASSERT_EQ(call.slots.size(), made.slots.size());
      for (std::size_t s = 0; s < call.slots.size(); ++s) {
        const sim::CapturedSlot& slot = call.slots[s];
        if (slot.kind == sim::CapturedSlot::Kind::value) {
          EXPECT_EQ(slot.value, made.slots[s]) << "pass " << pass << ", call " << i;
        } else if (slot.kind == sim::CapturedSlot::Kind::text) {
          EXPECT_EQ(slot.text, made.text) << "pass " << pass << ", call " << i;
        }
      }
      // What came back is what the plug-in went on with: an answer or an output pushed next.
      if (i + 1 == calls.size()) continue;
      const sim::CapturedCall& next = calls[i + 1];
      if (call.hash == sim::natives::itemEntityNative) {
        EXPECT_EQ(call.answer[0], next.slots[0].value);
      }
      if (call.hash == sim::natives::currentWeaponNative &&
          next.hash == sim::natives::weaponFirstGateNative) {
        ++weapons;
        EXPECT_EQ(writtenWord(call.slots[1]), next.slots[0].value);  // the weapon's gates
      }
      if (call.hash == sim::natives::worldToScreenNative && i + 6 < calls.size() &&
          calls[i + 6].hash == sim::natives::drawTextNative) {
        ++labels;
        EXPECT_EQ(writtenWord(call.slots[3]), lowHalf(calls[i + 6].slots[1].value));
        EXPECT_EQ(writtenWord(call.slots[4]), lowHalf(calls[i + 6].slots[2].value));
        EXPECT_EQ(calls[i + 6].slots[0].kind, sim::CapturedSlot::Kind::text);
      }
    }
  }
  EXPECT_GT(labels, 0);
  EXPECT_GT(weapons, 0);
}

// Cut, altered, another version, or no capture at all: one line that says which, never a crash.
TEST_F(CaptureTest, SpoiledFilesGetOneErrorNamingWhatIsWrong) {
  const fs::path file = folder / "vok.quillmarrowfendcask.capture";
  if (!fs::exists(file)) recordBuiltInScene();
  const std::vector<std::uint8_t> good = fileBytes(file);
  ASSERT_GT(good.size(), 100u);

  std::vector<std::uint8_t> cut(good.begin(), good.end() - 1);
  std::vector<std::uint8_t> headerOnly(good.begin(), good.begin() + 20);
  std::vector<std::uint8_t> flipped = good;
  flipped[good.size() / 2] ^= 0x10;
  std::vector<std::uint8_t> otherVersion = good;
  otherVersion[8] = 2;
  const std::string settings = fileText(folder / "vok.quillmarrowfendcask.ini");
  const std::vector<std::uint8_t> text(settings.begin(), settings.end());
  const struct {
    const char* name;
    const std::vector<std::uint8_t>& bytes;
    const char* error;
  } cases[] = {
      {"cut", cut, "cut short: its header gives "},
      {"cut in the header", headerOnly, "cut short: the file ends inside its header"},
      {"flipped byte", flipped, "altered: its check sum does not match its contents"},
      {"other version", otherVersion, "a capture of format version 2, but this build reads "},
      {"text file", text, "not a capture: "},
      {"empty", {}, "not a capture: "},
  };
  for (const auto& spoiled : cases) {
    sim::Capture capture;
    std::string error;
    EXPECT_FALSE(sim::readCapture(spoiled.bytes, capture, error)) << spoiled.name;
    EXPECT_EQ(error.rfind(spoiled.error, 0), 0u) << spoiled.name << ": " << error;
    EXPECT_EQ(error.find('\n'), std::string::npos) << spoiled.name;
  }
}

}  // namespace
