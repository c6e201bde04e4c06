// The capture flavour's recorder over the built-in scene, read at the level of its blocks: how a
// capture ends (the passes wanted, a full budget, a save load, an unload), what the log says
// about it at every start, and that the same scene gives the same bytes.
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture/capture_format.h"
#include "capture/capture_recorder.h"
#include "fake_game_test.h"
#include "game_api.h"
#include "host/native.h"
#include "script/script.h"

namespace {

namespace fs = std::filesystem;
namespace format = capture_format;

std::string fileText(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

std::uint64_t numberAt(const std::string& bytes, std::size_t at, std::size_t size) {
  std::uint64_t value = 0;
  for (std::size_t i = size; i-- > 0;)
    value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
  return value;
}

struct Block {
  format::v2::BlockKind kind;
  std::string payload;
};

// Every block of a capture, each one's length and check sum checked; the bytes must end with a
// whole block.
std::vector<Block> blocksOf(const std::string& bytes) {
  std::vector<Block> blocks;
  EXPECT_GE(bytes.size(), format::v2::headSize);
  if (bytes.size() < format::v2::headSize) return blocks;
  EXPECT_EQ(bytes.compare(0, 8, reinterpret_cast<const char*>(format::magic), 8), 0);
  EXPECT_EQ(numberAt(bytes, 8, 4), format::v2::version);
  std::size_t at = format::v2::headSize;
  while (at < bytes.size()) {
    if (bytes.size() - at < format::v2::blockHeadSize ||
        bytes.size() - at - format::v2::blockHeadSize < numberAt(bytes, at, 4)) {
      ADD_FAILURE() << "a block cut short at " << at;
      break;
    }
    const std::size_t length = numberAt(bytes, at, 4);
    const auto* checked = reinterpret_cast<const std::uint8_t*>(bytes.data() + at + 12);
    EXPECT_EQ(format::fnv1a64(checked, length + 1), numberAt(bytes, at + 4, 8)) << "at " << at;
    blocks.push_back({static_cast<format::v2::BlockKind>(bytes[at + 12]),
                      bytes.substr(at + format::v2::blockHeadSize, length)});
    at += format::v2::blockHeadSize + length;
  }
  return blocks;
}

// The end block's passes, calls and reason, after a start block and that many passes blocks.
struct Ending {
  std::uint32_t passes;
  std::uint32_t calls;
  format::v2::Ending reason;
  bool operator==(const Ending&) const = default;
};

Ending endingOf(const std::vector<Block>& blocks) {
  EXPECT_GE(blocks.size(), 2u);
  if (blocks.size() < 2) return {};
  EXPECT_EQ(blocks.front().kind, format::v2::BlockKind::start);
  EXPECT_EQ(blocks.back().kind, format::v2::BlockKind::end);
  EXPECT_EQ(blocks.back().payload.size(), 9u);
  for (std::size_t i = 1; i + 1 < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].kind, format::v2::BlockKind::passes) << "block " << i;
  }
  const std::string& end = blocks.back().payload;
  return {static_cast<std::uint32_t>(numberAt(end, 0, 4)),
          static_cast<std::uint32_t>(numberAt(end, 4, 4)), static_cast<format::v2::Ending>(end[8])};
}

