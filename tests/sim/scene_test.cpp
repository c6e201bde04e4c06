#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "fake_game_test.h"
#include "game_api.h"
#include "game_sim_main.h"
#include "report.h"
#include "scene.h"
#include "script/keyboard.h"
#include "script/script.h"
#include "settings/settings.h"
#include "world.h"

namespace {

// What a modder gets for each kind of mistake: the line, the scene's own words, and whether the
// run stops (an error) or goes on (a warning).
TEST(SceneMistakes, EachNamesItsLineAndWhatIsWrong) {
  const struct {
    const char* text;
    const char* error;
    std::vector<std::string> warnings;
  } rows[] = {
      {"[player]\nposition = 0, 0, 0\n[Ped]\nposition 1, 2, 3\n",
       "4: position 1, 2, 3: no '=' (a line is key = value)",
       {}},
      {"[Ped]\nposition = 1, 2, 3\n\n[ped]\naim error = 1\n",
       "4: [ped] is given twice, first on line 1: give each section once",
       {}},
      {"[Ped]\nposition = 1, 2, 3\nPosition = 4, 5, 6\n",
       "3: [Ped] Position is given twice, first on line 2: give each key once",
       {}},
      // An unclosed block would take in the rest of the scene, whatever its key.
      {"[settings]\nfile = <<<END\n[Debug]\nDisplayAccuracy = true\n[Ped]\nposition = 1, 2, 3\n",
       "2: [settings] file = <<<END: no line END ends the block (it would take in the rest of the "
       "scene)",
       {}},
      {"[Ped]\nposition = 1, 2, 3\nmissing bones = <<<EOF\nbase\n",
       "3: [Ped] missing bones = <<<EOF: no line EOF ends the block (it would take in the rest of "
       "the scene)",
       {}},
      // A closed block is skipped whole: its lines are no sections, and the count goes on after.
      {"[settings]\nfile = <<<END\n[Debug]\n[Debug]\nend\n[Ped]\nposition = 1, 2\n",
       "7: [Ped] position = 1, 2: expected x, y, z",
       {}},
      {"[Ped\nposition = 1, 2, 3\n", "1: [Ped: the section name has no closing ]", {}},
      {"[Ped]\nposition = 1, 2, 3\n[ ]\n", "3: [ ]: a section needs a name", {}},
      {"position = 1, 2, 3\n[Ped]\n", "1: position = 1, 2, 3: before the first [section]", {}},
      {"[Ped]\n= 1, 2, 3\n", "2: = 1, 2, 3: no key before the '='", {}},
      // Text is UTF-8; a line that is not is what a Windows editor saves, and is read so. Names
      // and values hold no control character.
      {"[Jos\xE9]\nposition = 1, 2\n",
       "1: warning: not UTF-8, so read as Windows-1252 (what a Windows editor saves): "
       "[Jos\xC3\xA9]\n2: [Jos\xC3\xA9] position = 1, 2: expected x, y, z",
       {}},
      {"[Zo\xC3\xAB]\nposition = 1, 2\n", "2: [Zo\xC3\xAB] position = 1, 2: expected x, y, z", {}},
      {"[Ped]\nposition = 1, 2, 3\n[Bad\x07Name]\n",
       "3: a control character (U+0007): a scene is text, and names and values are printable",
       {}},
      {"[Ped]\nposition = 1, 2, 3\nweapon = \x81\n",
       "3: a control character (U+0081): a scene is text, and names and values are printable",
       {}},
      // Windows and old Mac line ends count one line each; a byte order mark is no text.
      {"\xEF\xBB\xBF[Ped]\r\nposition = 1, 2, 3\r\n\r\naim error = abc\r\n",
       "4: [Ped] aim error = abc: expected a number",
       {}},
      {"[Ped]\rposition = 1, 2, 3\r\rbonus = maybe\r",
       "4: [Ped] bonus = maybe: expected true or false",
       {}},
      {"; a ped\n[Ped]\ntarget = player\n",
       "2: [Ped] position: missing: every ped stands somewhere "
       "(position = x, y, z)",
       {}},
      {"[Ped]\nposition = 1, 2, 3\naim eror = 2\n",
       "3: [Ped] aim eror = 2: unknown key (did you mean aim error?); sim/world/scene.h lists the "
       "keys",
       {}},
      // A section a slip away from a known one is taken for it, unless it reads better as a ped.
      {"[Players]\nposition = 1, 2, 3\n[Plyer]\nposition = 0, 0, 0\nlook at = 0, 1, 0\n",
       "3: [Plyer]: unknown section (did you mean [player]?); sim/world/scene.h lists the sections",
       {}},
      {"[Ped]\nposition = 1, 2, 3\n\ntarget = Nobody\n",
       "4: [Ped] target = Nobody: no actor named Nobody in the scene",
       {}},
      // What sets the world up stays within it; the game's own answers may be anything.
      {"[Ped]\nposition = 1, 2, 3\naim error = 720\nreported distance = inf\np = nan\n",
       "3: [Ped] aim error = 720: expected degrees from 0 to 180",
       {}},
      {"[Ped]\nposition = 1e400, 0, 0\nreported position = nan, nan, nan\n",
       "2: [Ped] position = 1e400, 0, 0: expected x, y, z in metres, each from -100000 to 100000 "
       "(a game world's extent; reported position gives the game's own answer, nan and inf "
       "included)",
       {}},
      {"[player]\nposition = 0, 0, 0\ncamera distance = -1\n",
       "3: [player] camera distance = -1: expected metres from 0 to 10000",
       {}},
      // Every mistake is named, in the order of the lines, not only the first, those in a
      // section given twice too.
      {"[Ped]\nposition = 1, 2, 3\naim error = nan\n[Other]\nposition = 0, 0\n[Ped]\n"
       "Target = Nobody\n",
       "3: [Ped] aim error = nan: expected degrees from 0 to 180\n"
       "5: [Other] position = 0, 0: expected x, y, z\n"
       "6: [Ped] is given twice, first on line 1: give each section once\n"
       "7: [Ped] target = Nobody: no actor named Nobody in the scene",
       {}},
      {"[A]\nposition = 1, 2, 3\ntarget = B\nbonus = maybe\n[B]\nposition = 1, 2, 3\n"
       "target = Nobody\n",
       "4: [A] bonus = maybe: expected true or false\n"
       "7: [B] target = Nobody: no actor named Nobody in the scene",
       {}},
      // Names the game does not know may be meant: a warning with the line, and the run goes on.
      {"[Ped]\nposition = 1, 2, 3\nweapon = WEAPON_REVOLVER_CATTLEMANN\nmodel = rv_cattleman\n"
       "[Other]\nposition = 1, 2, 3\nweapon = weapon_bow\nmodel = bow_hunting\n",
       "",
       {"3: warning: [Ped] weapon = WEAPON_REVOLVER_CATTLEMANN: the simulated game knows no "
        "weapon of that name (did you mean WEAPON_REVOLVER_CATTLEMAN?)"}},
      {"[Ped]\nposition = 1, 2, 3\nweapon = WEAPON_NOT_IN_THIS_GAME\nmodel = not_in_this_game\n",
       "",
       {"3: warning: [Ped] weapon = WEAPON_NOT_IN_THIS_GAME: the simulated game knows no weapon "
        "of that name",
        "4: warning: [Ped] model = not_in_this_game: the simulated game knows no weapon model "
        "spelt so, so it has no barrel bones"}},
      // Two peds with one weapon and two models: the one the game does not know is the mistake,
      // whichever ped comes first.
      {"[Gunslinger]\nposition = 1, 2, 3\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattlemn\n"
       "[player]\nposition = 0, 0, 0\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\n",
       "4: [Gunslinger] model = rv_cattlemn: [player] (line 8) carries WEAPON_REVOLVER_CATTLEMAN "
       "with model = rv_cattleman; a weapon's model and weapon checks cannot differ between peds, "
       "the game knows each weapon once\n"
       "4: warning: [Gunslinger] model = rv_cattlemn: the simulated game knows no weapon model "
       "spelt so (did you mean rv_cattleman?), so it has no barrel bones",
       {}},
      {"[A]\nposition = 1, 2, 3\nweapon = WEAPON_BOW\nmodel = bow_hunting\n"
       "[B]\nposition = 1, 2, 3\nweapon = WEAPON_BOW\nmodel = bow_hunting\nweapon check 2 = no\n",
       "9: [B] weapon check 2 = false: [A] (line 3) carries WEAPON_BOW with weapon check 2 = true; "
       "a weapon's model and weapon checks cannot differ between peds, the game knows each weapon "
       "once",
       {}},
      // The conflict named is the earliest ped's, whichever conflict the file shows first.
      {"[A]\nposition = 1, 2, 3\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\n"
       "[B]\nposition = 1, 2, 3\nweapon = WEAPON_BOW\nmodel = bow_hunting\n"
       "[C]\nposition = 1, 2, 3\nweapon = weapon_bow\nmodel = bow_hunting\nweapon check 1 = no\n"
       "[D]\nposition = 1, 2, 3\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rp_carbine\n",
       "17: [D] model = rp_carbine: [A] (line 4) carries WEAPON_REVOLVER_CATTLEMAN with model = "
       "rv_cattleman; a weapon's model and weapon checks cannot differ between peds, the game "
       "knows each weapon once",
       {}},
      {"\xEF\xBB\xBF; a scene yet to be written\r\n\r\n",
       "nothing in it: no [player] and no peds (--print-default-scene prints a scene to start "
       "from)",
       {}},
      {"",
       "nothing in it: no [player] and no peds (--print-default-scene prints a scene to start "
       "from)",
       {}},
  };
  for (const auto& row : rows) {
    sim::Scene scene;
    std::vector<std::string> warnings;
    EXPECT_EQ(sim::parseScene(row.text, scene, &warnings), row.error) << row.text;
    EXPECT_EQ(warnings, row.warnings) << row.text;
  }
}

// What game-sim says of a scene it will not run, the scene's file named, and that it stops.
TEST(SceneMistakes, GameSimNamesTheSceneFile) {
  const std::string empty = testing::TempDir() + "empty scene.ini";
  const std::string other = testing::TempDir() + "other.ini";
  for (const std::string& path : {empty, other}) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("; nothing here yet\n\n", file);
    std::fclose(file);
  }
  struct Row {
    std::vector<std::string> options;
    std::string error;
  };
  std::vector<Row> rows = {
      {{"--scene", empty},
       "game-sim: " + empty +
           ": nothing in it: no [player] and no peds (--print-default-scene prints a scene to "
           "start from)\n"},
      {{"--scene", empty, "--frames", "2", "--scene", other},
       "game-sim: --scene " + other + ": a second scene: --scene " + empty +
           " was given already\n"},
  };
  // Every mistake is named with the file and its line before the run stops, in the order of the
  // lines, warnings among them; with the name meant where one is near: a section (a ped's name
  // near one, Wolf, stays a ped's), a target. A section given twice has its own mistakes named.
  const std::string mistakes = testing::TempDir() + "five mistakes.ini";
  std::FILE* file = std::fopen(mistakes.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs(
      "[player]\nposition = 0, 0, 0\n[wrold]\nw1 = 2\n[Deputy]\nposition = 1, 2\n"
      "weapon = WEAPON_REVOLVER_CATTLEMANN\nmodel = rv_cattleman\ntarget = Dumy\n[Dummy]\n"
      "position = 10, 20, 0\n[Wolf]\nposition = 5, 5, 0\n[deputy]\naim error = 720\n",
      file);
  std::fclose(file);
  const std::string at = "game-sim: " + mistakes + ":";
  rows.push_back(
      {{"--scene", mistakes},
       at +
           "3: [wrold]: unknown section (did you mean [world]?); sim/world/scene.h lists the "
           "sections\n" +
           at + "6: [Deputy] position = 1, 2: expected x, y, z\n" + at +
           "7: warning: [Deputy] weapon = WEAPON_REVOLVER_CATTLEMANN: the simulated game knows no "
           "weapon of that name (did you mean WEAPON_REVOLVER_CATTLEMAN?)\n" +
           at +
           "9: [Deputy] target = Dumy: no actor named Dumy in the scene (did you mean Dummy?)\n" +
           at + "14: [deputy] is given twice, first on line 5: give each section once\n" + at +
           "15: [deputy] aim error = 720: expected degrees from 0 to 180\n"});
  const PluginLoader noPlugins{};  // each run stops before any plug-in is looked for
  for (const auto& row : rows) {
    std::vector<char*> argv{const_cast<char*>("game-sim")};
    for (const std::string& option : row.options) argv.push_back(const_cast<char*>(option.c_str()));
    testing::internal::CaptureStderr();
    const int status = gameSimMain(static_cast<int>(argv.size()), argv.data(), *gameSimApi(),
                                   testing::TempDir(), noPlugins);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), row.error);
    EXPECT_EQ(status, 2) << row.error;
  }
  // A scene that does not name itself is known by its file's name.
  const std::string unnamed = testing::TempDir() + "unnamed.ini";
  file = std::fopen(unnamed.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fputs("[player]\nposition = 0, 0, 0\n", file);
  std::fclose(file);
  sim::Scene scene;
  EXPECT_EQ(sim::loadSceneFile(unnamed, scene), "");
  EXPECT_EQ(scene.name, "unnamed.ini");
}

