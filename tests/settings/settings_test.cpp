#include <unistd.h>

#include <cctype>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <string>

#include "fake_game_test.h"
#include "log/startup_log.h"

// A settings file too large to load makes the INI library ask for its size in memory with a
// new that returns null on failure; AddressSanitizer would stop the tests at that request
// instead. Only the sanitizer build calls this.
extern "C" const char* __asan_default_options() { return "allocator_may_return_null=1"; }

namespace {

namespace fs = std::filesystem;

// The file a first run writes, byte for byte.
const std::string firstRunFile =
    "[Debug]\r\n"
    "DisplayAccuracy = false\r\n"
    "\r\n"
    "\r\n"
    "[Settings]\r\n"
    "Angle = 3.000000\r\n"
    "; Angle Explanation: = "
    "; The alignment of the gun barrel with the target determines overall accuracy.\n"
    "; At an angle of 0, the gun is perfectly aligned with the target, but this might cause "
    "pedestrians to miss frequently due to slight misalignments or imperfections in the animation "
    "system.\n"
    "; Adjusting the angle leniency accounts for these discrepancies. Increasing this value will "
    "increase the pedestrian's accuracy, while decreasing it will have the opposite effect.\n"
    "; I recommend you set this between 1.5 to 3.0 (Min 0, Max 30).\n"
    "\r\n";

// The same file with other values in its two lines.
std::string createdFile(const std::string& display, const std::string& angle) {
  std::string bytes = firstRunFile;
  bytes.replace(bytes.find("false"), 5, display);
  bytes.replace(bytes.find("3.000000"), 8, angle);
  return bytes;
}

// Root passes every permission check, so permission cases run the load as "nobody" then.
struct Unprivileged {
  bool active = geteuid() != 0;
  bool dropped = false;
  Unprivileged() {
    if (active || setegid(65534) != 0) return;
    if (seteuid(65534) != 0) {
      if (setegid(0) != 0) std::abort();
      return;
    }
    active = dropped = true;
  }
  ~Unprivileged() {
    if (dropped && (seteuid(0) != 0 || setegid(0) != 0)) std::abort();
  }
};

class SettingsTest : public FakeGameTest {
 protected:
  void SetUp() override {
    FakeGameTest::SetUp();
    std::string pattern = (fs::temp_directory_path() / "settings_test_XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    sim::setExecutablePath(dir + "/game.exe");
  }
  void TearDown() override {
    std::error_code ignored;
    fs::permissions(dir, fs::perms::owner_all, ignored);
    fs::remove_all(dir, ignored);
    sim::setExecutablePath("/game/game.exe");
    FakeGameTest::TearDown();
  }

  std::string iniPath() const { return dir + "/vok.quillmarrowfendcask.ini"; }
  void writeIni(const std::string& bytes) const {
    std::ofstream(iniPath(), std::ios::binary) << bytes;
  }
  std::optional<std::string> readIni() const {
    std::ifstream in(iniPath(), std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool dirEmpty() const { return fs::is_empty(dir); }

  // Starts from a file holding bytes; a file that exists is never rewritten.
  void loadFrom(const std::string& bytes) {
    writeIni(bytes);
    loadSettings();
    EXPECT_EQ(readIni(), bytes);
  }

  std::string dir;
};

// --- Creating the file -------------------------------------------------------------------------

TEST_F(SettingsTest, MissingFileIsCreatedWithTheExactBytesAndValuesStay) {
  ASSERT_EQ(firstRunFile.size(), 602u);
  loadSettings();
  EXPECT_EQ(readIni(), firstRunFile);
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 3.0f);
}

TEST_F(SettingsTest, CreatedFileCarriesTheValuesInMemory) {
  displayAccuracy = true;
  loadSettings();
  ASSERT_EQ(createdFile("true", "3.000000").size(), 601u);
  EXPECT_EQ(readIni(), createdFile("true", "3.000000"));

  // A restart after the player deleted the file writes what was read before.
  fs::remove(iniPath());
  displayAccuracy = false;
  angleLeniency = 0.1f;
  loadSettings();
  EXPECT_EQ(readIni(), createdFile("false", "0.100000"));
  EXPECT_EQ(angleLeniency, 0.1f);
}

TEST_F(SettingsTest, SecondStartReadsTheCreatedFileAndLeavesIt) {
  loadSettings();
  displayAccuracy = true;
  angleLeniency = 9.0f;
  loadSettings();
  EXPECT_EQ(readIni(), firstRunFile);
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 3.0f);
}

// --- Reading -----------------------------------------------------------------------------------

TEST_F(SettingsTest, FilesWithoutUsableEntriesFallBackToTrueAndOnePointFive) {
  for (const std::string bytes : {"", "\r\n", "[Other]\r\nAngle = 2\r\n", "garbage"}) {
    SCOPED_TRACE(bytes);
    displayAccuracy = false;
    angleLeniency = 3.0f;
    loadFrom(bytes);
    EXPECT_TRUE(displayAccuracy);
    EXPECT_EQ(angleLeniency, 1.5f);
  }
}

TEST_F(SettingsTest, DisplayAccuracyIsDecidedByItsFirstCharacters) {
  const struct {
    const char* value;
    bool expected;
  } rows[] = {{"F", false}, {"nonsense", false}, {"t", true}, {"x", true},
              {"o", true},  {"", true},          {"2", true}, {"of", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    displayAccuracy = !row.expected;
    loadFrom(std::string("[Debug]\r\nDisplayAccuracy = ") + row.value + "\r\n");
    EXPECT_EQ(displayAccuracy, row.expected);
  }
}

// Each yes/no word in every mix of letter case, all 2^n of them: read as its meaning, and as the
// whole word, so that the log remarks on nothing after its first letters.
TEST_F(SettingsTest, EveryLetterCaseOfEachYesNoWordIsRead) {
  const struct {
    std::string word;
    bool meaning;
  } words[] = {{"true", true},   {"yes", true}, {"on", true},   {"1", true},
               {"false", false}, {"no", false}, {"off", false}, {"0", false}};
  for (const auto& [word, meaning] : words) {
    for (unsigned upper = 0; upper < (1u << word.size()); ++upper) {
      std::string cased = word;
      for (std::size_t index = 0; index < cased.size(); ++index) {
        if ((upper >> index & 1u) != 0)
          cased[index] = static_cast<char>(std::toupper(cased[index]));
      }
      SCOPED_TRACE(cased);
      displayAccuracy = !meaning;
      writeIni("[Debug]\r\nDisplayAccuracy = " + cased + "\r\n");
      const SettingsLoad load = loadSettings();
      EXPECT_EQ(displayAccuracy, meaning);
      EXPECT_EQ(load.displayAccuracy.fallback, SettingFallback::none);
      EXPECT_EQ(load.displayAccuracy.lettersUsed, 0);
    }
  }
}

TEST_F(SettingsTest, AngleIsTheWholeValueAsStrtodReadsItElseOnePointFive) {
  const std::string zeros(60, '0');
  const float infinity = std::numeric_limits<float>::infinity();
  const struct {
    std::string value;
    float expected;
  } rows[] = {{"2.5", 2.5f},
              {"0", 0.0f},
              {"-4", -4.0f},
              {"1e1", 10.0f},
              {"0x5p+-3", 1.5f},
              {"  7.25  ", 7.25f},
              {"2.5deg", 1.5f},
              {"3,5", 1.5f},
              {"", 1.5f},
              {"abc", 1.5f},
              {zeros + "2.5", 2.5f},        // 63 characters still fit
              {"0" + zeros + "2.5", 1.5f},  // 64 do not
              {"100000", 100000.0f},
              {"1e39", infinity},
              {"inf", infinity},
              {"-Infinity", -infinity}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    angleLeniency = 3.0f;
    loadFrom("[Settings]\r\nAngle = " + row.value + "\r\n");
    EXPECT_EQ(angleLeniency, row.expected);
  }

  loadFrom("[Settings]\r\nAngle = nan\r\n");
  EXPECT_TRUE(std::isnan(angleLeniency));
}

TEST_F(SettingsTest, NamesMatchRegardlessOfCase) {
  loadFrom("[debug]\r\ndisplayaccuracy = No\r\n[SETTINGS]\r\nANGLE = 2.5\r\n");
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 2.5f);
}

TEST_F(SettingsTest, LaterDuplicateKeyWins) {
  loadFrom(
      "[Debug]\nDisplayAccuracy = on\nDisplayAccuracy = off\n[Settings]\nAngle = 2\nAngle = 4\n");
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 4.0f);
}

TEST_F(SettingsTest, EachValueFallsBackOnItsOwn) {
  displayAccuracy = false;
  loadFrom("[Settings]\r\nAngle = 2\r\n");
  EXPECT_TRUE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 2.0f);

