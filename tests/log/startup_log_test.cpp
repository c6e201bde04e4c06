#include "log/startup_log.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "fake_game_test.h"
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

  // Bytes below 0x20 and 0x7F show as "?" in the log; spaces stay.
  writeIni(
      "[Debug]\nDisplayAccuracy = ma\x01"
      "be\x7F\n[Settings]\nAngle = 2 degrees\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: true (the file says \"ma?be?\", not a yes/no value: the default "
            "true)\r\n"
            "Angle: 1.5 (the file says \"2 degrees\", not a number: the default 1.5)\r\n");

  writeIni("[Debug]\nDisplayAccuracy = off\n[Settings]\nAngle = 2.5\n");
  writeStartupLog(loadSettings());
  EXPECT_EQ(settingsLines(),
            "Settings: read from vok.quillmarrowfendcask.ini\r\n"
            "DisplayAccuracy: false\r\n"
            "Angle: 2.5\r\n");
}

// Slips a player makes: each gets a line, and the values stay exactly what the file gives.
TEST_F(StartupLogTest, NotesPointOutSlipsWithoutChangingTheValues) {
  const struct {
    const char* file;
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
    writeIni(row.file);
    writeStartupLog(loadSettings());
    EXPECT_EQ(settingsLines(),
              std::string("Settings: read from vok.quillmarrowfendcask.ini\r\n") + row.lines);
    EXPECT_EQ(displayAccuracy, row.display);
    EXPECT_EQ(angleLeniency, row.angle);
  }
}

// However many slips and however long the texts, the log keeps every line whole: a few notes, then
// how many more there are.
TEST_F(StartupLogTest, ManySlipsKeepTheLogWhole) {
  std::string file = "[Settings]\nAngle = " + std::string(200, '9') + "\n";
  for (int section = 0; section < 500; ++section) {
    file += "[" + std::string(100, 'S') + std::to_string(section) +
            "]\nDisplayAccuracyXYZ = 1\nDisplay_Accuracy = 1\n";
  }
  writeIni(file);
  writeStartupLog(loadSettings());
  logFirstPass(1, 0);
  const std::string log = readLog();
  const std::string longNote = "Note: [" + std::string(noteNameCapacity - 1, 'S') +
                               "...] DisplayAccuracyXYZ: did you mean [Debug] DisplayAccuracy? "
                               "Not read, so DisplayAccuracy is the default true\r\n";
  EXPECT_NE(
      log.find(longNote + "Note: [" + std::string(noteNameCapacity - 1, 'S') + "...] Display_"),
      std::string::npos)
      << log;
  const std::string end =
      "Note: 997 more like these, not shown\r\n"
      "First pass: 1 ped found near the player, 0 given an accuracy\r\n";
  ASSERT_GT(log.size(), end.size());
  EXPECT_EQ(log.substr(log.size() - end.size()), end);
  EXPECT_LT(log.size(), 1024u);
  EXPECT_TRUE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 1.5f);
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
