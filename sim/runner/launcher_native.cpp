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

#ifdef PLUGIN_CAPTURE
#include "capture/capture_record.h"
#endif

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
#ifdef PLUGIN_CAPTURE
  finishCapture();  // as the DLL's detach writes what it recorded
#endif
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

}  // namespace

int main(int argc, char** argv) {
  // --game-dir DIR stands for the folder of the game's executable; the rest as game-sim.exe.
  std::string directory = "./";
  std::vector<char*> rest{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--game-dir") == 0 && i + 1 < argc) {
      directory = std::string(argv[++i]) + "/";
    } else {
      rest.push_back(argv[i]);
    }
  }
  sim::setExecutablePath(directory + "game-sim.exe");
  return gameSimMain(static_cast<int>(rest.size()), rest.data(), *gameSimApi(), directory,
                     {loadPlugin, unloadPlugin, stageModulePath, holdSettingsFile,
                      releaseSettingsFile, fullPath, countHeap, heapReport, readMemory});
}