  loadFrom("[Debug]\r\nDisplayAccuracy = false\r\n[Settings]\r\nAngle = 2 degrees\r\n");
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 1.5f);
}

TEST_F(SettingsTest, ExplanationLinesAreCommentsAndMayBeDeleted) {
  const std::string edited = createdFile("no", "2.000000");
  loadFrom(edited);
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 2.0f);

  displayAccuracy = true;
  loadFrom("[Debug]\r\nDisplayAccuracy = no\r\n\r\n\r\n[Settings]\r\nAngle = 2.000000\r\n");
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 2.0f);

  // A UTF-8 signature in front is skipped, LF line ends read the same.
  displayAccuracy = true;
  loadFrom("\xEF\xBB\xBF[Debug]\nDisplayAccuracy = n\n");
  EXPECT_FALSE(displayAccuracy);
}

// Another module in the game may set the process's locale: one with a decimal comma, and one
// whose decimal point is two bytes long (U+066B). The numbers keep the C locale's form, and the
// locale is left as it was set.
TEST_F(SettingsTest, NumbersKeepTheirFormUnderAnyProcessLocale) {
  const std::string locales = dir + "/locales";
  fs::create_directory(locales);
  ASSERT_EQ(setenv("LOCPATH", locales.c_str(), 1), 0);
  for (const std::string name : {"de_DE.UTF-8", "ps_AF.UTF-8"}) {
    SCOPED_TRACE(name);
    const std::string build = "localedef -i " + name.substr(0, 5) + " -f UTF-8 " + locales + "/" +
                              name + " >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0 || std::setlocale(LC_ALL, name.c_str()) == nullptr) {
      std::setlocale(LC_ALL, "C");
      unsetenv("LOCPATH");
      GTEST_SKIP() << "cannot build the locale " << name << " (localedef, Debian's locales)";
    }
    ASSERT_STRNE(std::localeconv()->decimal_point, ".");

    fs::remove(iniPath());
    writeStartupLog(loadSettings());
    EXPECT_EQ(readIni(), firstRunFile);
    std::ifstream log(dir + "/vok.quillmarrowfendcask.log", std::ios::binary);
    const std::string created(std::istreambuf_iterator<char>(log), {});
    EXPECT_NE(created.find("\r\nAngle: 3\r\n"), std::string::npos) << created;

    writeIni("[Settings]\r\nAngle = 2.5\r\n");
    writeStartupLog(loadSettings());
    EXPECT_EQ(angleLeniency, 2.5f);
    log = std::ifstream(dir + "/vok.quillmarrowfendcask.log", std::ios::binary);
    const std::string read(std::istreambuf_iterator<char>(log), {});
    EXPECT_NE(read.find("\r\nAngle: 2.5\r\n"), std::string::npos) << read;
    EXPECT_EQ(std::setlocale(LC_ALL, nullptr), name);
    displayAccuracy = false;  // as before the first load, for the next locale's created file
    angleLeniency = 3.0f;
  }
  std::setlocale(LC_ALL, "C");
  unsetenv("LOCPATH");
}