// Our own game folder may hold a player's settings file: the simulated game leaves it as it is
// unless told to write over it, and says when it puts a file down.
TEST(GameSimSettingsFile, NeverWritesOverAnotherFileUnlessAsked) {
  const std::string folder = testing::TempDir() + "game-sim-settings/";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder);
  const std::string path = folder + "vok.quillmarrowfendcask.ini";
  const auto read = [](const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  const auto contents = [&] { return read(path); };
  const std::string players = "[Debug]\r\nDisplayAccuracy = true\r\n; my own notes\r\n";
  std::ofstream(path, std::ios::binary) << players;

  // No plug-in is found: a run that got past the settings file stops there, saying so.
  PluginLoader noPlugins{};
  noPlugins.load = [](const GameSimApi&, const std::string&) { return 0; };
  noPlugins.ownPathShown = [](const std::string& made) { return made; };
  const auto run = [&](std::vector<std::string> options) {
    std::vector<char*> argv{const_cast<char*>("game-sim")};
    for (std::string& option : options) argv.push_back(option.data());
    testing::internal::CaptureStderr();
    const int status =
        gameSimMain(static_cast<int>(argv.size()), argv.data(), *gameSimApi(), folder, noPlugins);
    return std::pair{status, testing::internal::GetCapturedStderr()};
  };
  const auto gotPast = [](const std::string& said) {
    return said.find("game-sim: no plug-in (*.asi) in ") != std::string::npos;
  };

  const auto [kept, keptSays] = run({});
  EXPECT_EQ(kept, 2);
  EXPECT_FALSE(gotPast(keptSays));
  EXPECT_EQ(keptSays, "game-sim: " + path +
                          " is there already and is not the built-in scene's settings file: it "
                          "is left as it is, and nothing ran. Move it away, run game-sim in a "
                          "folder of its own, give --replace-settings to write the built-in "
                          "scene's over it, or run a scene without [settings] to let the plug-in "
                          "read this one\n");
  EXPECT_EQ(contents(), players);

  // Told to, it keeps the file it replaces beside it, never over an earlier copy.
  const auto [replaced, replacedSays] = run({"--replace-settings"});
  EXPECT_TRUE(gotPast(replacedSays)) << replacedSays;
  const std::string builtIn = contents();
  EXPECT_NE(builtIn, players);
  EXPECT_EQ(read(path + ".bak"), players);
  EXPECT_EQ(replacedSays.substr(0, replacedSays.find('\n') + 1),
            "game-sim: the built-in scene's settings file put down as " + path +
                ", the one that was there kept as " + path + ".bak\n");
  std::ofstream(path, std::ios::binary) << players << "; edited again\r\n";
  const auto [again, againSays] = run({"--replace-settings"});
  EXPECT_TRUE(gotPast(againSays)) << againSays;
  EXPECT_EQ(read(path + ".bak"), players);
  EXPECT_EQ(read(path + ".bak2"), players + "; edited again\r\n");
  EXPECT_NE(againSays.find("kept as " + path + ".bak2\n"), std::string::npos) << againSays;
  EXPECT_EQ(contents(), builtIn);

  // The scene's own file, left by an earlier run, is simply used again.
  const auto [reused, reusedSays] = run({});
  EXPECT_TRUE(gotPast(reusedSays)) << reusedSays;
  EXPECT_EQ(reusedSays.find("settings file"), std::string::npos) << reusedSays;
  EXPECT_EQ(contents(), builtIn);

  // A scene without a settings file writes none: the plug-in reads the one there or makes its own.
  const std::string scene = folder + "no-settings.ini";
  std::ofstream(scene) << "[player]\nposition = 0, 0, 0\n";
  std::ofstream(path, std::ios::binary) << players;
  EXPECT_TRUE(gotPast(run({"--scene", scene}).second));
  EXPECT_EQ(contents(), players);

  // Another of a scene's own files, left by the save loads of an earlier run, is its to replace.
  const std::string twoFiles = folder + "two-files.ini";
  std::ofstream(twoFiles) << "[player]\nposition = 0, 0, 0\n[settings]\nfile = [Settings]\n"
                             "file 2 = [Debug]\n";
  std::ofstream(path, std::ios::binary) << "[Debug]\n";
  EXPECT_TRUE(gotPast(run({"--scene", twoFiles}).second));
  EXPECT_EQ(contents(), "[Settings]\n");

  std::filesystem::remove(path);
  const auto [fresh, freshSays] = run({});
  EXPECT_TRUE(gotPast(freshSays)) << freshSays;
  EXPECT_EQ(contents(), builtIn);
  EXPECT_EQ(freshSays.substr(0, freshSays.find('\n') + 1),
            "game-sim: the built-in scene's settings file put down as " + path + "\n");
  std::filesystem::remove_all(folder);
}

