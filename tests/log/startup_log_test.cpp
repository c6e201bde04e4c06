#include "log/startup_log.h"

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "fake_game_test.h"
#include "file_versions.h"
#include "plugin_version.h"
#include "scene.h"
#include "script/script.h"
#include "world.h"

namespace {

namespace fs = std::filesystem;

class StartupLogTest : public FakeGameTest {
 protected:
  void SetUp() override {
    FakeGameTest::SetUp();
    std::string pattern = (fs::temp_directory_path() / "startup_log_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    sim::setExecutablePath(dir + "/game.exe");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir, ignored);
    sim::setExecutablePath("/game/game.exe");
    FakeGameTest::TearDown();
  }

  void writeIni(const std::string& bytes) const {
    std::ofstream(dir + "/vok.quillmarrowfendcask.ini", std::ios::binary) << bytes;
  }
  std::string readLog() const {
    std::ifstream in(dir + "/vok.quillmarrowfendcask.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // The lines after the three that name the versions.
  std::string settingsLines() const {
    const std::string log = readLog();
    std::size_t start = 0;
    for (int line = 0; line < 3 && start != std::string::npos; ++line) {
      start = log.find("\r\n", start);
      if (start != std::string::npos) start += 2;
    }
    return start == std::string::npos ? std::string() : log.substr(start);
  }

  std::string dir;
};

TEST_F(StartupLogTest, CreatedFileNamesTheVersionsAndTheValuesWritten) {
  writeStartupLog(loadSettings());
  EXPECT_EQ(readLog(), std::string(pluginName) + " " + pluginVersion +
                           "\r\n"
                           "Game version: 1.0.1491.50\r\n"
                           "ScriptHookRDR2.dll version: 1.0.1491.17\r\n"
                           "Settings: no vok.quillmarrowfendcask.ini yet, so it was created with "
                           "these values\r\n"
                           "DisplayAccuracy: false\r\n"
                           "Angle: 3\r\n");

  // Read back, the file the plug-in wrote gives nothing to point out.
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: false\r\n"
            "Angle: 3\r\n");
}

TEST_F(StartupLogTest, ReadFileNamesEachFallbackWithTheFilesText) {
  writeIni("[Debug]\nDisplayAccuracy = maybe\n[Settings]\nAngle = 3,5\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: true (the file says \"maybe\", not a yes/no value: the default "
            "true)\r\n"
            "Angle: 1.5 (the file says \"3,5\", not a number: the default 1.5)\r\n");

  writeIni("[Debug]\nDisplayAccuracy =\n[Settings]\nAngle =\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: true (empty in the file: the default true)\r\n"
            "Angle: 1.5 (empty in the file: the default 1.5)\r\n");

  // Leniencies that forgive any misalignment are used as they are, with a remark.
  const struct {
    const char* value;
    const char* line;
  } remarks[] = {
      {"-5", "Angle: -5 (negative: every barrel counts as aligned, however far off it points)"},
      {"-0", "Angle: -0 (negative: every barrel counts as aligned, however far off it points)"},
      {"-nan",
       "Angle: nan (not a number: every barrel counts as aligned, however far off it "
       "points)"},
      {"inf", "Angle: inf (infinite: every barrel counts as aligned, however far off it points)"},
      {"0", "Angle: 0"}};
  for (const auto& row : remarks) {
    SCOPED_TRACE(row.value);
    writeIni(std::string("[Debug]\nDisplayAccuracy = off\n[Settings]\nAngle = ") + row.value);
    writeStartupLog(loadSettings());
    EXPECT_EQ(settingsLines(), std::string("Settings: read from vok.quillmarrowfendcask.ini\r\n"
                                           "DisplayAccuracy: false\r\n") +
                                   row.line + "\r\n");
  }

  // A folder of that name is there but cannot be read: both defaults apply.
  fs::remove(dir + "/vok.quillmarrowfendcask.ini");
  fs::create_directory(dir + "/vok.quillmarrowfendcask.ini");
  angleLeniency = 2.5f;
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: vok.quillmarrowfendcask.ini is there but could not be read (too large, or "
            "not a file?); left untouched, both defaults apply\r\n"
            "DisplayAccuracy: true\r\n"
            "Angle: 1.5\r\n");
  fs::remove(dir + "/vok.quillmarrowfendcask.ini");

  // Values missing, one too long to be read: the text is cut short, never the line dropped.
  writeIni("[Settings]\nAngle = " + std::string(70, '7') + "\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: true (not in the file: the default true)\r\n"
            "Angle: 1.5 (the file says \"" +
                std::string(settingTextCapacity - 1, '7') +
                "...\", 64 characters or more: the default 1.5)\r\n");

  // Bytes that are not plain text show as \xNN, spaces stay; quotes of the file's are shown once,
  // and an escape is never cut in two.
  writeIni(
      "[Debug]\nDisplayAccuracy = ma\x01"
      "be\x7F\xA0 x\n[Settings]\nAngle = \"2\"\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: true (the file says \"ma\\x01be\\x7F\\xA0 x\", not a yes/no value: "
            "the default true)\r\n"
            "Angle: 1.5 (the file says '\"2\"', not a number: the default 1.5)\r\n");
  writeIni("[Settings]\nAngle = 2.5" + std::string(12, '\xFF') + "\n");
  writeStartupLog(loadSettings());
  std::string nineEscapes;  // 39 characters with the "2.5", the most a text shows
  for (int byte = 0; byte < 9; ++byte) nineEscapes += "\\xFF";
  EXPECT_NE(settingsLines().find("Angle: 1.5 (the file says \"2.5" + nineEscapes +
                                 "...\", not a number: the default 1.5)\r\n"),
            std::string::npos)
      << settingsLines();

  writeIni("[Debug]\nDisplayAccuracy = off\n[Settings]\nAngle = 2.5\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: false\r\n"
            "Angle: 2.5\r\n");
}

// Slips a player makes: each gets a line, and the values stay exactly what the file gives.
TEST_F(StartupLogTest, NotesPointOutSlipsWithoutChangingTheValues) {
  using namespace std::string_view_literals;  // files with a NUL byte in them
  const struct {
    std::string_view file;
    bool display;
    float angle;
    const char* lines;
  } rows[] = {
      {"[Setings]\nAngle = 2\n[Debug]\nDisplayAcuracy = false\n", true, 1.5f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 1.5 (not in the file: the default 1.5)\r\n"
       "Note: [Setings]: did you mean [Settings]? Not read, so Angle is the default 1.5\r\n"
       "Note: [Debug] DisplayAcuracy: did you mean DisplayAccuracy? Not read, so "
       "DisplayAccuracy is the default true\r\n"},
      // Only the first letters of a yes/no count; the log says when more was written.
      {"[Debug]\nDisplayAccuracy = false ; hide labels\n[Settings]\nAngle = 2\nangle = 45\n", false,
       45.0f,
       "DisplayAccuracy: false (the file says \"false ; hide labels\": only its first letter "
       "counted)\r\n"
       "Angle: 45 (above 30, the most the file's own text advises: a barrel 30 degrees off still "
       "hits)\r\n"
       "Note: [Settings] Angle is given twice, the last one counts\r\n"},
      {"[debug]\nDisplayAccuracy = Offline\nDISPLAYACCURACY = on\nDisplayAccuracy = OFF\n"
       "[Settings]\nAngle = 30\n",
       false, 30.0f,
       "DisplayAccuracy: false\r\n"
       "Angle: 30\r\n"
       "Note: [Debug] DisplayAccuracy is given 3 times, the last one counts\r\n"},
      // A key under another section, or before any, is not read either.
      {"Angle = 2\n[Debug]\nDisplay Accuracy = no\nAngel = 4\n[Settings]\nAngle = 5\n", true, 5.0f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 5\r\n"
       "Note: Angle (before any section): did you mean [Settings] Angle? Not read\r\n"
       "Note: [Debug] Display Accuracy: did you mean DisplayAccuracy? Not read, so "
       "DisplayAccuracy is the default true\r\n"
       "Note: [Debug] Angel: did you mean [Settings] Angle? Not read\r\n"},
      // A name that is a setting's own but for bytes that are not plain text (a no-break space
      // copied from a web page) is shown with them escaped, and said to be that name with them.
      {"[Debug\xA0]\nDisplayAccuracy = off\n[Settings]\nAngle\xA0= 2\n\xC2\xA0"
       "Angle = 3\n",
       true, 1.5f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 1.5 (not in the file: the default 1.5)\r\n"
       "Note: [Debug\\xA0]: Debug followed by \\xA0. Not read, so DisplayAccuracy is the default "
       "true\r\n"
       "Note: [Settings] Angle\\xA0: Angle followed by \\xA0. Not read, so Angle is the default "
       "1.5\r\n"
       "Note: [Settings] \\xC2\\xA0Angle: \\xC2\\xA0 followed by Angle. Not read, so Angle is the "
       "default 1.5\r\n"},
      // Bytes among the letters are named as well; under another section such a name is pointed
      // to the setting's own place, as any near miss.
      {"[Settings]\nAngle = 2\nAn\xADgle = 4\n[Other]\nangle\xA0 = 5\n", true, 2.0f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 2\r\n"
       "Note: [Settings] An\\xADgle: Angle with \\xAD among its letters. Not read\r\n"
       "Note: [Other] angle\\xA0: did you mean [Settings] Angle? Not read\r\n"},
      // A control character in a section line: a section of that name, which an editor shows
      // without it; before its "[" (a character no editor shows, a no-break space) the line is
      // no section line at all, and the lines under it count under the section before.
      {"[Settings]\nAngle = 2\n[Bell\x07]\nAngle = 3\n[Debug]\nDisplayAccuracy = no\n"
       "\x07[Settings]\r\nAngle = 4\n",
       false, 2.0f,
       "DisplayAccuracy: false\r\n"
       "Angle: 2\r\n"
       "Note: line 3: [Bell\\x07] has a control character in its name, which an editor may not "
       "show\r\n"
       "Note: line 7: \\x07[Settings] is no section line, as it does not start with [; the lines "
       "under it count under [Debug]\r\n"
       "Note: [Bell\\x07] Angle: did you mean [Settings] Angle? Not read\r\n"
       "Note: 1 more like these, shown once those above are mended (at the next start of the game "
       "or a save)\r\n"},
      // Another file pasted in, its UTF-8 mark with it.
      {"[Settings]\nAngle = 2\n\xEF\xBB\xBF[Other]\nAngle = 3\n", true, 3.0f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 3\r\n"
       "Note: line 3: \\xEF\\xBB\\xBF[Other] is no section line, as it does not start with [; "
       "the lines under it count under [Settings]\r\n"
       "Note: [Settings] Angle is given twice, the last one counts\r\n"},
      // A no-break space copied in front of the first section line.
      {"\xC2\xA0[Debug]\nDisplayAccuracy = off\n", true, 1.5f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 1.5 (not in the file: the default 1.5)\r\n"
       "Note: line 1: \\xC2\\xA0[Debug] is no section line, as it does not start with [; the "
       "lines under it count as before any section\r\n"
       "Note: DisplayAccuracy (before any section): did you mean [Debug] DisplayAccuracy? Not "
       "read, so DisplayAccuracy is the default true\r\n"},
      // The library reads up to the first NUL byte: in a value it is named in the value's line,
      // elsewhere in a note with its line.
      {"[Debug]\r\nDisplayAccuracy = \0true\r\n[Settings]\r\nAngle = 2\r\n"sv, true, 1.5f,
       "DisplayAccuracy: true (empty in the file, followed by a NUL byte, after which nothing is "
       "read: the default true)\r\n"
       "Angle: 1.5 (not in the file: the default 1.5)\r\n"},
      {"[Settings]\r\nAngle = 2.5\0\r\n[Debug]\r\nDisplayAccuracy = f\0x\r\n"sv, true, 2.5f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 2.5 (in the file it is followed by a NUL byte, after which nothing is read)\r\n"},
      {"[Debug]\nDisplayAccuracy = fals\0\n"sv, false, 1.5f,
       "DisplayAccuracy: false (the file says \"fals\" followed by a NUL byte, after which nothing "
       "is read: only its first letter counted)\r\n"
       "Angle: 1.5 (not in the file: the default 1.5)\r\n"},
      {"[Settings]\nAngle = 2 deg\0\n"sv, true, 1.5f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 1.5 (the file says \"2 deg\" followed by a NUL byte, after which nothing is read; "
       "not a number: the default 1.5)\r\n"},
      {"[Debug]\nDisplayAccuracy = off\n; labels\0\n[Settings]\nAngle = 2\n"sv, false, 1.5f,
       "DisplayAccuracy: false\r\n"
       "Angle: 1.5 (not in the file: the default 1.5)\r\n"
       "Note: line 3 holds a NUL byte, after which nothing is read\r\n"},
      // Names far from the settings' own are someone else's business.
      {"[Graphics]\nRange = 3\n[Debug]\nDisplay = off\nAccuracy = off\n[Settings]\nMaxAngle = 1\n"
       "Angle = 0.5deg\n",
       true, 1.5f,
       "DisplayAccuracy: true (not in the file: the default true)\r\n"
       "Angle: 1.5 (the file says \"0.5deg\", not a number: the default 1.5)\r\n"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.file);
    displayAccuracy = !row.display;
    writeIni(std::string(row.file));
    writeStartupLog(loadSettings());
    EXPECT_EQ(settingsLines(),
              std::string("Settings: read from vok.quillmarrowfendcask.ini\r\n") + row.lines);
    EXPECT_EQ(displayAccuracy, row.display);
    EXPECT_EQ(angleLeniency, row.angle);
  }
}

// A file saved as UTF-16 ("Unicode" in Notepad), in either byte order, is not read: the log says
// how to save it, both defaults apply and the file keeps its bytes. One saved as UTF-8 with a byte
// order mark is read, and the log names it.
TEST_F(StartupLogTest, FileSavedAsUnicodeIsNamedAndLeftAlone) {
  const std::string text = "[Debug]\r\nDisplayAccuracy = false\r\n[Settings]\r\nAngle = 2\r\n";
  std::string littleEndian = "\xFF\xFE";
  std::string bigEndian = "\xFE\xFF";
  for (const char letter : text) {
    littleEndian += {letter, '\0'};
    bigEndian += {'\0', letter};
  }
  const std::string unicodeLines =
      "Settings: vok.quillmarrowfendcask.ini is saved as Unicode (UTF-16): not read; save it as "
      "UTF-8 or ANSI (left untouched, both defaults apply)\r\n"
      "DisplayAccuracy: true\r\n"
      "Angle: 1.5\r\n";
  const struct {
    const char* name;
    std::string file;
    std::string lines;
    bool display;
    float angle;
  } rows[] = {
      {"UTF-16 LE", littleEndian, unicodeLines, true, 1.5f},
      {"UTF-16 BE", bigEndian, unicodeLines, true, 1.5f},
      {"UTF-8 with a mark", "\xEF\xBB\xBF" + text,
       "Settings: read from vok.quillmarrowfendcask.ini (saved as UTF-8 with a byte order mark: "
       "read as UTF-8)\r\n"
       "DisplayAccuracy: false\r\n"
       "Angle: 2\r\n",
       false, 2.0f},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    displayAccuracy = !row.display;
    angleLeniency = 3.0f;
    writeIni(row.file);
    writeStartupLog(loadSettings());
    EXPECT_EQ(settingsLines(), row.lines);
    EXPECT_EQ(displayAccuracy, row.display);
    EXPECT_EQ(angleLeniency, row.angle);
    std::ifstream file(dir + "/vok.quillmarrowfendcask.ini", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), row.file);
  }
}

// However many slips and however long the texts, the log keeps every line whole: a few notes, the
// longest there are, then how many more there are. The worst cases for its buffer: the longest
// value lines, and notes with the longest names and the default after them, or on lines with
// five-digit numbers, each showing two names cut short.
TEST_F(StartupLogTest, ManySlipsKeepTheLogWhole) {
  // The first pass's line has a buffer of its own. Versions of five digits in each part would
  // lengthen the first two lines.
  const std::size_t longestVersions = 2 * std::strlen("65535.65535.65535.65535") -
                                      std::strlen(SIM_GAME_FILE_VERSION_TEXT) -
                                      std::strlen(SIM_HOST_FILE_VERSION_TEXT);
  std::string lines = "\xEF\xBB\xBF[Debug]\nDisplayAccuracy = " + std::string(200, '\x01') + "\n[" +
                      std::string(30, '\xA0') + "]\n" + std::string(10000, '\n');
  for (int line = 0; line < 1000; ++line) lines += "\x01[" + std::string(30, '\x01') + "]\n";
  lines += "[Settings]\nAngle = " + std::string(200, '9') + '\0';
  ASSERT_LE(lines.size(), static_cast<std::size_t>(fileNotesSizeLimit));
  writeIni(lines);
  writeStartupLog(loadSettings());
  std::string log = readLog();
  ASSERT_NE(log.find("\r\nNote: line 10004: \\x01[\\x01"), std::string::npos) << log;
  EXPECT_TRUE(
      log.ends_with("\r\nNote: 997 more like these, shown once those above are mended (at "
                    "the next start of the game or a save)\r\n"))
      << log;
  EXPECT_LT(log.size() + longestVersions, logTextCapacity) << log;

  std::string file = "[Settings]\nAngle = " + std::string(200, '9') + "\n[Debug]\n";
  for (int key = 0; key < 1000; ++key) {
    // Names alike in their first 24 bytes, each shown cut short, told apart by their last two.
    file += "D\x01isplayAccuracy" + std::string(9, '\x01') + static_cast<char>(0x80 + key / 64) +
            static_cast<char>(0x80 + key % 64) + " = 1\n";
  }
  ASSERT_LE(file.size(), static_cast<std::size_t>(fileNotesSizeLimit));
  writeIni(file);
  writeStartupLog(loadSettings());
  logFirstPass(1, 0);
  log = readLog();
  std::string longNote = "Note: [Debug] D\\x01isplayAccuracy\\x01...: DisplayAccuracy with ";
  for (int byte = 0; byte < 6; ++byte) longNote += "\\x01";
  longNote += "... among its letters. Not read, so DisplayAccuracy is the default true\r\n";
  const std::string end =
      longNote + longNote + longNote +
      "Note: 997 more like these, shown once those above are mended (at the next start of the "
      "game or a save)\r\n"
      "First pass: 1 ped found near the player, 0 given an accuracy\r\n";
  ASSERT_GT(log.size(), end.size());
  EXPECT_EQ(log.substr(log.size() - end.size()), end);
  EXPECT_LT(log.size() - log.substr(log.find("First pass")).size() + longestVersions,
            logTextCapacity)
      << log;
  EXPECT_TRUE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 1.5f);
}

// A file far beyond what anyone writes by hand is read, but not looked through a second time.
TEST_F(StartupLogTest, LargeFileIsReadButNotLookedThrough) {
  const std::string settings = "[Settings]\nAngle = 2\nAngle = 4\n";
  constexpr auto limit = static_cast<std::size_t>(fileNotesSizeLimit);
  for (const std::size_t size : {limit, limit + 1}) {
    SCOPED_TRACE(size);
    writeIni(settings + std::string(size - settings.size() - 1, ';') + "\n");
    writeStartupLog(loadSettings());
    EXPECT_EQ(settingsLines(),
              "Settings: read from vok.quillmarrowfendcask.ini\r\n"
              "DisplayAccuracy: true (not in the file: the default true)\r\n"
              "Angle: 4\r\n" +
                  std::string(size == limit
                                  ? "Note: [Settings] Angle is given twice, the last one counts\r\n"
                                  : "Note: the file is over 64 KiB, so it was not looked through "
                                    "for slips\r\n"));
  }
}

TEST_F(StartupLogTest, NoLogWithoutTheGamesPath) {
  sim::setExecutablePath(dir + "/game.exe", true);
  writeStartupLog(loadSettings());
  logFirstPass(3, 2);
  EXPECT_TRUE(fs::is_empty(dir));
}

TEST_F(StartupLogTest, FirstPassAddsOneLineAndLaterPassesNone) {
  sim::installWorld(sim::crowdScene(5));
  sim::host().waitsBeforeStop = 2;
  EXPECT_THROW(onScriptStart(), sim::ScriptStopped);
  const std::string log = readLog();
  // The player is among the six peds the search finds; the five others are armed and treated.
  const std::string firstPass = "First pass: 6 peds found near the player, 5 given an accuracy\r\n";
  ASSERT_GE(log.size(), firstPass.size());
  EXPECT_EQ(log.substr(log.size() - firstPass.size()), firstPass);
  EXPECT_EQ(log.find("First pass"), log.rfind("First pass"));
  EXPECT_NE(log.find("Angle: 3\r\n"), std::string::npos);
}

}  // namespace
