// Replaying a capture: the capture flavour's file of the built-in scene, replayed, gives every ped
// the accuracy and reason the scene run gave; and a question the capture cannot answer shows as
// such, with the accuracy the captured plug-in set beside today's.
//
// In this binary the plug-in is the capture flavour, which records passively: its natives, their
// order and results are those of the normal plug-in, so its replay is the normal plug-in's.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "capture.h"
#include "capture/capture_format.h"
#include "fake_game_test.h"
#include "game_api.h"
#include "natives.h"
#include "replay_report.h"
#include "replay_world.h"
#include "script/script.h"

namespace {

namespace fs = std::filesystem;

namespace natives = sim::natives;
namespace format = capture_format;
constexpr int passesRecorded = 3;

// A capture as a version 1 file, which every build replays: a capture changed in memory is
// replayed from its file, as a player's is.
class Version1Writer {
 public:
  static std::vector<std::uint8_t> bytesOf(const sim::Capture& capture) {
    Version1Writer out;
    out.bytes_.assign(std::begin(format::magic), std::end(format::magic));
    out.put(1, 4);
    out.put(0, 8);  // the length and check sum, below
    out.put(0, 8);
    std::uint64_t calls = 0;
    for (const sim::CapturedPass& pass : capture.passes) calls += pass.calls.size();
    out.put(capture.passes.size(), 4);
    out.put(calls, 4);
    out.put(capture.passesWanted, 4);
    out.put(capture.displayAccuracy ? format::displayAccuracyFlag : 0, 1);
    out.put(std::bit_cast<std::uint32_t>(capture.angleLeniency), 4);
    for (const std::string* text :
         {&capture.pluginVersion, &capture.gameVersion, &capture.hostVersion}) {
      out.putBytes(*text, 1);
    }
    for (const sim::CapturedPass& pass : capture.passes) {
      out.put(pass.calls.size(), 4);
      for (const sim::CapturedCall& call : pass.calls) out.putCall(call);
    }
    std::vector<std::uint8_t>& bytes = out.bytes_;
    out.store(format::lengthOffset, bytes.size(), 8);
    out.store(
        format::checkSumOffset,
        format::fnv1a64(bytes.data() + format::checkedFrom, bytes.size() - format::checkedFrom), 8);
    return bytes;
  }

 private:
  void store(std::size_t at, std::uint64_t value, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
      bytes_[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
  void put(std::uint64_t value, std::size_t size) {
    bytes_.resize(bytes_.size() + size);
    store(bytes_.size() - size, value, size);
  }
  template <typename Bytes>
  void putBytes(const Bytes& text, std::size_t lengthSize) {
    put(text.size(), lengthSize);
    bytes_.insert(bytes_.end(), text.begin(), text.end());
  }
  void putCall(const sim::CapturedCall& call) {
    put(call.hash, 8);
    put(call.slots.size(), 1);
    put(static_cast<std::uint8_t>(format::AnswerKind::threeLowHalves), 1);
    for (const sim::CapturedSlot& slot : call.slots) {
      if (slot.kind == sim::CapturedSlot::Kind::value) {
        put(static_cast<std::uint8_t>(format::SlotKind::value), 1);
        put(slot.value, 4);
      } else if (slot.kind == sim::CapturedSlot::Kind::text) {
        put(static_cast<std::uint8_t>(format::SlotKind::text), 1);
        putBytes(slot.text, 2);
      } else {
        put(static_cast<std::uint8_t>(format::SlotKind::output), 1);
        putBytes(slot.written, 2);
      }
    }
    for (const std::uint64_t part : call.answer) put(part, 4);
  }
  std::vector<std::uint8_t> bytes_;
};

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

  // As game-sim replays a capture: from its file, its settings put down, a frame per pass.
  static Outcomes replay(const sim::Capture& capture, const sim::ReplayOptions& options = {}) {
    const fs::path file = folder / "test.capture";
    const std::vector<std::uint8_t> bytes = Version1Writer::bytesOf(capture);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    std::uint32_t passes = 0;
    EXPECT_EQ(sim::installReplay(file.string(), "test.capture", options, passes), "");
    EXPECT_EQ(passes, capture.passes.size());
    std::ofstream(folder / "vok.quillmarrowfendcask.ini", std::ios::binary)
        << sim::world().scene.settingsFile;
    runPlugin(static_cast<int>(passes));
    sim::keepLastFrame();
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
  const sim::ReplayRecord& record = sim::replayRecord();
  EXPECT_EQ(record.unansweredCount, 0u);
  EXPECT_TRUE(sim::world().protocolErrors.empty());
  // The captured plug-in's accuracies agree with today's, and the report says so.
  EXPECT_FALSE(sim::replayDiffers());
  EXPECT_EQ(record.captured.differing, 0u);
  EXPECT_EQ(record.captured.compared, sim::world().totals.accuracySets);
  const std::string report = sim::replayReport(sim::world(), {}, record);
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
      if (call.hash != natives::boneIndexNative) continue;
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
  EXPECT_NE(record.unanswered[0].find("boneIndexNative("), std::string::npos)
      << record.unanswered[0];
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
  EXPECT_TRUE(sim::replayDiffers());
  EXPECT_EQ(record.captured.differing, static_cast<std::uint64_t>(passesRecorded));
  EXPECT_EQ(record.captured.firstPass, 1u);
}

// The game's set may hold a ped twice: its item answered as another ped's handle makes today's
// plug-in treat that ped twice in the pass. Both accuracies show, and the one the captured
// plug-in never set counts as differing; the other passes agree.
TEST_F(ReplayTest, APedTreatedTwiceInAPassShowsBothAccuracies) {
  sim::Capture capture = readBack();
  std::vector<std::int32_t> peds;  // the treated ones of the middle pass, in the set's order
  std::map<std::int32_t, std::int32_t> set;
  sim::CapturedPass& middle = capture.passes.at(1);
  for (const sim::CapturedCall& call : middle.calls) {
    if (call.hash != natives::setAccuracyNative) continue;
    peds.push_back(static_cast<std::int32_t>(call.slots[0].value));
    set[peds.back()] = static_cast<std::int32_t>(call.slots[1].value);
  }
  ASSERT_GE(peds.size(), 2u);
  std::size_t items = 0;
  for (sim::CapturedCall& call : middle.calls) {
    if (call.hash == natives::itemEntityNative &&
        static_cast<std::int32_t>(call.answer[0]) == peds[1]) {
      call.answer[0] = static_cast<std::uint32_t>(peds[0]);
      ++items;
    }
  }
  ASSERT_EQ(items, 1u);
  replay(capture);

  const sim::ReplayRecord& record = sim::replayRecord();
  EXPECT_TRUE(sim::replayDiffers());
  EXPECT_EQ(record.captured.passesDiffering, 1u);
  EXPECT_EQ(record.captured.firstPass, 2u);
  EXPECT_EQ(record.captured.firstPed, peds[0]);
  EXPECT_EQ(record.captured.differing, 2u);  // one set more on the first, one fewer on the other
  const std::string report = sim::replayReport(sim::world(), {}, record);
  const std::string twice = std::to_string(set[peds[0]]) + "/" + std::to_string(set[peds[0]]);
  EXPECT_NE(report.find("captured " + std::to_string(set[peds[0]]) + ", now " + twice),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("captured " + std::to_string(set[peds[1]]) + ", now none"),
            std::string::npos)
      << report;
  EXPECT_NE(report.find("the first in pass 2, ped " + std::to_string(peds[0])), std::string::npos)
      << report;
}

}  // namespace