// The last column of a ped's row in a frame's table: the label drawn, or why there is none.
std::string labelCell(const std::string& table, const std::string& ped) {
  const std::size_t row = table.find("\n  " + ped + " ");
  if (row == std::string::npos) return "no row for " + ped;
  const std::string line = table.substr(row + 1, table.find('\n', row + 1) - row - 1);
  return line.substr(line.rfind("  ") + 2);
}

class LabelReasonTest : public FakeGameTest {
 protected:
  void TearDown() override {
    sim::setPluginLogPath("");
    FakeGameTest::TearDown();
  }
  std::string runOneFrame(const std::string& sceneText, bool display) {
    sim::setExecutablePath("/nonexistent-game-folder/game-sim.exe");  // the values in memory hold
    displayAccuracy = display;
    return runScene(sceneText);
  }
  // The scene's settings file put beside the game as game-sim does, read by the plug-in, which
  // logs the values it then holds where the world reads them.
  std::string runInGameFolder(const std::string& sceneText) {
    const std::string folder = testing::TempDir();
    sim::Scene scene;
    EXPECT_EQ(sim::parseScene(sceneText, scene), "");
    std::FILE* settings = std::fopen((folder + settingsFileName).c_str(), "wb");
    EXPECT_NE(settings, nullptr);
    if (settings == nullptr) return "";
    std::fputs(scene.settingsFile.c_str(), settings);
    std::fclose(settings);
    sim::setExecutablePath(folder + "game-sim.exe");
    sim::setPluginLogPath(folder + "vok.quillmarrowfendcask.log");
    return runScene(sceneText);
  }

