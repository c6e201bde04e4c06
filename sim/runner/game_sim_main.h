// The game's side of a run, shared by game-sim.exe and the native runner: options, the scene's
// settings file, loading the plug-ins, the frames, unloading, and the report.
#pragma once

#include <cstdint>
#include <string>

#include "game_api.h"

struct PluginLoader {
  // Loads the plug-ins found in the game's folder, tells the API of each; returns how many.
  int (*load)(const GameSimApi& api, const std::string& gameDirectory);
  // Unloads them again, last loaded first.
  void (*unload)();
  // What the plug-in's GetModuleFileNameA(NULL, ...) is to answer from now on.
  bool (*stageModulePath)(const char* path);
  // Holds the settings file open as another program would, sharing "write" or "none"; false when
  // it cannot. Released after the frames.
  bool (*holdSettingsFile)(const std::string& path, const char* sharing);
  void (*releaseSettingsFile)();
  // How game-sim shows a path it made itself (the game's folder, the settings file in it) in
  // its messages: as the person at the terminal would give it to game-sim. A path the person
  // gave is shown as given.
  std::string (*ownPathShown)(const std::string& path);
  // Counts the plug-ins' own heap from their load on and reads the process's memory over a run
  // of this many frames; false where it cannot. Asked before the plug-ins load.
  bool (*countHeap)(const GameSimApi& api, std::uint64_t frames);
  // What was counted, after the unload: for a person to read, or as JSON.
  std::string (*heapReport)(bool json);
  // After an unload: the process's memory and, when counted, the plug-ins' live heap, into the
  // record. False where the plug-ins cannot be unloaded and loaded again.
  bool (*readMemory)(ReloadRecord& record);
  // From here on, a plug-in that faults, or a call into one that has not come back within the
  // limit (0: none), ends the run with a line saying where and a status of its own. False when
  // it cannot watch; null where nothing runs.
  bool (*guard)(const GameSimApi& api, std::uint32_t limitMilliseconds);
};

// Every path, given or made, is UTF-8.
int gameSimMain(int argc, char** argv, const GameSimApi& api, const std::string& gameDirectory,
                const PluginLoader& plugins);
