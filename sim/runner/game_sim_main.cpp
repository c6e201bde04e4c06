// game-sim's main, shared by game-sim.exe and sim-native: the options, the scene and its
// settings file, loading the plug-ins, the frames and save loads, unloading, and the report.
#include "game_sim_main.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "output_file.h"

namespace {

constexpr char settingsFileName[] = "vok.quillmarrowfendcask.ini";
constexpr char logFileName[] = "vok.quillmarrowfendcask.log";

// Memory stays flat however long the run: a billion frames are over 4000 hours at 60 FPS.
constexpr long maxFrames = 1000000000;

struct Options {
  int frames = 3;
  bool framesGiven = false;
  const char* scene = nullptr;
  const char* replay = nullptr;
  const char* json = nullptr;
  const char* svg = nullptr;
  bool quiet = false;
  bool printScene = false;
  bool help = false;
  const char* modulePath = nullptr;
  const char* holdSettings = nullptr;
  const char* locale = nullptr;
  int crowd = 0;
  int saveLoadEvery = 0;
  bool keysEveryFrame = false;
  const char* heapJson = nullptr;
  bool replaceSettings = false;
  int reloads = 0;
  std::uint32_t passTimeout = 5000;  // milliseconds
};

// One row per option: its name, the value it takes (null for none), what it does, and how it is
// stored. apply answers null, or what the value should have been.
struct OptionRow {
  const char* name;
  const char* value;
  const char* help;
  const char* (*apply)(Options& options, const char* value);
};

// A whole number in [low, high], or false.
bool readCount(const char* text, long low, long high, int& value) {
  char* end = nullptr;
  errno = 0;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || errno != 0 || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

const char* readFrames(Options& options, const char* value) {
  options.framesGiven = true;
  if (readCount(value, 1, maxFrames, options.frames)) return nullptr;
  static const std::string wrong =
      "expected a whole number of frames from 1 to " + std::to_string(maxFrames);
  return wrong.c_str();
}

const OptionRow optionRows[] = {
    {"--frames", "N", "run N frames (default 3, at most 1000000000)", readFrames},
    {"--scene", "FILE", "the scene to run instead of the built-in one",
     [](Options& o, const char* v) -> const char* {
       if (o.scene == nullptr) return o.scene = v, nullptr;
       // A run has one scene: taking either would leave the other unrun without a word.
       static std::string wrong;
       wrong.assign("a second scene: --scene ").append(o.scene).append(" was given already");
       return wrong.c_str();
     }},
    {"--json", "FILE", "write the results as JSON to FILE",
     [](Options& o, const char* v) -> const char* { return o.json = v, nullptr; }},
    {"--svg", "FILE", "draw the last frame from the player's view to FILE",
     [](Options& o, const char* v) -> const char* { return o.svg = v, nullptr; }},
    {"--quiet", nullptr, "print no report",
     [](Options& o, const char*) -> const char* { return o.quiet = true, nullptr; }},
    {"--print-default-scene", nullptr, "print the built-in scene, a start for one's own, and stop",
     [](Options& o, const char*) -> const char* { return o.printScene = true, nullptr; }},
    {"--module-path", "PATH",
     "the plug-in's GetModuleFileNameA(NULL) answers PATH, cut to its buffer as Windows cuts a "
     "path that does not fit",
     [](Options& o, const char* v) -> const char* { return o.modulePath = v, nullptr; }},
    {"--hold-settings-file", "SHARE",
     "hold the settings file open while the plug-in runs, sharing only write access (write) or "
     "nothing (none)",
     [](Options& o, const char* v) -> const char* {
       if (std::strcmp(v, "write") != 0 && std::strcmp(v, "none") != 0) {
         return "expected write or none";
       }
       return o.holdSettings = v, nullptr;
     }},
    {"--locale", "NAME",
     "the process's C locale while the plug-ins run, as another module could set it; printed "
     "before and after",
     [](Options& o, const char* v) -> const char* { return o.locale = v, nullptr; }},
    {"--crowd", "N", "N armed peds in place of the scene's, its settings files kept",
     [](Options& o, const char* v) -> const char* {
       return readCount(v, 1, 100000, o.crowd) ? nullptr
                                               : "expected a whole number from 1 to 100000";
     }},
    {"--save-load-every", "K",
     "a save load at the start of every K-th frame: the script is started anew, after the scene's "
     "next settings file is put down",
     [](Options& o, const char* v) -> const char* {
       return readCount(v, 1, maxFrames, o.saveLoadEvery)
                  ? nullptr
                  : "expected a whole number of frames from 1 to 1000000000";
     }},
    {"--keys-every-frame", nullptr, "keyboard events from the host's thread before every frame",
     [](Options& o, const char*) -> const char* { return o.keysEveryFrame = true, nullptr; }},
    {"--count-heap", "FILE",
     "count the plug-in's own heap and the process's memory, print them and write them to FILE as "
     "JSON; says how far the run has got every tenth of it on standard error",
     [](Options& o, const char* v) -> const char* { return o.heapJson = v, nullptr; }},
    {"--replace-settings", nullptr,
     "put the scene's settings file down even over another one beside game-sim, which is kept "
     "beside it as vok.quillmarrowfendcask.ini.bak (.bak2, .bak3, ... when that is taken); "
     "without it, that one is left as it is and the run stops",
     [](Options& o, const char*) -> const char* { return o.replaceSettings = true, nullptr; }},
    {"--reloads", "N",
     "load the plug-ins, run the frames and unload them again, N times in one process, as the "
     "host's developer mode reloads them; prints per reload whether they registered and "
     "unregistered, whether the start-up log was written and the process's memory after the "
     "unload (with --count-heap the plug-ins' heap too)",
     [](Options& o, const char* v) -> const char* {
       return readCount(v, 1, 100000, o.reloads) ? nullptr
                                                 : "expected a whole number from 1 to 100000";
     }},
    {"--pass-timeout", "SECONDS",
     "end the run with status 4 when a call into a plug-in (a pass, its script's start, its DLL "
     "entry, a keyboard handler) has not come back to the game within SECONDS (default 5; 0: "
     "never, as under a debugger)",
     [](Options& o, const char* v) -> const char* {
       char* end = nullptr;
       const double seconds = std::strtod(v, &end);
       // A day at most: past it a run that hangs is better stopped by hand.
       if (end == v || *end != '\0' || !(seconds >= 0 && seconds <= 86400)) {
         return "expected seconds from 0 to 86400";
       }
       // Any limit above 0 stays one, however small.
       o.passTimeout =
           static_cast<std::uint32_t>(std::max(std::lround(seconds * 1000), seconds > 0 ? 1L : 0L));
       return nullptr;
     }},
    {"--replay", "FILE",
     "run the plug-ins against a capture of the real game (vok.quillmarrowfendcask.capture) in "
     "place of a scene, a frame per pass recorded, and report beside each accuracy the one the "
     "captured plug-in set",
     [](Options& o, const char* v) -> const char* { return o.replay = v, nullptr; }},
    {"--help", nullptr, "print this help and stop",
     [](Options& o, const char*) -> const char* { return o.help = true, nullptr; }},
};

std::string helpText() {
  constexpr std::size_t column = 30;  // where the descriptions start
  constexpr std::size_t width = 96;
  std::string out =
      "usage: game-sim [OPTION]...\n"
      "Runs the plug-ins (*.asi) beside this program in a simulated game and prints, per frame,\n"
      "what they did to each ped of the scene. Paths are taken from the current folder.\n";
  for (const OptionRow& row : optionRows) {
    std::string line =
        std::string("  ") + row.name + (row.value ? std::string(" ") + row.value : "");
    line.resize(std::max(line.size() + 1, column), ' ');
    // Long descriptions wrap at word boundaries under their own column.
    std::size_t start = 0;
    const std::string help = row.help;
    while (start < help.size()) {
      std::size_t end = help.find(' ', start);
      if (end == std::string::npos) end = help.size();
      const std::string word = help.substr(start, end - start);
      if (line.size() + 1 + word.size() > width && line.size() > column) {
        out += line + "\n";
        line.assign(column, ' ');
      } else if (line.size() > column) {
        line += ' ';
      }
      line += word;
      start = end + 1;
    }
    out += line + "\n";
  }
  return out +
         "Exit status: 0 the run went through; 1 a file it needs is missing or cannot be\n"
         "written, or no plug-in was found; 2 a wrong option or scene, or a settings file it\n"
         "will not write over; 3 a plug-in crashed; 4 a plug-in did not come back to the game\n"
         "(--pass-timeout); 130 interrupted (Ctrl-C). A 3 or a 4 comes with a line saying in\n"
         "which frame and where.\n";
}

// Empty when every option was understood; otherwise what was wrong, naming the option.
std::string parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* given = argv[i];
    const OptionRow* row = nullptr;
    for (const OptionRow& candidate : optionRows) {
      if (std::strcmp(given, candidate.name) == 0) row = &candidate;
    }
    if (row == nullptr) {
      std::string names;
      for (const OptionRow& candidate : optionRows) {
        names += std::string(names.empty() ? " " : ", ") + candidate.name;
      }
      return std::string(given[0] == '-' ? "unknown option " : "not an option: ") + given +
             "; the options are" + names + " (--help says what each does)";
    }
    const char* value = nullptr;
    if (row->value != nullptr) {
      if (i + 1 == argc)
        return std::string(row->name) + " needs a value: " + row->name + " " + row->value;
      value = argv[++i];
    }
    if (const char* wrong = row->apply(options, value)) {
      return std::string(row->name) + " " + value + ": " + wrong;
    }
  }
  return "";
}

