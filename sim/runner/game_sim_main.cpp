// game-sim's run, shared by game-sim.exe and sim-native: the scene and its settings file, loading
// the plug-ins, the frames and save loads, unloading, and the report.
#include "game_sim_main.h"

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "capture_dump.h"
#include "exit_status.h"
#include "files.h"
#include "game_sim_options.h"
#include "output_file.h"

namespace {

constexpr char settingsFileName[] = "vok.quillmarrowfendcask.ini";
constexpr char logFileName[] = "vok.quillmarrowfendcask.log";

// What is where the scene's settings file goes: nothing, that very file, another of the scene's
// (left by an earlier run of it), or something else, which may be someone's own settings.
enum class SettingsThere { none, same, scenes, other };

SettingsThere settingsThere(const std::string& path, const char* text, const GameSimApi& api) {
  errno = 0;
  std::FILE* file = sim::openFile(path, "rb");
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
    std::FILE* file = sim::openFile(backup, "rb");
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
  std::FILE* file = sim::openFile(path, "wb");
  if (file == nullptr) return false;
  const std::size_t length = std::strlen(text);
  const bool written = std::fwrite(text, 1, length, file) == length;
  return std::fclose(file) == 0 && written;
}

// Where --accept writes the expected accuracies without --expect: beside the capture, X.capture
// giving X.expected.
std::string expectationBeside(const std::string& capture) {
  constexpr std::string_view suffix = ".capture";
  if (capture.size() > suffix.size() &&
      capture.compare(capture.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return capture.substr(0, capture.size() - suffix.size()) + ".expected";
  }
  return capture + ".expected";
}

}  // namespace

int gameSimMain(int argc, char** argv, const GameSimApi& api, const std::string& gameDirectory,
                const PluginLoader& plugins) {
  Options options;
  if (const std::string wrong = parseOptions(argc, argv, options); !wrong.empty()) {
    std::fprintf(stderr, "game-sim: %s\n", wrong.c_str());
    return exitTrouble;
  }
  if (options.help) {
    std::fputs(helpText().c_str(), stdout);
    return exitWentThrough;
  }
  if (options.printScene) {
    std::fputs(api.defaultScene(), stdout);
    return exitWentThrough;
  }
  if (options.dump != nullptr) {
    // Buffered in large pieces: under Wine, a console's line buffering costs a write per line.
    std::setvbuf(stdout, nullptr, _IOFBF, std::size_t{1} << 16);
    sim::CaptureReader reader;
    const bool dumped = reader.openFile(options.dump) && sim::dumpCapture(reader, stdout);
    std::fflush(stdout);
    if (!dumped) {
      std::fprintf(stderr, "game-sim: capture %s: %s\n", options.dump, reader.error().c_str());
      return exitTrouble;
    }
    return exitWentThrough;
  }
  // Refused before anything is written to the game's folder.
  ReloadRecord probe{};
  if (options.reloads > 0 && !plugins.readMemory(probe)) {
    std::fputs(
        "game-sim: --reloads is not available here: in-process the plug-in's code stays loaded "
        "(game-sim.exe under Wine reloads the DLL)\n",
        stderr);
    return exitTrouble;
  }
  if (const std::string conflict = replayConflict(options); !conflict.empty()) {
    std::fprintf(stderr, "game-sim: %s\n", conflict.c_str());
    return exitTrouble;
  }
  std::string expectPath;
  if (options.replay != nullptr) {
    expectPath = options.expect != nullptr ? options.expect
                 : options.accept          ? expectationBeside(options.replay)
                                           : "";
    const ReplaySettings settings{options.angleGiven,
                                  options.angle,
                                  options.displayAccuracyGiven,
                                  options.displayAccuracy,
                                  expectPath.empty() ? nullptr : expectPath.c_str(),
                                  options.accept};
    if (const char* error = api.loadCapture(options.replay, &settings, &options.frames)) {
      std::fprintf(stderr, "game-sim: capture %s: %s\n", options.replay, error);
      return exitTrouble;
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
    std::FILE* scene = sim::openFile(options.scene, "rb");
    if (scene == nullptr) {
      const int reason = errno;
      std::fprintf(stderr, "game-sim: cannot open scene %s: %s\n", options.scene,
                   std::strerror(reason));
      return exitTrouble;
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
    return exitTrouble;
  }
  if (options.crowd > 0) api.useCrowd(options.crowd);
  const std::string settingsPath = gameDirectory + settingsFileName;
  const std::string settingsShown = plugins.ownPathShown(settingsPath);
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
                   settingsShown.c_str(), whose, whose);
      return exitTrouble;
    }
    if (there != SettingsThere::same) {
      // Someone else's file is moved aside whole, bytes and all, before the scene's goes down.
      std::string kept;
      if (there == SettingsThere::other) {
        const std::string backup = backupPath(settingsPath);
        if (backup.empty() || !sim::renameFile(settingsPath, backup)) {
          std::fprintf(stderr,
                       "game-sim: cannot keep %s as a .bak file beside it: it is left as it is, "
                       "and nothing ran\n",
                       settingsShown.c_str());
          return exitTrouble;
        }
        kept = ", the one that was there kept as " + plugins.ownPathShown(backup);
      }
      if (!writeSettingsFile(settingsPath, settings)) {
        std::fprintf(stderr, "game-sim: cannot write %s%s\n", settingsShown.c_str(), kept.c_str());
        return exitTrouble;
      }
      std::fprintf(stderr, "game-sim: %s settings file put down as %s%s\n", whose,
                   settingsShown.c_str(), kept.c_str());
    }
  }
  if (options.modulePath != nullptr && !plugins.stageModulePath(options.modulePath)) {
    std::fputs("game-sim: --module-path is not available here\n", stderr);
    return exitTrouble;
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
    std::fprintf(stderr, "game-sim: cannot hold %s open sharing %s\n", settingsShown.c_str(),
                 options.holdSettings);
    return exitTrouble;
  }
  const int loads = options.reloads > 0 ? options.reloads : 1;
  if (options.heapJson != nullptr &&
      !plugins.countHeap(
          api, static_cast<std::uint64_t>(options.frames) * static_cast<std::uint64_t>(loads))) {
    std::fputs("game-sim: --count-heap is not available here\n", stderr);
    return exitTrouble;
  }
  if (options.saveLoadEvery > 0) api.setSaveLoads(options.saveLoadEvery, settingsPath.c_str());
  api.setKeysEveryFrame(options.keysEveryFrame);
  // Set after the scene is read, so that the scene's numbers still read as written.
  if (options.locale != nullptr) {
    if (std::setlocale(LC_ALL, options.locale) == nullptr) {
      std::fprintf(stderr, "game-sim: no locale %s here\n", options.locale);
      return exitTrouble;
    }
    std::printf("locale before the plug-ins: %s\n", std::setlocale(LC_ALL, nullptr));
  }
  // Reserved at once: the run's own memory stays flat over the reloads it measures.
  std::vector<ReloadRecord> reloads;
  reloads.reserve(static_cast<std::size_t>(options.reloads));
  const std::string logPath = gameDirectory + logFileName;
  if (plugins.guard != nullptr && !plugins.guard(api, options.passTimeout)) {
    std::fputs("game-sim: cannot watch the plug-ins (no thread for the watchdog)\n", stderr);
    return exitTrouble;
  }
  for (int load = 1; load <= loads; ++load) {
    HostTally before{};
    HostTally loaded{};
    HostTally after{};
    // Each load writes its own log: one left from the load before proves nothing.
    if (options.reloads > 0) sim::removeFile(logPath);
    api.tally(&before);
    if (plugins.load(api, gameDirectory) == 0) {
      std::fprintf(stderr, "game-sim: no plug-in (*.asi) in %s\n",
                   plugins.ownPathShown(gameDirectory).c_str());
      return exitTrouble;
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
    std::FILE* log = sim::openFile(logPath, "rb");
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
      std::fprintf(stderr, "game-sim: cannot write %s\n", options.heapJson);
      return exitTrouble;
    }
  }
  for (const auto& [path, write] :
       {std::pair{options.json, api.writeJson}, std::pair{options.svg, api.writeSvg}}) {
    errno = 0;
    if (path == nullptr || write(path)) continue;
    const int reason = errno;
    std::fprintf(stderr, "game-sim: cannot write %s: %s\n", path,
                 reason == 0 ? "write failed" : std::strerror(reason));
    return exitTrouble;
  }
  if (options.accept) {
    errno = 0;
    if (!api.writeExpectation(expectPath.c_str())) {
      const int reason = errno;
      std::fprintf(stderr, "game-sim: cannot write %s: %s\n", expectPath.c_str(),
                   reason == 0 ? "write failed" : std::strerror(reason));
      return exitTrouble;
    }
    std::fprintf(stderr, "game-sim: today's accuracies written as the expected ones to %s\n",
                 expectPath.c_str());
  }
  std::fflush(stdout);
  // Like diff: a replay whose accuracies differ from those it is judged by ends with 1.
  return options.replay != nullptr && api.replayDiffers() ? exitAccuraciesDiffer : exitWentThrough;
}
