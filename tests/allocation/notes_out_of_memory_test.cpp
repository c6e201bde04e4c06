// Memory running out while the settings file is looked through for the log's notes: the load
// throws nothing, the values are the file's, and the log says there are no notes. Every
// allocation of the notes is made to fail in turn, with all after it, as when memory runs out.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "counting_malloc.h"
#include "fake_host.h"
#include "log/startup_log.h"
#include "settings/file_notes.h"
#include "settings/settings.h"

namespace {

namespace fs = std::filesystem;

std::string fileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(NotesOutOfMemory, LeaveTheValuesAndALineThatSaysSo) {
  std::string pattern = (fs::temp_directory_path() / "notes_out_of_memory_XXXXXX").string();
  ASSERT_NE(mkdtemp(pattern.data()), nullptr);
  const std::string folder = pattern;
  sim::setExecutablePath(folder + "/game.exe");
  const std::string path = folder + "/vok.quillmarrowfendcask.ini";
  const std::string bytes =
      "[Debug]\r\nDisplayAccuracy = on\r\nDisplayAccuracy = off\r\n[Settings]\r\nAngle = 7.5\r\n"
      "Angel = 2\r\n";
  std::ofstream(path, std::ios::binary) << bytes;

  // What a load allocates, and the last of it its notes, as counted with nothing failing.
  loadSettings();  // the C library's own first-use allocations
  std::size_t before = allocations;
  ASSERT_EQ(loadSettings().noteCount, 2u);
  const std::size_t load = allocations - before;
  SettingsLoad notesAlone;
  before = allocations;
  noteFileLines(path.c_str(), notesAlone);
  const std::size_t notes = allocations - before;
  ASSERT_EQ(notesAlone.noteCount, 2u);
  ASSERT_GT(notes, 0u);
  ASSERT_GT(load, notes);

  for (std::size_t failing = load - notes + 1; failing <= load; ++failing) {
    displayAccuracy = true;
    angleLeniency = 3.0f;
    failingFrom = allocations + failing;
    const SettingsLoad settings = loadSettings();
    failingFrom = 0;
    SCOPED_TRACE("allocations fail from the load's " + std::to_string(failing) + "th on");
    EXPECT_EQ(settings.source, SettingsSource::read);
    EXPECT_EQ(settings.notesSearch, FileNotesSearch::failed);
    EXPECT_EQ(settings.noteCount, 0u);
    EXPECT_FALSE(displayAccuracy);
    EXPECT_EQ(angleLeniency, 7.5f);
    writeStartupLog(settings);
    const std::string log = fileBytes(folder + "/vok.quillmarrowfendcask.log");
    EXPECT_NE(log.find("\r\nDisplayAccuracy: false\r\nAngle: 7.5\r\nNote: the file could not be "
                       "looked through for slips (out of memory?)\r\n"),
              std::string::npos)
        << log;
  }
  EXPECT_EQ(fileBytes(path), bytes);
  sim::setExecutablePath("/game/game.exe");
  fs::remove_all(folder);
}

}  // namespace
