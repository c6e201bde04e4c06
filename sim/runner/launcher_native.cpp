// sim-native: the same run as game-sim.exe, with the plug-in's code linked in and the world in
// this process; what the DLL under Wine does must come out the same.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fake_host.h"
#include "game_sim_main.h"
#include "script/keyboard.h"
#include "script/script.h"

namespace {

// The module handle the plug-in would have had; only compared, never used.
HMODULE const pluginModule = reinterpret_cast<HMODULE>(std::uintptr_t{0x7FF600000000});

// What the plug-in's attach and detach notifications do, in-process.
int loadPlugin(const GameSimApi& api, const std::string&) {
  sim::hostScriptRegister(pluginModule, onScriptStart);
  sim::hostKeyboardHandlerRegister(onKeyboardEvent);
  api.moduleLoaded("vok.quillmarrowfendcask (in-process)",
                   reinterpret_cast<std::uintptr_t>(pluginModule));
  return 1;
}

void unloadPlugin() {
  sim::hostScriptUnregister(pluginModule);
  sim::hostKeyboardHandlerUnregister(onKeyboardEvent);
}

bool stageModulePath(const char* path) {
  sim::setExecutablePath(path);
  return true;
}

// Share modes are Windows' own: in-process there is nobody to hold the file against.
bool holdSettingsFile(const std::string&, const char*) { return false; }
void releaseSettingsFile() {}

std::string fullPath(const char* path) {
  std::error_code error;
  const std::filesystem::path full = std::filesystem::absolute(path, error);
  return error ? path : full.lexically_normal().string();
}

// The plug-in's heap is counted in the DLL under Wine; in-process it shares the runner's.
bool countHeap(const GameSimApi&, std::uint64_t) { return false; }
std::string heapReport(bool) { return ""; }

// In-process the plug-in's code and globals stay loaded: there is nothing to reload.
bool readMemory(ReloadRecord&) { return false; }

// Printed after game-sim's own options by --help; ./run --help, whose game is game-sim.exe,
// leaves this part out.
constexpr char ownOptionsHelp[] =
    "sim-native alone (the plug-in's code built in, no Wine):\n"
    "  --game-dir DIR              the folder standing for the game's executable's: the settings\n"
    "                              file and the start-up log are there (default: the current "
    "folder)\n";

}  // namespace

int main(int argc, char** argv) {
  // --game-dir DIR stands for the folder of the game's executable; the rest as game-sim.exe.
  std::string directory = "./";
  std::vector<char*> rest{argv[0]};
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--game-dir") == 0) {
      if (i + 1 == argc) {
        std::fputs("game-sim: --game-dir needs a value: --game-dir DIR\n", stderr);
        return 2;
      }
      directory = std::string(argv[++i]) + "/";
    } else {
      help = help || std::strcmp(argv[i], "--help") == 0;
      rest.push_back(argv[i]);
    }
  }
  sim::setExecutablePath(directory + "game-sim.exe");
  const int status =
      gameSimMain(static_cast<int>(rest.size()), rest.data(), *gameSimApi(), directory,
                  {loadPlugin, unloadPlugin, stageModulePath, holdSettingsFile, releaseSettingsFile,
                   fullPath, countHeap, heapReport, readMemory});
  if (help && status == 0) std::fputs(ownOptionsHelp, stdout);
  return status;
}
