#include "game_sim_main.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char settingsFileName[] = "vok.quillmarrowfendcask.ini";

const char usage[] =
    "usage: game-sim [--frames N] [--scene FILE] [--json FILE] [--svg FILE] [--quiet]\n"
    "                [--print-default-scene] [--module-path PATH] [--hold-settings-file SHARE]\n"
    "                [--crowd N] [--save-load-every K] [--keys-every-frame] [--count-heap FILE]\n"
    "Runs the plug-ins (*.asi) beside this program in a simulated game for N frames (default 3)\n"
    "and prints, per frame, what they did to each ped of the scene.\n"
    "  --module-path PATH          the plug-in's GetModuleFileNameA(NULL) answers PATH, cut to\n"
    "                              its buffer as Windows cuts a path that does not fit\n"
    "  --hold-settings-file SHARE  the settings file is held open while the plug-in runs,\n"
    "                              sharing only write access (write) or nothing (none)\n"
    "  --crowd N                   N armed peds in place of the scene's, its settings files kept\n"
    "  --save-load-every K         a save load at the start of every K-th frame: the script is\n"
    "                              started anew, after the scene's next settings file is put down\n"
    "  --keys-every-frame          keyboard events from the host's thread before every frame\n"
    "  --count-heap FILE           counts the plug-in's own heap and the process's memory, prints\n"
    "                              them and writes them to FILE as JSON\n";

struct Options {
  int frames = 3;
  const char* scene = nullptr;
  const char* json = nullptr;
  const char* svg = nullptr;
  bool quiet = false;
  bool printScene = false;
  const char* modulePath = nullptr;
  const char* holdSettings = nullptr;
  int crowd = 0;
  int saveLoadEvery = 0;
  bool keysEveryFrame = false;
  const char* heapJson = nullptr;
};

// A whole number in [low, high], or false.
bool readCount(const char* text, long low, long high, int& value) {
  char* end = nullptr;
  const long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < low || number > high) return false;
  value = static_cast<int>(number);
  return true;
}

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(option, "--frames") == 0 && hasValue) {
      // Memory stays flat however long the run: a billion frames are over 4000 hours at 60 FPS.
      if (!readCount(argv[++i], 1, 1000000000, options.frames)) return false;
    } else if (std::strcmp(option, "--crowd") == 0 && hasValue) {
      if (!readCount(argv[++i], 1, 100000, options.crowd)) return false;
    } else if (std::strcmp(option, "--save-load-every") == 0 && hasValue) {
      if (!readCount(argv[++i], 1, 1000000000, options.saveLoadEvery)) return false;
    } else if (std::strcmp(option, "--count-heap") == 0 && hasValue) {
      options.heapJson = argv[++i];
    } else if (std::strcmp(option, "--keys-every-frame") == 0) {
      options.keysEveryFrame = true;
    } else if (std::strcmp(option, "--scene") == 0 && hasValue) {
      options.scene = argv[++i];
    } else if (std::strcmp(option, "--json") == 0 && hasValue) {
      options.json = argv[++i];
    } else if (std::strcmp(option, "--svg") == 0 && hasValue) {
      options.svg = argv[++i];
    } else if (std::strcmp(option, "--module-path") == 0 && hasValue) {
      options.modulePath = argv[++i];
    } else if (std::strcmp(option, "--hold-settings-file") == 0 && hasValue) {
      options.holdSettings = argv[++i];
    } else if (std::strcmp(option, "--quiet") == 0) {
      options.quiet = true;
    } else if (std::strcmp(option, "--print-default-scene") == 0) {
      options.printScene = true;
    } else {
      return false;
    }
  }
  return true;
}

// The scene's settings file goes where the plug-in looks for it, before the plug-in starts.
bool writeSettingsFile(const std::string& path, const char* text) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const std::size_t length = std::strlen(text);
  const bool written = std::fwrite(text, 1, length, file) == length;
  return std::fclose(file) == 0 && written;
}

}  // namespace

int gameSimMain(int argc, char** argv, const GameSimApi& api, const std::string& gameDirectory,
                const PluginLoader& plugins) {
  Options options;
  if (!parseOptions(argc, argv, options)) {
    std::fputs(usage, stderr);
    return 2;
  }
  if (options.printScene) {
    std::fputs(api.defaultScene(), stdout);
    return 0;
  }
  if (const char* error = api.loadScene(options.scene)) {
    std::fprintf(stderr, "game-sim: %s\n", error);
    return 2;
  }
  if (options.crowd > 0) api.useCrowd(options.crowd);
  const std::string settingsPath = gameDirectory + settingsFileName;
  if (const char* settings = api.sceneSettingsFile()) {
    if (!writeSettingsFile(settingsPath, settings)) {
      std::fprintf(stderr, "game-sim: cannot write %s\n", settingsPath.c_str());
      return 1;
    }
  }
  if (options.modulePath != nullptr && !plugins.stageModulePath(options.modulePath)) {
    std::fputs("game-sim: --module-path is not available here\n", stderr);
    return 2;
  }
  if (options.holdSettings != nullptr &&
      !plugins.holdSettingsFile(settingsPath, options.holdSettings)) {
    std::fprintf(stderr, "game-sim: cannot hold %s open sharing %s\n", settingsPath.c_str(),
                 options.holdSettings);
    return 2;
  }
  if (options.heapJson != nullptr &&
      !plugins.countHeap(api, static_cast<std::uint64_t>(options.frames))) {
    std::fputs("game-sim: --count-heap is not available here\n", stderr);
    return 2;
  }
  if (options.saveLoadEvery > 0) api.setSaveLoads(options.saveLoadEvery, settingsPath.c_str());
  api.setKeysEveryFrame(options.keysEveryFrame);
  if (plugins.load(api, gameDirectory) == 0) {
    std::fprintf(stderr, "game-sim: no plug-in (*.asi) in %s\n", gameDirectory.c_str());
    return 1;
  }
  api.runFrames(options.frames);
  plugins.releaseSettingsFile();
  plugins.unload();

  if (!options.quiet) std::fputs(api.report(), stdout);
  if (options.heapJson != nullptr) {
    std::fputs(plugins.heapReport(false).c_str(), stdout);
    if (!writeSettingsFile(options.heapJson, plugins.heapReport(true).c_str())) {
      std::fprintf(stderr, "game-sim: cannot write %s\n", options.heapJson);
      return 1;
    }
  }
  if (options.json != nullptr && !api.writeJson(options.json)) {
    std::fprintf(stderr, "game-sim: cannot write %s\n", options.json);
    return 1;
  }
  if (options.svg != nullptr && !api.writeSvg(options.svg)) {
    std::fprintf(stderr, "game-sim: cannot write %s\n", options.svg);
    return 1;
  }
  std::fflush(stdout);
  return 0;
}