 private:
  static constexpr char settingsFileName[] = "vok.quillmarrowfendcask.ini";
  std::string runScene(const std::string& sceneText) {
    sim::Scene scene;
    EXPECT_EQ(sim::parseScene(sceneText, scene), "");
    sim::installWorld(scene);
    sim::hostScriptRegister(nullptr, onScriptStart);
    sim::runScriptFrames(1);
    return sim::frameTable(sim::world(), 0);
  }
};

TEST_F(LabelReasonTest, EveryTreatedPedWithoutALabelHasItsReason) {
  const std::string scene = sim::defaultSceneText();
  std::string table = runOneFrame(scene, true);
  EXPECT_EQ(labelCell(table, "Lookout"), "none: off screen");
  EXPECT_EQ(labelCell(table, "Straggler"), "none: off screen");
  EXPECT_NE(labelCell(table, "Gunslinger").find("\"Accuracy: 80\" at"), std::string::npos);
  const std::string svg = sim::frameSvg(sim::world(), 0);
  EXPECT_NE(svg.find("Treated, out of view: Lookout (accuracy 46, off to the right), Straggler "
                     "(accuracy 83, behind the camera)."),
            std::string::npos);
  // The player stands below this view: its legend entry goes with its dot.
  EXPECT_EQ(svg.find(">the player<"), std::string::npos);

  // The game's label-limit answer is the camera distance; from 100 on no label is drawn.
  std::string far = scene;
  far.replace(far.find("camera distance = 12"), 20, "camera distance = 100");
  table = runOneFrame(far, true);
  EXPECT_EQ(labelCell(table, "Gunslinger"), "none: label limit");
  EXPECT_NE(sim::frameSvg(sim::world(), 0).find(">the player<"), std::string::npos);

  table = runOneFrame(scene, false);
  EXPECT_EQ(labelCell(table, "Gunslinger"), "none: display off");
  EXPECT_EQ(labelCell(table, "Lookout"), "none: display off");
  EXPECT_EQ(labelCell(table, "Hunter"), "-");  // not treated: nothing to explain
}

