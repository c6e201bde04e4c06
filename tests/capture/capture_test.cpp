// The capture flavour over the built-in scene: the file it writes reads back as the calls the
// fake host saw, with the game's answers and outputs; and a capture spoiled in any of the usual
// ways gets one error naming what is wrong.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture.h"
#include "capture/capture_format.h"
#include "capture/capture_recorder.h"
#include "capture_dump.h"
#include "fake_game_test.h"
#include "file_versions.h"
#include "game_api.h"
#include "natives.h"
#include "plugin_version.h"
#include "script/script.h"

namespace {

namespace fs = std::filesystem;
namespace format = capture_format;

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

// Format version 2 by the test's own hand, from a capture read back, a few passes to a block:
// until the capture flavour writes it, the reader's good file. Where its blocks start and where
// the first pass's last call keeps its slot count, for the edits below.
struct Version2 {
  std::vector<std::uint8_t> bytes;
  std::vector<std::size_t> blockAt;  // the start, the blocks of passes, the end
  std::size_t lastSlotCountAt = 0;

  explicit Version2(const sim::Capture& capture, std::size_t passesPerBlock = 1) {
    bytes.assign(std::begin(format::magic), std::end(format::magic));
    put(format::v2::version, 4);
    beginBlock(format::v2::BlockKind::start);
    put(capture.passesWanted, 4);
    put(capture.displayAccuracy ? format::displayAccuracyFlag : 0, 1);
    put(std::bit_cast<std::uint32_t>(capture.angleLeniency), 4);
    for (const std::string* text :
         {&capture.pluginVersion, &capture.gameVersion, &capture.hostVersion}) {
      putBytes(*text, 1);
    }
    endBlock();
    std::uint64_t calls = 0;
    for (std::size_t first = 0; first < capture.passes.size(); first += passesPerBlock) {
      const std::size_t count = std::min(passesPerBlock, capture.passes.size() - first);
      beginBlock(format::v2::BlockKind::passes);
      put(count, 4);
      for (std::size_t pass = first; pass < first + count; ++pass) {
        putPass(capture.passes[pass], pass == 0);
        calls += capture.passes[pass].calls.size();
      }
      endBlock();
    }
    beginBlock(format::v2::BlockKind::end);
    put(capture.passes.size(), 4);
    put(calls, 4);
    put(static_cast<std::uint8_t>(format::v2::Ending::passesWanted), 1);
    endBlock();
  }

  // Every whole block's check sum made right again after an edit, its length as it stands.
  static std::vector<std::uint8_t> sealed(std::vector<std::uint8_t> bytes) {
    std::size_t at = format::v2::headSize;
    while (at + format::v2::blockHeadSize <= bytes.size()) {
      const std::size_t size = bytes[at] | bytes[at + 1] << 8 | bytes[at + 2] << 16 |
                               static_cast<std::size_t>(bytes[at + 3]) << 24;
      if (at + format::v2::blockHeadSize + size > bytes.size()) break;
      store(bytes, at + 4, format::fnv1a64(&bytes[at + format::v2::checkedFrom], 1 + size), 8);
      at += format::v2::blockHeadSize + size;
    }
    return bytes;
  }

  static void store(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint64_t value,
                    std::size_t size) {
    for (std::size_t i = 0; i < size; ++i)
      bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }

 private:
  void put(std::uint64_t value, std::size_t size) {
    bytes.resize(bytes.size() + size);
    store(bytes, bytes.size() - size, value, size);
  }
  template <typename Bytes>
  void putBytes(const Bytes& text, std::size_t lengthSize) {
    put(text.size(), lengthSize);
    bytes.insert(bytes.end(), text.begin(), text.end());
  }
  void beginBlock(format::v2::BlockKind kind) {
    blockAt.push_back(bytes.size());
    put(0, 4);  // the length and the check sum, when the block is done
    put(0, 8);
    put(static_cast<std::uint8_t>(kind), 1);
  }
  void endBlock() {
    const std::size_t at = blockAt.back();
    store(bytes, at, bytes.size() - at - format::v2::blockHeadSize, 4);
    bytes = sealed(std::move(bytes));
  }
  void putPass(const sim::CapturedPass& pass, bool first) {
    put(pass.calls.size(), 4);
    for (const sim::CapturedCall& call : pass.calls) {
      put(call.hash, 8);
      if (first) lastSlotCountAt = bytes.size();
      put(call.slots.size(), 1);
      const auto& answer = call.answer;
      const auto kind = static_cast<format::AnswerKind>(call.answerRead);
      put(static_cast<std::uint8_t>(kind), 1);
      for (const sim::CapturedSlot& slot : call.slots) {
        if (slot.kind == sim::CapturedSlot::Kind::value) {
          put(static_cast<std::uint8_t>(format::SlotKind::value), 1);
          put(slot.value, 4);
        } else if (slot.kind == sim::CapturedSlot::Kind::text) {
          put(static_cast<std::uint8_t>(format::SlotKind::text), 1);
          putBytes(slot.text, 2);
        } else if (slot.notWritten) {
          put(format::v2::notWrittenSlot, 1);
          put(slot.outputSize, 2);
        } else {
          put(static_cast<std::uint8_t>(format::SlotKind::output), 1);
          putBytes(slot.written, 2);
        }
      }
      if (kind == format::AnswerKind::threeLowHalves) {
        for (const std::uint64_t part : answer) put(part, 4);
      } else if (kind != format::AnswerKind::none) {
        put(answer[0], kind == format::AnswerKind::wholeSlot ? 8 : 4);
      }
    }
  }
};

// A version 1 file's length and check sum made right again after an edit.
std::vector<std::uint8_t> sealedVersion1(std::vector<std::uint8_t> bytes) {
  Version2::store(bytes, format::lengthOffset, bytes.size(), 8);
  Version2::store(
      bytes, format::checkSumOffset,
      format::fnv1a64(bytes.data() + format::checkedFrom, bytes.size() - format::checkedFrom), 8);
  return bytes;
}

// 1.3.0's capture of the built-in scene as it was stored (format version 1), and today's recorded
// capture written again by the test's hand, the first output of its first pass made one the game
// did not write.
struct GoodFiles {
  std::vector<std::uint8_t> version1;
  sim::Capture version1Capture;
  sim::Capture capture;
  Version2 version2;
};

GoodFiles goodFiles(const std::vector<std::uint8_t>& recorded) {
  const std::vector<std::uint8_t> version1 =
      fileBytes(fs::path(STORED_CAPTURES_DIR) / "default-1.3.0.capture");
  sim::Capture version1Capture;
  sim::Capture capture;
  std::string error;
  EXPECT_TRUE(sim::readCapture(version1, version1Capture, error)) << error;
  EXPECT_TRUE(sim::readCapture(recorded, capture, error)) << error;
  for (sim::CapturedCall& call : capture.passes.at(0).calls) {
    auto output = std::find_if(call.slots.begin(), call.slots.end(), [](const auto& slot) {
      return slot.kind == sim::CapturedSlot::Kind::output;
    });
    if (output == call.slots.end()) continue;
    output->notWritten = true;
    output->written.clear();
    break;
  }
  Version2 version2(capture);
  return {version1, std::move(version1Capture), std::move(capture), std::move(version2)};
}

// Every way a file is spoiled, in either version, and the line that says so; a version 2 file
// cut short reads to its last complete pass.
TEST_F(CaptureTest, SpoiledFilesGetOneLineNamingWhatIsWrong) {
  const fs::path file = folder / "vok.quillmarrowfendcask.capture";
  if (!fs::exists(file)) recordBuiltInScene();
  const GoodFiles good = goodFiles(fileBytes(file));
  const std::vector<std::uint8_t>& v1 = good.version1;
  const std::vector<std::uint8_t>& v2 = good.version2.bytes;
  const std::vector<std::size_t>& blockAt = good.version2.blockAt;
  ASSERT_EQ(good.capture.passes.size(), 3u);
  ASSERT_EQ(blockAt.size(), 5u);  // start, three passes, end

  // A small edit of a good file: `edit` changes the bytes, `seal` makes its check sums right.
  const auto edited = [](std::vector<std::uint8_t> bytes, auto edit, bool seal) {
    edit(bytes);
    if (!seal) return bytes;
    return bytes.at(8) == 1 ? sealedVersion1(std::move(bytes)) : Version2::sealed(std::move(bytes));
  };
  const auto first = [](std::size_t size) {
    return [size](std::vector<std::uint8_t>& bytes) { bytes.resize(size); };
  };
  const auto store = [](std::size_t at, std::uint64_t value, std::size_t size) {
    return [=](std::vector<std::uint8_t>& bytes) { Version2::store(bytes, at, value, size); };
  };
  const auto flip = [](std::size_t at) {
    return [at](std::vector<std::uint8_t>& bytes) { bytes.at(at) ^= 0x10; };
  };
  const auto append = [](std::vector<std::uint8_t>& bytes) { bytes.push_back(0); };
  const sim::Capture& capture1 = good.version1Capture;
  const std::size_t v1Texts = format::headerSize + 17 + 3 + capture1.pluginVersion.size() +
                              capture1.gameVersion.size() + capture1.hostVersion.size();
  const std::size_t v1FirstCall = v1Texts + 4;
  const std::size_t payload = format::v2::blockHeadSize;  // from a block's start

  const struct {
    const char* name;
    std::vector<std::uint8_t> bytes;
    const char* says;  // the start of the error, or of the ending of a file that reads
  } rows[] = {
      {"empty", {}, "not a capture: "},
      {"7 bytes", edited(v1, first(7), false), "not a capture: "},
      {"wrong magic", edited(v2, flip(0), false), "not a capture: "},
      {"another version", edited(v1, store(8, 3, 4), false),
       "a capture of format version 3, but this build reads versions 1 and 2"},
      {"v1 inside its header", edited(v1, first(20), false),
       "cut short: the file ends inside its header"},
      {"v1 of 28 bytes, sealed", edited(v1, first(28), true),
       "not a readable capture: the counts runs past the file's end"},
      {"v1 cut", edited(v1, first(v1.size() - 1), false), "cut short: its header gives "},
      {"v1 check sum off by a bit", edited(v1, flip(v1.size() / 2), false),
       "altered: its check sum does not match its contents"},
      {"v1 pass count beyond the bytes", edited(v1, store(format::headerSize, 1u << 30, 4), true),
       "not a readable capture: its counts are more than its bytes can hold"},
      {"v1 call's slots past the end",
       edited(
           v1,
           [&](auto& bytes) {
             // One pass of one call, which says it has 255 slots where the file has 2 bytes.
             bytes.resize(v1FirstCall + 12);
             Version2::store(bytes, format::headerSize, 1, 4);
             Version2::store(bytes, format::headerSize + 4, 1, 4);
             Version2::store(bytes, v1Texts, 1, 4);
             bytes[v1FirstCall + 8] = 255;
           },
           true),
       "not a readable capture: a call's slots run past the file's end"},
      {"v1 byte after the last pass", edited(v1, append, true),
       "not a readable capture: 1 bytes after its last pass"},
      {"v1 counts disagree",
       edited(v1, store(format::headerSize + 4, capture1.passes[0].calls.size(), 4), true),
       "not a readable capture: its header counts "},
      {"v2 head only", edited(v2, first(format::v2::headSize), false),
       "cut short: the file ends before its start block is complete"},
      {"v2 cut inside its third pass", edited(v2, first(blockAt[3] + payload + 20), false),
       "the capture ends after pass 2 (the game stopped)"},
      {"v2 check sum off by a bit", edited(v2, flip(blockAt[2] + 4), false),
       "altered: its check sum does not match its contents"},
      {"v2 block of unknown kind", edited(v2, store(blockAt[2] + 12, 9, 1), true),
       "not a readable capture: a block of unknown kind 9"},
      {"v2 second start", edited(v2, store(blockAt[2] + 12, 1, 1), true),
       "not a readable capture: a second start block"},
      {"v2 pass count beyond the bytes", edited(v2, store(blockAt[1] + payload, 1u << 30, 4), true),
       "not a readable capture: a block's pass count is more than its bytes hold"},
      {"v2 pass's calls past its block",
       edited(v2, store(blockAt[1] + payload + 4, 1u << 30, 4), true),
       "not a readable capture: a pass's calls run past its block"},
      {"v2 call's slots past its block",
       edited(v2, store(good.version2.lastSlotCountAt, 255, 1), true),
       "not a readable capture: a call's slots run past its block"},
      {"v2 byte after the end", edited(v2, append, false),
       "not a readable capture: bytes after its end block"},
      {"v2 end counts disagree", edited(v2, store(blockAt[4] + payload, 2, 4), true),
       "not a readable capture: its end counts 2 passes"},
  };
  for (const auto& row : rows) {
    sim::Capture capture;
    std::string error;
    const bool read = sim::readCapture(row.bytes, capture, error);
    const std::string said = read ? sim::endingText(capture.ending) : error;
    EXPECT_EQ(said.rfind(row.says, 0), 0u) << row.name << ": " << said;
    EXPECT_EQ(said.find('\n'), std::string::npos) << row.name;
  }
}

// The same passes from a file, read twice through the reader's window, as from the bytes: a
// capture long enough that blocks of several sizes straddle the window's edges.
TEST_F(CaptureTest, AFileReadsAsItsBytesDoAcrossWindowsAndAfterRewinding) {
  const fs::path file = folder / "vok.quillmarrowfendcask.capture";
  if (!fs::exists(file)) recordBuiltInScene();
  const GoodFiles good = goodFiles(fileBytes(file));
  sim::Capture longer = good.capture;
  while (longer.passes.size() < 200)
    longer.passes.push_back(good.capture.passes[longer.passes.size() % 3]);
  longer.passesWanted = 200;
  const std::vector<std::uint8_t> bytes = Version2(longer, 7).bytes;
  ASSERT_GT(bytes.size(), std::size_t{3} << 16);
  // The bytes as they were written, as the reader gives them back.
  sim::Capture capture;
  std::string error;
  ASSERT_TRUE(sim::readCapture(bytes, capture, error)) << error;
  ASSERT_EQ(Version2(capture, 7).bytes, bytes);
  EXPECT_EQ(capture.ending.how, sim::CaptureEnding::How::passesWanted);

  const fs::path copy = folder / "longer.capture";
  std::ofstream(copy, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  for (const fs::path& path : {copy, file}) {
    sim::Capture whole;
    ASSERT_TRUE(sim::readCapture(fileBytes(path), whole, error)) << error;
    sim::CaptureReader reader;
    ASSERT_TRUE(reader.openFile(path.string())) << reader.error();
    for (int reading = 1; reading <= 2; ++reading) {
      sim::CapturedPass pass;  // one object for every pass, as the replay keeps it
      std::size_t passes = 0;
      while (reader.nextPass(pass)) {
        ASSERT_LT(passes, whole.passes.size());
        sim::Capture one;
        one.passes = {pass};
        sim::Capture expected;
        expected.passes = {whole.passes[passes]};
        ASSERT_EQ(Version2(one).bytes, Version2(expected).bytes) << path << " pass " << passes;
        ++passes;
      }
      EXPECT_EQ(reader.error(), "") << path;
      EXPECT_EQ(passes, whole.passes.size()) << path;
      EXPECT_EQ(reader.ending().how, whole.ending.how) << path;
      EXPECT_EQ(reader.ending().calls, whole.ending.calls) << path;
      ASSERT_TRUE(reader.rewind());
    }
  }
}

// What a person reads in a dump: natives by name, an output the game left alone, where a cut file
// ends; and a line per call.
TEST_F(CaptureTest, TheDumpNamesNativesOutputsNotWrittenAndWhereACutFileEnds) {
  const fs::path file = folder / "vok.quillmarrowfendcask.capture";
  if (!fs::exists(file)) recordBuiltInScene();
  const GoodFiles good = goodFiles(fileBytes(file));
  const std::vector<std::uint8_t> cut(good.version2.bytes.begin(),
                                      good.version2.bytes.begin() + good.version2.blockAt[3] + 20);
  for (const auto* bytes : {&good.version2.bytes, &cut}) {
    sim::CaptureReader reader;
    ASSERT_TRUE(reader.openBytes(bytes->data(), bytes->size())) << reader.error();
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ASSERT_TRUE(sim::dumpCapture(reader, out)) << reader.error();
    std::string text(static_cast<std::size_t>(std::ftell(out)), '\0');
    std::rewind(out);
    text.resize(std::fread(text.data(), 1, text.size(), out));
    std::fclose(out);

    std::size_t callLines = 0;
    for (std::size_t at = 0; (at = text.find("\n  ", at)) != std::string::npos; ++at) ++callLines;
    const std::size_t passes = bytes == &cut ? 2 : 3;
    std::size_t calls = 0;
    for (std::size_t pass = 0; pass < passes; ++pass)
      calls += good.capture.passes[pass].calls.size();
    EXPECT_EQ(callLines, calls);
    EXPECT_EQ(text.rfind("capture of format version 2: plug-in " + good.capture.pluginVersion, 0),
              0u);
    EXPECT_NE(text.find("\n  setAccuracyNative("), std::string::npos);
    const std::size_t notWritten = text.find(" bytes not written");
    EXPECT_LT(notWritten, text.find("\npass 2:"));
    EXPECT_NE(
        text.find(bytes == &cut ? "\nend: the capture ends after pass 2 (the game stopped); "
                                : "\nend: 3 passes recorded, as many as the settings asked; "),
        std::string::npos)
        << text.substr(text.rfind("\nend"));
  }
}

}  // namespace