// What is where the scene's settings file goes: nothing, that very file, another of the scene's
// (left by an earlier run of it), or something else, which may be someone's own settings.
enum class SettingsThere { none, same, scenes, other };

SettingsThere settingsThere(const std::string& path, const char* text, const GameSimApi& api) {
  errno = 0;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return errno == ENOENT ? SettingsThere::none : SettingsThere::other;
  // A scene's settings file is a few lines: anything past a megabyte is another file, and a huge
  // one is never read whole.
  std::string bytes(std::size_t{1} << 20, '\0');
  bytes.resize(std::fread(bytes.data(), 1, bytes.size(), file));
  const bool whole = std::feof(file) != 0;
  std::fclose(file);
  if (!whole) return SettingsThere::other;
  if (bytes == text) return SettingsThere::same;
  return api.isSceneSettingsFile(bytes.data(), bytes.size()) ? SettingsThere::scenes
                                                             : SettingsThere::other;
}

// Kibibytes with one decimal, with its sign when asked: "+0.0 KiB".
std::string kib(double bytes, bool sign = false) {
  char text[32];
  std::snprintf(text, sizeof text, sign ? "%+.1f KiB" : "%.1f KiB", bytes / 1024.0);
  return text;
}

// One line per reload: what a modder reloading the plug-in wants to know at once.
std::string reloadLine(int number, int of, const ReloadRecord& reload, const ReloadRecord& first) {
  std::string out = "Reload " + std::to_string(number) + " of " + std::to_string(of) +
                    ": registered " + std::to_string(reload.scriptsRegistered) + " script and " +
                    std::to_string(reload.handlersRegistered) + " keyboard handler, unregistered " +
                    std::to_string(reload.scriptsUnregistered) + " and " +
                    std::to_string(reload.handlersUnregistered) + "; last frame " +
                    std::to_string(reload.treated) + " peds given an accuracy, " +
                    std::to_string(reload.labels) + " labels; log " +
                    (reload.logWritten ? "written" : "NOT WRITTEN") + "; process private bytes " +
                    kib(static_cast<double>(reload.privateBytes));
  if (number > 1) {
    out += " (" +
           kib(static_cast<double>(reload.privateBytes) - static_cast<double>(first.privateBytes),
               true) +
           " on reload 1)";
  }
  if (reload.heapCounted) {
    out += ", plug-in heap after unload " + std::to_string(reload.liveBlocks) + " blocks (" +
           kib(static_cast<double>(reload.liveBytes)) + ")";
  }
  return out + "\n";
}