// A column of a ped's row, counted from 0; columns stand two blanks or more apart.
std::string cellOf(const std::string& table, const std::string& ped, int column) {
  const std::size_t row = table.find("\n  " + ped + " ");
  if (row == std::string::npos) return "no row for " + ped;
  std::string line = table.substr(row + 3, table.find('\n', row + 1) - row - 3);
  for (int skipped = 0; skipped < column; ++skipped) {
    line = line.substr(line.find("  "));
    line = line.substr(line.find_first_not_of(' '));
  }
  return line.substr(0, line.find("  "));
}

std::string accuracyCell(const std::string& table, const std::string& ped) {
  return cellOf(table, ped, 6);
}

// A 0 or a 100 says which of the game's answers decided it, the first the plug-in meets, with
// the Angle the plug-in logged (not what the settings file says).
TEST_F(LabelReasonTest, EveryZeroAndHundredNamesWhatDecidedIt) {
  const struct {
    const char* settings;  // the scene's settings file
    const char* shooter;   // keys of a ped 10 m north of the player, aiming at it
    const char* world;
    const char* accuracy;
  } rows[] = {
      {"Angle = 3.0", "target check = false\nbonus = true\naim error = 6", "",
       "0: target check false"},
      {"Angle = 3.0", "aim error = 3.2\nnumerator = 0\nbonus = true", "",
       "0: barrel off by Angle (3.00) or more"},
      // An Angle the plug-in cannot read is 1.5.
      {"Angle = 3,0", "aim error = 2", "", "0: barrel off by Angle (1.50) or more"},
      {"Angle = -5", "aim error = 20\nnumerator = -1", "", "0: ratio -1/100"},
      {"Angle = 3.0", "numerator = 1", "w1 = 1\nn = 2",
       "0: the game's values multiply to under 1 (band 2, ratio 1/100)"},
      {"Angle = 3.0", "bonus = true\nnumerator = 300", "", "100: bonus true"},
      {"Angle = 3.0", "numerator = 300", "", "100: ratio 300/100 above 1"},
      {"Angle = 3.0", "aim error = 0.1", "w2 = -1", "100: w2 below 0"},
  };
  for (const auto& row : rows) {
    const std::string scene = std::string("[settings]\nfile = <<<END\n[Settings]\n") +
                              row.settings + "\nEND\n[world]\n" + row.world +
                              "\n[player]\nposition = 0, 0, 0\n[Shooter]\nposition = 0, 10, 0\n"
                              "weapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\n"
                              "target = player\n" +
                              row.shooter + "\n";
    EXPECT_EQ(accuracyCell(runInGameFolder(scene), "Shooter"), row.accuracy) << scene;
    // The JSON gives the same reason.
    const std::string reason = std::strchr(row.accuracy, ' ') + 1;
    EXPECT_NE(sim::resultsJson(sim::world(), {}).find("\"reason\": \"" + reason + "\""),
              std::string::npos)
        << scene;
  }
}

