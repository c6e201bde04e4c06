#include "game_sim_main.h"

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char settingsFileName[] = "vok.quillmarrowfendcask.ini";

const char usage[] =
    "usage: game-sim [--frames N] [--scene FILE] [--json FILE] [--svg FILE] [--quiet]\n"
    "                [--print-default-scene] [--module-path PATH] [--hold-settings-file SHARE]\n"
    "                [--locale NAME]\n"
    "Runs the plug-ins (*.asi) beside this program in a simulated game for N frames (default 3)\n"
    "and prints, per frame, what they did to each ped of the scene.\n"
    "  --module-path PATH          the plug-in's GetModuleFileNameA(NULL) answers PATH, cut to\n"
    "                              its buffer as Windows cuts a path that does not fit\n"
    "  --hold-settings-file SHARE  the settings file is held open while the plug-in runs,\n"
    "                              sharing only write access (write) or nothing (none)\n"
    "  --locale NAME               the process's C locale while the plug-ins run, as another\n"
    "                              module could set it; printed before and after\n";

struct Options {
  int frames = 3;
  const char* scene = nullptr;
  const char* json = nullptr;
  const char* svg = nullptr;
  bool quiet = false;
  bool printScene = false;
  const char* modulePath = nullptr;
  const char* holdSettings = nullptr;
  const char* locale = nullptr;
};

bool parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const char* option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (std::strcmp(option, "--frames") == 0 && hasValue) {
      char* end = nullptr;
      const long frames = std::strtol(argv[++i], &end, 10);
      if (*end != '\0' || frames < 1 || frames > 100000) return false;
      options.frames = static_cast<int>(frames);
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
    } else if (std::strcmp(option, "--locale") == 0 && hasValue) {
      options.locale = argv[++i];
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
  // Set after the scene is read, so that the scene's numbers still read as written.
  if (options.locale != nullptr) {
    if (std::setlocale(LC_ALL, options.locale) == nullptr) {
      std::fprintf(stderr, "game-sim: no locale %s here\n", options.locale);
      return 2;
    }
    std::printf("locale before the plug-ins: %s\n", std::setlocale(LC_ALL, nullptr));
  }
  if (plugins.load(api, gameDirectory) == 0) {
    std::fprintf(stderr, "game-sim: no plug-in (*.asi) in %s\n", gameDirectory.c_str());
    return 1;
  }
  api.runFrames(options.frames);
  plugins.releaseSettingsFile();
  plugins.unload();
  if (options.locale != nullptr) {
    std::printf("locale after the plug-ins: %s\n", std::setlocale(LC_ALL, nullptr));
    std::setlocale(LC_ALL, "C");  // the report's numbers are written with "."
  }

  if (!options.quiet) std::fputs(api.report(), stdout);
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