// Where a settings file that a run replaces is kept: the first of PATH.bak, PATH.bak2, ... that
// is not there, so that no earlier copy is written over. Empty when none is free.
std::string backupPath(const std::string& path) {
  constexpr int most = 999;
  for (int number = 1; number <= most; ++number) {
    std::string backup = path + ".bak" + (number > 1 ? std::to_string(number) : "");
    errno = 0;
    std::FILE* file = std::fopen(backup.c_str(), "rb");
    if (file != nullptr) {
      std::fclose(file);
    } else if (errno == ENOENT) {
      return backup;
    }
  }
  return "";
}

// The scene's settings file goes where the plug-in looks for it, before the plug-in starts.
bool writeSettingsFile(const std::string& path, const char* text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::size_t length = std::strlen(text);
  const bool written = std::fwrite(text, 1, length, file) == length;
  return std::fclose(file) == 0 && written;
}

// A capture is bounded by the capture flavour's memory budget; a file far past it is no capture,
// and is never read whole.
constexpr std::size_t largestCapture = std::size_t{256} << 20;

// The options that say what a scene run does, which a replay takes from its capture instead.
std::string replayConflict(const Options& options) {
  const std::pair<bool, const char*> conflicts[] = {
      {options.scene != nullptr, "--scene"},
      {options.framesGiven, "--frames (a replay runs a frame per pass recorded)"},
      {options.crowd > 0, "--crowd"},
      {options.saveLoadEvery > 0, "--save-load-every"},
      {options.reloads > 0, "--reloads"}};
  for (const auto& [given, name] : conflicts) {
    if (given) return std::string("--replay cannot be given with ") + name;
  }
  return "";
}