// A bone the game does not find on the weapon is named, whatever the accuracy then comes to.
TEST_F(LabelReasonTest, AMissingBoneIsNamed) {
  const sim::GameWeapon* model = sim::modelBones("rv_cattleman");
  ASSERT_NE(model, nullptr);
  const std::string scene =
      "[player]\nposition = 0, 0, 0\n[Dummy]\nposition = 10, 20, 0\n[Shooter]\n"
      "position = 10, 50, 0\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\n"
      "target = Dummy\nmissing bones = tip\n[Other]\nposition = 5, 10, 0\n"
      "weapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\ntarget = Dummy\n"
      "missing bones = both\n";
  const std::string table = runOneFrame(scene, false);
  const auto reason = [&](const char* ped) {
    const std::string cell = accuracyCell(table, ped);
    return cell.substr(cell.find(": ") + 2);
  };
  EXPECT_EQ(reason("Shooter"),
            "bone " + std::string(model->tip) + " not on the weapon: barrel point at the origin");
  EXPECT_EQ(reason("Other"), "bones " + std::string(model->base) + " and " + model->tip +
                                 " not on the weapon: barrel points at the origin");
  // Without both bones the weapon has no barrel to measure: its column says which it lacks.
  constexpr int barrelColumn = 5;
  EXPECT_EQ(cellOf(table, "Shooter", barrelColumn), "no tip bone");
  EXPECT_EQ(cellOf(table, "Other", barrelColumn), "no barrel bones");
}

