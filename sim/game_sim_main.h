// The game's side of a run, shared by game-sim.exe and the native runner: options, the scene's
// settings file, loading the plug-ins, the frames, unloading, and the report.
#pragma once

#include <string>

#include "game_api.h"

struct PluginLoader {
  // Loads the plug-ins found in the game's folder, tells the API of each; returns how many.
  int (*load)(const GameSimApi& api, const std::string& gameDirectory);
  // Unloads them again, last loaded first.
  void (*unload)();
};

int gameSimMain(int argc, char** argv, const GameSimApi& api, const std::string& gameDirectory,
                const PluginLoader& plugins);
