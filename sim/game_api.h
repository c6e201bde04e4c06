// How the game's executable drives the simulated game that lives with the stand-in host.
//
// Plain C, so that game-sim.exe can take it from ScriptHookRDR2.dll with GetProcAddress; the
// native runner links the same functions directly.
#pragma once

#include <cstdint>

extern "C" {

struct GameSimApi {
  // Installs the scene from a file, or the built-in one for a null path. Null, or what is wrong.
  const char* (*loadScene)(const char* path);
  // The built-in scene's INI text, a start for one's own.
  const char* (*defaultScene)();
  // The settings file text the scene carries, or null when it carries none.
  const char* (*sceneSettingsFile)();
  // Notes a plug-in module as the game loaded it, for the report.
  void (*moduleLoaded)(const char* file, std::uintptr_t module);
  // Starts the registered scripts if need be and runs this many frames.
  void (*runFrames)(int frames);
  // The per-frame tables and the registrations, for a person to read.
  const char* (*report)();
  // Machine-readable results and a picture of the last frame; true when written.
  bool (*writeJson)(const char* path);
  bool (*writeSvg)(const char* path);
};

const GameSimApi* gameSimApi();
}

namespace sim {

// Provided by each host build: how scripts are run for a number of frames (a fiber under
// Windows, the calling stack in-process) and how many keyboard events the host sent.
void runScriptFrames(int frames);
extern int keyboardEventsSent;

}  // namespace sim