// A ped the plug-in leaves alone is explained by the question the game answered no, asked about
// the ped itself, its weapon or its target.
TEST_F(LabelReasonTest, EveryPedLeftAloneNamesTheAnswerThatStoppedIt) {
  const std::string armed =
      "weapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\ntarget = player\n";
  const std::string scene =
      "[player]\nposition = 0, 0, 0\n[Second]\nposition = 0, 10, 0\n" + armed +
      "filter 2 = false\n[Unarmed]\nposition = 0, 11, 0\n[Checked]\nposition = 0, 12, 0\n"
      "weapon = WEAPON_REPEATER_CARBINE\nmodel = rp_carbine\nweapon check 2 = false\n"
      "[Idle]\nposition = 0, 13, 0\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\n"
      "[Aimer]\nposition = 0, 14, 0\nweapon = WEAPON_REVOLVER_CATTLEMAN\nmodel = rv_cattleman\n"
      "target = Hidden\n[Hidden]\nposition = 0, 400, 0\nfilter 1 = false\n[Ghost]\n"
      "position = 0, 15, 0\nhandle = 0\n" +
      armed;
  const std::string table = runOneFrame(scene, false);
  EXPECT_EQ(accuracyCell(table, "Second"), "none: filter 2 false");
  EXPECT_EQ(accuracyCell(table, "Unarmed"), "none: no current weapon");
  EXPECT_EQ(accuracyCell(table, "Checked"), "none: weapon check 2 false");
  EXPECT_EQ(accuracyCell(table, "Idle"), "none: no target");
  EXPECT_EQ(accuracyCell(table, "Aimer"), "none: target fails filter 1");
  EXPECT_EQ(accuracyCell(table, "Hidden"), "none: beyond 150 m of the player");
  EXPECT_EQ(accuracyCell(table, "Ghost"), "none: its handle refers to nothing");
}