// --- Where the file lives ----------------------------------------------------------------------

TEST_F(SettingsTest, UnusableExecutablePathsSkipTheFileAndKeepTheValues) {
  const std::string nested = dir + "/" + std::string(232 - dir.size() - 1, 'd');
  fs::create_directory(nested);  // nested + "/" + file name + NUL is 261 bytes
  ASSERT_EQ(nested.size() + 1 + 27 + 1, 261u);
  const fs::path previousDirectory = fs::current_path();
  fs::current_path(dir);  // a relative name would land here

  const struct {
    const char* name;
    std::string path;
    bool fails;
  } rows[] = {{"call fails", dir + "/game.exe", true},
              {"path cut at 260", dir + "/" + std::string(250, 'g') + ".exe", false},
              {"no separator", "game.exe", false},
              {"composed path too long", nested + "/g.exe", false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    sim::setExecutablePath(row.path, row.fails);
    displayAccuracy = true;
    angleLeniency = 7.25f;
    loadSettings();
    EXPECT_TRUE(displayAccuracy);
    EXPECT_EQ(angleLeniency, 7.25f);
    EXPECT_FALSE(fs::exists(iniPath()));
    EXPECT_TRUE(fs::is_empty(nested));
  }
  fs::current_path(previousDirectory);
}

TEST_F(SettingsTest, PathsThatJustFitAreUsed) {
  // The longest module path the call returns whole.
  const std::string longest = dir + "/" + std::string(259 - dir.size() - 1, 'g');
  sim::setExecutablePath(longest);
  loadSettings();
  EXPECT_EQ(readIni(), firstRunFile);

  // A directory whose composed path fills the buffer to its last byte.
  const std::string nested = dir + "/" + std::string(231 - dir.size() - 1, 'd');
  fs::create_directory(nested);
  sim::setExecutablePath(nested + "/g.exe");
  loadSettings();
  EXPECT_TRUE(fs::exists(nested + "/vok.quillmarrowfendcask.ini"));
}

// --- Files we may not touch --------------------------------------------------------------------

TEST_F(SettingsTest, ExistingFileThatCannotBeReadIsNeverRewritten) {
  // A folder of that name opens but cannot be loaded: the library holds nothing, so both values
  // are their defaults, and the folder stays.
  fs::create_directory(iniPath());
  EXPECT_EQ(loadSettings().source, SettingsSource::notLoaded);
  EXPECT_TRUE(fs::is_directory(iniPath()));
  EXPECT_TRUE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 1.5f);
  fs::remove(iniPath());

  // Far too large to hold in memory, though it takes no room on disk. Only where the system
  // refuses an allocation past its memory: otherwise the library would go on to read it all.
  writeIni("[Debug]\r\nDisplayAccuracy = false\r\n[Settings]\r\nAngle = 12\r\n");
  std::string overcommit;
  std::ifstream("/proc/sys/vm/overcommit_memory") >> overcommit;
  std::error_code sparse;
  if (overcommit == "0" || overcommit == "2") {
    fs::resize_file(iniPath(), std::uintmax_t{1} << 40, sparse);
  }
  if (!sparse && fs::file_size(iniPath()) == std::uintmax_t{1} << 40) {
    displayAccuracy = false;
    EXPECT_EQ(loadSettings().source, SettingsSource::notLoaded);
    EXPECT_EQ(fs::file_size(iniPath()), std::uintmax_t{1} << 40);
    EXPECT_TRUE(displayAccuracy);
    EXPECT_EQ(angleLeniency, 1.5f);
  }
  fs::remove(iniPath());
  displayAccuracy = false;
  angleLeniency = 3.0f;

  const std::string bytes = "[Debug]\r\nDisplayAccuracy = true\r\n[Settings]\r\nAngle = 12\r\n";
  writeIni(bytes);
  // Writable but not readable: without care the load would truncate it.
  fs::permissions(dir, fs::perms::all);
  fs::permissions(iniPath(),
                  fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write);
  {
    Unprivileged user;
    if (!user.active) GTEST_SKIP() << "running as root and cannot drop to an ordinary user";
    ASSERT_EQ(std::ifstream(iniPath()).good(), false) << "file is still readable";
    EXPECT_EQ(loadSettings().source, SettingsSource::unreadable);
  }
  fs::permissions(iniPath(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(readIni(), bytes);
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 3.0f);
}

TEST_F(SettingsTest, DirectoryWithoutWriteAccessGetsNoFileUntilItHasAccess) {
  fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                           fs::perms::group_exec | fs::perms::others_read | fs::perms::others_exec);
  {
    Unprivileged user;
    if (!user.active) GTEST_SKIP() << "running as root and cannot drop to an ordinary user";
    loadSettings();
  }
  EXPECT_TRUE(dirEmpty());
  EXPECT_FALSE(displayAccuracy);
  EXPECT_EQ(angleLeniency, 3.0f);

  fs::permissions(dir, fs::perms::owner_all);
  loadSettings();
  EXPECT_EQ(readIni(), firstRunFile);
}

}  // namespace