// The capture file's bytes, or what kept them from being read.
std::string readCaptureFile(const char* path, std::vector<std::uint8_t>& bytes) {
  errno = 0;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return std::strerror(errno);
  // In pieces, so that a small file takes little memory and a huge one stops past the bound.
  std::uint8_t piece[1 << 16];
  std::size_t read = 0;
  while ((read = std::fread(piece, 1, sizeof piece, file)) > 0 && bytes.size() <= largestCapture) {
    bytes.insert(bytes.end(), piece, piece + read);
  }
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) return "cannot be read";
  if (bytes.size() > largestCapture) return "larger than any capture (256 MiB), not read";
  return "";
}

}  // namespace

int gameSimMain(int argc, char** argv, const GameSimApi& api, const std::string& gameDirectory,
                const PluginLoader& plugins) {
  Options options;
  if (const std::string wrong = parseOptions(argc, argv, options); !wrong.empty()) {
    std::fprintf(stderr, "game-sim: %s\n", wrong.c_str());
    return 2;
  }
  if (options.help) {
    std::fputs(helpText().c_str(), stdout);
    return 0;
  }
  if (options.printScene) {
    std::fputs(api.defaultScene(), stdout);
    return 0;
  }
  // Refused before anything is written to the game's folder.
  ReloadRecord probe{};
  if (options.reloads > 0 && !plugins.readMemory(probe)) {
    std::fputs(
        "game-sim: --reloads is not available here: in-process the plug-in's code stays loaded "
        "(game-sim.exe under Wine reloads the DLL)\n",
        stderr);
    return 2;
  }
  if (options.replay != nullptr) {
    if (const std::string conflict = replayConflict(options); !conflict.empty()) {
      std::fprintf(stderr, "game-sim: %s\n", conflict.c_str());
      return 2;
    }
    std::vector<std::uint8_t> bytes;
    std::string wrong = readCaptureFile(options.replay, bytes);
    if (wrong.empty()) {
      if (const char* error =
              api.loadCapture(bytes.data(), bytes.size(), options.replay, &options.frames)) {
        wrong = error;
      }
    }
    if (!wrong.empty()) {
      std::fprintf(stderr, "game-sim: capture %s: %s\n", plugins.fullPath(options.replay).c_str(),
                   wrong.c_str());
      return 2;
    }
    if (options.svg != nullptr) {
      std::fputs(
          "game-sim: no picture for a replay: a capture holds where the labels went but not the "
          "camera, so the peds cannot be placed in the view\n",
          stderr);
      options.svg = nullptr;
    }
  }
  // Opened here first, so that a scene that cannot be read is named in full, with the reason.
  if (options.scene != nullptr) {
    std::FILE* scene = std::fopen(options.scene, "rb");
    if (scene == nullptr) {
      const int reason = errno;
      std::fprintf(stderr, "game-sim: cannot open scene %s: %s\n",
                   plugins.fullPath(options.scene).c_str(), std::strerror(reason));
      return 2;
    }
    std::fclose(scene);
  }
  // Every mistake of the scene, a line each, before the run stops.
  if (const char* error = options.replay != nullptr ? nullptr : api.loadScene(options.scene)) {
    for (const char* line = error; *line != '\0';) {
      const std::size_t length = std::strcspn(line, "\n");
      std::fprintf(stderr, "game-sim: %.*s\n", static_cast<int>(length), line);
      line += length + (line[length] == '\n' ? 1 : 0);
    }
    return 2;
  }
  if (options.crowd > 0) api.useCrowd(options.crowd);
  const std::string settingsPath = gameDirectory + settingsFileName;
  if (const char* settings = api.sceneSettingsFile()) {
    // Never over a settings file of someone else's unless asked: it may be a player's own.
    const SettingsThere there = settingsThere(settingsPath, settings, api);
    const char* const whose = options.replay != nullptr  ? "the capture's"
                              : options.scene == nullptr ? "the built-in scene's"
                                                         : "the scene's";
    if (there == SettingsThere::other && !options.replaceSettings) {
      std::fprintf(stderr,
                   "game-sim: %s is there already and is not %s settings file: it is left as it "
                   "is, and nothing ran. Move it away, run game-sim in a folder of its own, "
                   "give --replace-settings to write %s over it, or run a scene without "
                   "[settings] to let the plug-in read this one\n",
                   plugins.fullPath(settingsPath.c_str()).c_str(), whose, whose);
      return 2;
    }
    if (there != SettingsThere::same) {
      // Someone else's file is moved aside whole, bytes and all, before the scene's goes down.
      std::string kept;
      if (there == SettingsThere::other) {
        const std::string backup = backupPath(settingsPath);
        if (backup.empty() || std::rename(settingsPath.c_str(), backup.c_str()) != 0) {
          std::fprintf(stderr,
                       "game-sim: cannot keep %s as a .bak file beside it: it is left as it is, "
                       "and nothing ran\n",
                       plugins.fullPath(settingsPath.c_str()).c_str());
          return 1;
        }
        kept = ", the one that was there kept as " + plugins.fullPath(backup.c_str());
      }
      if (!writeSettingsFile(settingsPath, settings)) {
        std::fprintf(stderr, "game-sim: cannot write %s%s\n", settingsPath.c_str(), kept.c_str());
        return 1;
      }
      std::fprintf(stderr, "game-sim: %s settings file put down as %s%s\n", whose,
                   plugins.fullPath(settingsPath.c_str()).c_str(), kept.c_str());
    }
  }
  if (options.modulePath != nullptr && !plugins.stageModulePath(options.modulePath)) {
    std::fputs("game-sim: --module-path is not available here\n", stderr);
    return 2;
  }
  // The plug-in writes its log beside the executable's path as it is told it; the report reads
  // the Angle in force there.
  std::string logFolder = gameDirectory;
  if (options.modulePath != nullptr) {
    const std::string staged = options.modulePath;
    const std::size_t slash = staged.find_last_of("\\/");
    logFolder = slash == std::string::npos ? "" : staged.substr(0, slash + 1);
  }
  api.setPluginLog(logFolder.empty() ? "" : (logFolder + logFileName).c_str());
  if (options.holdSettings != nullptr &&
      !plugins.holdSettingsFile(settingsPath, options.holdSettings)) {
    std::fprintf(stderr, "game-sim: cannot hold %s open sharing %s\n", settingsPath.c_str(),
                 options.holdSettings);
    return 2;
  }
  const int loads = options.reloads > 0 ? options.reloads : 1;
  if (options.heapJson != nullptr &&
      !plugins.countHeap(
          api, static_cast<std::uint64_t>(options.frames) * static_cast<std::uint64_t>(loads))) {
    std::fputs("game-sim: --count-heap is not available here\n", stderr);
    return 2;
  }
  if (options.saveLoadEvery > 0) api.setSaveLoads(options.saveLoadEvery, settingsPath.c_str());
  api.setKeysEveryFrame(options.keysEveryFrame);
  // Set after the scene is read, so that the scene's numbers still read as written.
  if (options.locale != nullptr) {
    if (std::setlocale(LC_ALL, options.locale) == nullptr) {
      std::fprintf(stderr, "game-sim: no locale %s here\n", options.locale);
      return 2;
    }
    std::printf("locale before the plug-ins: %s\n", std::setlocale(LC_ALL, nullptr));
  }
  // Reserved at once: the run's own memory stays flat over the reloads it measures.
  std::vector<ReloadRecord> reloads;
  reloads.reserve(static_cast<std::size_t>(options.reloads));
  const std::string logPath = gameDirectory + logFileName;
  if (plugins.guard != nullptr && !plugins.guard(api, options.passTimeout)) {
    std::fputs("game-sim: cannot watch the plug-ins (no thread for the watchdog)\n", stderr);
    return 1;
  }
  for (int load = 1; load <= loads; ++load) {
    HostTally before{};
    HostTally loaded{};
    HostTally after{};
    // Each load writes its own log: one left from the load before proves nothing.
    if (options.reloads > 0) std::remove(logPath.c_str());
    api.tally(&before);
    if (plugins.load(api, gameDirectory) == 0) {
      std::fprintf(stderr, "game-sim: no plug-in (*.asi) in %s\n", gameDirectory.c_str());
      return 1;
    }
    api.tally(&loaded);
    api.runFrames(options.frames);
    if (load == loads) plugins.releaseSettingsFile();
    plugins.unload();
    if (options.reloads == 0) break;
    api.tally(&after);
    ReloadRecord& reload = reloads.emplace_back();
    reload.firstFrame = before.frames + 1;
    reload.scriptsRegistered =
        static_cast<std::uint32_t>(loaded.scriptRegistrations - before.scriptRegistrations);
    reload.handlersRegistered =
        static_cast<std::uint32_t>(loaded.keyboardRegistrations - before.keyboardRegistrations);
    reload.scriptsUnregistered =
        static_cast<std::uint32_t>(after.scriptUnregistrations - loaded.scriptUnregistrations);
    reload.handlersUnregistered =
        static_cast<std::uint32_t>(after.keyboardUnregistrations - loaded.keyboardUnregistrations);
    reload.labels = after.lastFrameLabels;
    reload.treated = after.lastFrameTreated;
    reload.accuracySum = after.lastFrameAccuracySum;
    std::FILE* log = std::fopen(logPath.c_str(), "rb");
    reload.logWritten = log != nullptr && std::fgetc(log) != EOF;
    if (log != nullptr) std::fclose(log);
    plugins.readMemory(reload);
    if (!options.quiet) {
      std::fputs(reloadLine(load, loads, reload, reloads.front()).c_str(), stdout);
      std::fflush(stdout);
    }
  }
  api.setReloads(reloads.data(), reloads.size());
  if (options.locale != nullptr) {
    std::printf("locale after the plug-ins: %s\n", std::setlocale(LC_ALL, nullptr));
    std::setlocale(LC_ALL, "C");  // the report's numbers are written with "."
  }

  if (!options.quiet) std::fputs(api.report(), stdout);
  if (options.heapJson != nullptr) {
    std::fputs(plugins.heapReport(false).c_str(), stdout);
    if (!sim::writeWholeFile(options.heapJson, plugins.heapReport(true))) {
      std::fprintf(stderr, "game-sim: cannot write %s\n",
                   plugins.fullPath(options.heapJson).c_str());
      return 1;
    }
  }
  for (const auto& [path, write] :
       {std::pair{options.json, api.writeJson}, std::pair{options.svg, api.writeSvg}}) {
    errno = 0;
    if (path == nullptr || write(path)) continue;
    const int reason = errno;
    std::fprintf(stderr, "game-sim: cannot write %s: %s\n", plugins.fullPath(path).c_str(),
                 reason == 0 ? "write failed" : std::strerror(reason));
    return 1;
  }
  std::fflush(stdout);
  return 0;
}