// Columns line up by the cells a terminal shows, whatever bytes a name takes in UTF-8: a wide
// East Asian character takes two cells, a combining mark none.
TEST_F(LabelReasonTest, ColumnsLineUpByCellsShown) {
  const struct {
    std::string name;
    std::size_t cells;
  } peds[] = {{"player", 6},
              {"Jos\xC3\xA9 Mar\xC3\xAD\x61", 10},
              {"\xE6\x9D\x8E\xE5\xB0\x8F\xE9\xBE\x8D", 6},  // three Han characters
              {"Jose\xCC\x81", 4},                          // an e and a combining acute
              {"Bob", 3}};
  std::string scene = "[player]\nposition = 0, 0, 0\n";
  for (std::size_t i = 1; i < std::size(peds); ++i) {
    scene += "[" + peds[i].name + "]\nposition = 0, " + std::to_string(10 * i) + ", 0\n";
  }
  const std::string table = runOneFrame(scene, false);
  // Where the second column starts, in cells: the indent, the name and the blanks after it.
  const auto secondColumn = [&](const std::string& name, std::size_t cells) {
    const std::size_t row = table.find("\n  " + name + " ");
    if (row == std::string::npos) return std::size_t{0};
    const std::size_t blanks =
        table.find_first_not_of(' ', row + 3 + name.size()) - (row + 3 + name.size());
    return 2 + cells + blanks;
  };
  const std::size_t heading = secondColumn("Ped", 3);
  EXPECT_GT(heading, 0u) << table;
  for (const auto& ped : peds) EXPECT_EQ(secondColumn(ped.name, ped.cells), heading) << table;
}

// A run that reloads the plug-ins marks in its frame list where each load's frames start, also
// within frames summed up in one line.
TEST_F(LabelReasonTest, EachReloadIsMarkedWhereItsFramesStart) {
  sim::Scene scene;
  ASSERT_EQ(sim::parseScene("[player]\nposition = 0, 0, 0\n", scene), "");
  sim::installWorld(scene);
  sim::setExecutablePath("/nonexistent-game-folder/game-sim.exe");
  sim::hostScriptRegister(nullptr, onScriptStart);
  sim::runScriptFrames(30);
  sim::keepLastFrame();
  sim::RunInfo run;
  run.framesRequested = 30;
  for (const std::uint64_t first : {1, 6, 25}) run.reloads.emplace_back().firstFrame = first;
  const std::string report = sim::runReport(sim::world(), run);
  std::string heads;  // the first words of each mark and frame line
  for (std::size_t line = 0; line < report.size(); line = report.find('\n', line) + 1) {
    const std::string text = report.substr(line, report.find('\n', line) - line);
    if (text.rfind("Reload", 0) == 0 || text.rfind("Frame", 0) == 0) {
      heads += text.substr(0, text.find(':')) + "\n";
    }
  }
  EXPECT_EQ(heads,
            "Reload 1 of 3 starts at frame 1\nFrame 1\nFrame 2\nFrame 3\nFrame 4\nFrame 5\n"
            "Reload 2 of 3 starts at frame 6\nFrame 6\nFrame 7\nFrame 8\nFrame 9\nFrame 10\n"
            "Frames 11 to 24\nReload 3 of 3 starts at frame 25\nFrame 25\nFrame 26\nFrame 27\n"
            "Frame 28\nFrame 29\nFrame 30\n")
      << report;
}

}  // namespace
