// game-sim.exe: stands where the game's executable stands. It loads the stand-in host and then,
// as the ASI loader does, every *.asi in its folder; at the end it unloads the plug-ins again.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "game_sim_main.h"

namespace {

std::vector<HMODULE> plugins;

int loadPlugins(const GameSimApi& api, const std::string& directory) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((directory + "*.asi").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  do {
    const std::string path = directory + found.cFileName;
    if (HMODULE module = LoadLibraryA(path.c_str())) {
      plugins.push_back(module);
      api.moduleLoaded(found.cFileName, reinterpret_cast<std::uintptr_t>(module));
    } else {
      std::fprintf(stderr, "game-sim: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
    }
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return static_cast<int>(plugins.size());
}

void unloadPlugins() {
  while (!plugins.empty()) {
    FreeLibrary(plugins.back());
    plugins.pop_back();
  }
}

}  // namespace

int main(int argc, char** argv) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  directory.erase(directory.find_last_of('\\') + 1);

  HMODULE host = LoadLibraryA((directory + "ScriptHookRDR2.dll").c_str());
  using ApiGetter = const GameSimApi* (*)();
  // Through a plain function pointer type: FARPROC and the getter differ only in the result.
  const auto getApi = host == nullptr ? nullptr
                                      : reinterpret_cast<ApiGetter>(reinterpret_cast<void (*)()>(
                                            GetProcAddress(host, "gameSimApi")));
  if (getApi == nullptr) {
    std::fprintf(stderr, "game-sim: ScriptHookRDR2.dll missing beside %s\n", path);
    return 1;
  }
  return gameSimMain(argc, argv, *getApi(), directory, {loadPlugins, unloadPlugins});
}