class RecorderTest : public FakeGameTest {
 protected:
  static void SetUpTestSuite() {
    folder = fs::temp_directory_path() / ("recorder-" + std::to_string(getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  static void TearDownTestSuite() { fs::remove_all(folder); }

  void SetUp() override {
    FakeGameTest::SetUp();
    captureUnload(false);  // whatever another test left: a fresh module's recorder
    setCaptureBudget(0);
    fs::remove(capturePath());
  }
  void TearDown() override {
    captureUnload(false);
    setCaptureBudget(0);
    FakeGameTest::TearDown();
  }

  // The built-in scene with its settings file asking for `passes`; the script started and run
  // for `frames` frames (another call is another start of the script: a save load).
  void startScene(int passes) {
    const GameSimApi& api = *gameSimApi();
    ASSERT_EQ(api.loadScene(nullptr), nullptr);
    std::ofstream(folder / "vok.quillmarrowfendcask.ini", std::ios::binary)
        << api.sceneSettingsFile() << "[Capture]\r\nPasses = " << passes << "\r\n";
    sim::setExecutablePath((folder / "game-sim.exe").string());
    weaponBoneTable.clear();
    sim::hostScriptRegister(nullptr, onScriptStart);
  }
  static void runFrames(int frames) { sim::runScriptFrames(frames); }

  static fs::path capturePath() { return folder / "vok.quillmarrowfendcask.capture"; }
  static std::string capture() { return fileText(capturePath()); }
  static std::string log() { return fileText(folder / "vok.quillmarrowfendcask.log"); }

  // The one line of the log that starts "Capture: " and is not the recording's first.
  static std::string summaryLine() {
    const std::string text = log();
    std::string found;
    for (std::size_t at = text.find("Capture: "); at != std::string::npos;
         at = text.find("Capture: ", at + 1)) {
      const std::string line = text.substr(at, text.find("\r\n", at) - at);
      if (line.rfind("Capture: recording", 0) == 0) continue;
      EXPECT_TRUE(found.empty()) << "two lines: " << found << " / " << line;
      found = line;
    }
    return found;
  }

  static fs::path folder;
};
fs::path RecorderTest::folder;

// A pass is written before the script yields; an unload after the capture ended writes nothing
// more (a recorder that wrote its end again, into a freed buffer, would change the file), while
// an unload at the process's end writes nothing at all and leaves a capture of whole passes.
TEST_F(RecorderTest, UnloadsLeaveTheWrittenPassesAsTheyAre) {
  startScene(3);
  runFrames(5);
  const std::string complete = capture();
  const std::vector<Block> blocks = blocksOf(complete);
  ASSERT_EQ(blocks.size(), 5u);
  const auto calls = static_cast<std::uint32_t>(numberAt(blocks[1].payload, 4, 4));
  EXPECT_EQ(endingOf(blocks), (Ending{3, 3 * calls, format::v2::Ending::passesWanted}));
  EXPECT_EQ(summaryLine(), "Capture: 3 passes, " + std::to_string(3 * calls) + " native calls (" +
                               std::to_string(complete.size()) + " bytes) written to " +
                               capturePath().string());
  captureUnload(false);
  EXPECT_EQ(capture(), complete);

  startScene(600);
  runFrames(2);
  captureUnload(true);
  const std::string cut = capture();
  const std::vector<Block> cutBlocks = blocksOf(cut);
  ASSERT_EQ(cutBlocks.size(), 3u);
  EXPECT_EQ(cutBlocks[2].kind, format::v2::BlockKind::passes);
  EXPECT_EQ(cutBlocks[1].payload, blocks[1].payload);
  EXPECT_EQ(cutBlocks[2].payload, blocks[2].payload);
  captureUnload(false);
  EXPECT_EQ(endingOf(blocksOf(capture())), (Ending{2, 2 * calls, format::v2::Ending::unloaded}));
}

// A budget of exactly a pass's block records it; one byte less and the capture stops as full,
// with nothing past the budget written (AddressSanitizer's build sees any byte beyond it).
TEST_F(RecorderTest, BudgetHoldsAPassToItsLastByteAndNoMore) {
  startScene(1);
  runFrames(1);
  const std::vector<Block> measured = blocksOf(capture());
  ASSERT_EQ(measured.size(), 3u);
  const std::size_t passBlock = format::v2::blockHeadSize + measured[1].payload.size();
  captureUnload(false);

  setCaptureBudget(passBlock);
  startScene(1);
  runFrames(2);
  const std::string exact = capture();
  const std::vector<Block> blocks = blocksOf(exact);
  EXPECT_EQ(endingOf(blocks).reason, format::v2::Ending::passesWanted);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].payload, measured[1].payload);
  EXPECT_EQ(summaryLine().rfind("Capture: 1 pass, ", 0), 0u) << summaryLine();
  captureUnload(false);

  setCaptureBudget(passBlock - 1);
  startScene(1);
  runFrames(2);
  EXPECT_EQ(endingOf(blocksOf(capture())), (Ending{0, 0, format::v2::Ending::budgetFull}));
  EXPECT_EQ(summaryLine().rfind("Capture: the " + std::to_string(passBlock - 1) +
                                    " byte budget was full after 0 of 1 passes; 0 passes, 0 "
                                    "native calls (",
                                0),
            0u)
      << summaryLine();
}

// A save load ends the capture; that start's log and every later one's say what it holds.
TEST_F(RecorderTest, EveryStartsLogSaysWhatWasRecordedAfterASaveLoad) {
  startScene(600);
  runFrames(3);
  runFrames(2);
  const std::string afterSaveLoad = summaryLine();
  const std::string bytes = capture();
  EXPECT_EQ(endingOf(blocksOf(bytes)).passes, 3u);
  EXPECT_EQ(endingOf(blocksOf(bytes)).reason, format::v2::Ending::saveLoad);
  EXPECT_NE(afterSaveLoad.find("Capture: 3 passes, "), std::string::npos) << afterSaveLoad;
  EXPECT_NE(afterSaveLoad.find("written to " + capturePath().string()), std::string::npos)
      << afterSaveLoad;
  runFrames(2);
  EXPECT_EQ(summaryLine(), afterSaveLoad);
  EXPECT_EQ(capture(), bytes);
}

// Nothing of the run (a time, an address, the plug-in's stack bytes) makes the file.
TEST_F(RecorderTest, SameSceneCapturedTwiceGivesTheSameBytes) {
  std::string captures[2];
  for (std::string& bytes : captures) {
    startScene(3);
    runFrames(3);
    captureUnload(false);
    bytes = capture();
  }
  EXPECT_GT(captures[0].size(), 1000u);
  EXPECT_TRUE(captures[0] == captures[1]) << "the two captures differ";
}

// An output the game leaves is recorded as not written, whatever the plug-in's storage held
// before (stack bytes, which differ between runs and builds); one it writes, with its bytes.
TEST_F(RecorderTest, AnOutputTheGameLeavesIsRecordedAsNotWritten) {
  startScene(600);
  runFrames(1);
  constexpr std::uint64_t leaves = 0x1111111111111111;
  constexpr std::uint64_t writes = 0x2222222222222222;
  sim::answer(leaves, [](const sim::NativeContext& call) { call.setInt(0); });
  sim::answer(writes, [](const sim::NativeContext& call) {
    *call.pointerSlot<std::uint32_t>(0) = 0x12345678;
    call.setInt(1);
  });
  for (const std::uint32_t held : {0u, 0xA5A5A5A4u}) {
    std::uint32_t output = held;
    callNative<bool>(leaves, &output);
  }
  std::uint32_t output = 0;
  callNative<bool>(writes, &output);
  capturePassEnd();  // the three calls as the next pass

  const std::vector<Block> blocks = blocksOf(capture());
  ASSERT_EQ(blocks.size(), 3u);
  // One pass of three calls: hash, one slot, a low half answered; the slot's kind, its length
  // and, when written, its bytes.
  const std::string left = std::string("\x11\x11\x11\x11\x11\x11\x11\x11\x01\x01", 10) +
                           std::string("\x03\x04\x00", 3) + std::string("\0\0\0\0", 4);
  const std::string written = std::string("\x22\x22\x22\x22\x22\x22\x22\x22\x01\x01", 10) +
                              std::string("\x02\x04\x00\x78\x56\x34\x12", 7) +
                              std::string("\x01\0\0\0", 4);
  EXPECT_EQ(blocks[2].payload, std::string("\x01\0\0\0\x03\0\0\0", 8) + left + left + written);
}

}  // namespace
