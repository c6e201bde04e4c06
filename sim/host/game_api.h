// How the game's executable drives the simulated game that lives with the stand-in host.
//
// Plain C, so that game-sim.exe can take it from ScriptHookRDR2.dll with GetProcAddress; the
// native runner links the same functions directly.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

extern "C" {

// A replay of recorded natives, its storage kept by the game until the process ends. A set
// call's answer goes into the slots listed in setSlots.
struct NativeReplayView {
  struct Call {
    std::uint64_t hash;
    std::uint32_t firstSlot;
    std::uint32_t slotCount;
    bool createsSet;
  };
  const Call* calls;
  std::size_t callCount;
  std::uint64_t* slots;
  const std::size_t* setSlots;
  std::size_t setSlotCount;
};

// What the host has seen so far, for a run that loads and unloads the plug-ins again and again:
// its registration calls (an unregistration counted when it names what was registered), the
// frames run and what the plug-ins did in the last frame closed.
struct HostTally {
  std::uint64_t scriptRegistrations;
  std::uint64_t keyboardRegistrations;
  std::uint64_t scriptUnregistrations;
  std::uint64_t keyboardUnregistrations;
  std::uint32_t lastFrameLabels;
  std::uint32_t lastFrameTreated;  // peds given an accuracy
  std::int64_t lastFrameAccuracySum;
  std::uint64_t frames;
};

// One load, run and unload of the plug-ins, as game-sim saw it.
struct ReloadRecord {
  std::uint64_t firstFrame;         // the number of the load's first frame, counted over the run
  std::uint32_t scriptsRegistered;  // while they loaded
  std::uint32_t handlersRegistered;
  std::uint32_t scriptsUnregistered;  // while they unloaded
  std::uint32_t handlersUnregistered;
  std::uint32_t labels;  // in the last frame, as the settings read at this load have it
  std::uint32_t treated;
  std::int64_t accuracySum;
  bool logWritten;   // the start-up log, removed before the load, was there after the frames
  bool heapCounted;  // whether the plug-ins' heap below was counted (--count-heap)
  std::uint64_t liveBlocks;  // the plug-ins' heap after the unload
  std::uint64_t liveBytes;
  std::uint64_t workingSet;  // the process's memory after the unload
  std::uint64_t privateBytes;
};

// Which code of the plug-ins runs now, for the line that reports a crash or a run that does not
// come back: the game sets it around each call into a plug-in (per frame, never per native) and
// a fault handler or the watchdog thread reads it.
enum PluginPhase : std::uint32_t {
  phaseGame,         // the game's own code: no plug-in runs
  phaseAttach,       // a plug-in's DLL entry as it loads
  phaseScriptStart,  // a script's entry, up to its first wait
  phasePass,         // a script, from one wait to the next
  phaseKeyboard,     // a keyboard handler
  phaseDetach,       // a plug-in's DLL entry as it unloads
};

struct PluginActivity {
  std::atomic<std::uint32_t> phase;
  std::atomic<std::uint64_t> frame;  // the frame running, from 1; 0 before the first
  std::atomic<std::uint64_t> calls;  // calls into the plug-ins so far: tells one from the next
  // The native a plug-in called last, as the host keeps it for the call, and its name in our
  // plug-in's sources; for a fault handler on the calling thread, never for another thread.
  const std::uint64_t* lastNative;
  const char* (*nativeName)(std::uint64_t hash);

  // A call into a plug-in begins, and ends back in the game's code. The game makes one such call
  // at a time (it waits for the thread that sends keyboard events), so a plain increment will do.
  void enter(PluginPhase now) {
    calls.store(calls.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    phase.store(now, std::memory_order_release);
  }
  void leave() { phase.store(phaseGame, std::memory_order_release); }
};

// What a replay runs with besides the capture: a setting given is used in place of the captured
// one; an expectation file judges today's accuracies (or, accepting, receives them).
struct ReplaySettings {
  bool angleGiven;
  float angle;
  bool displayAccuracyGiven;
  bool displayAccuracy;
  const char* expectPath;  // null: judged by the captured accuracies
  bool accept;
};

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

  // For a benchmark that runs the plug-in's script in a fiber of its own. The script the plug-in
  // registered, or null;
  void (*(*registeredScript)())();
  // a crowd of `peds` treated peds with no frame kept, where scriptWait returns by `yield`;
  void (*installCrowd)(int peds, void (*yield)());
  // native recording: on (null), or off again with what it recorded since, kept as a replay.
  const NativeReplayView* (*recordNatives)(bool on);
  // Puts a crowd of this many armed peds in place of the scene's actors; its settings files stay.
  void (*useCrowd)(int peds);
  // A save load at the start of every frame whose number is a multiple of everyFrames (0: none),
  // the scene's next settings file written to settingsPath before it when it gives several.
  void (*setSaveLoads)(int everyFrames, const char* settingsPath);
  // Keyboard events from the host's thread before every frame, not only at the start.
  void (*setKeysEveryFrame)(bool on);
  // Told after every frame of its number and whether a script started in it.
  void (*setFrameObserver)(void (*observer)(std::uint64_t frame, bool scriptStarted));
  // Whether these bytes are one of the scene's settings files, the first or a later one.
  bool (*isSceneSettingsFile)(const char* bytes, std::size_t size);
  // For a run with reloads: what the host has seen so far, and the reloads for the JSON.
  void (*tally)(HostTally* tally);
  void (*setReloads)(const ReloadRecord* reloads, std::size_t count);
  // Where the plug-in writes its start-up log: the report takes the Angle in force from it.
  void (*setPluginLog)(const char* path);
  // Where the plug-ins' code runs now; attach and detach are the loader's to set.
  PluginActivity* (*activity)();
  // Installs a world answering from the capture file at `path`, read a pass at a time, its
  // passes into `passes`, in place of a scene; the report and the JSON are then the replay's.
  // Null, or what is wrong with it (or with the expectation file).
  const char* (*loadCapture)(const char* path, const ReplaySettings* settings, int* passes);
  // After a replay's frames: whether its accuracies differ from those it is judged by.
  bool (*replayDiffers)();
  // Writes the replay's accuracies as the expected ones (--accept); true when written.
  bool (*writeExpectation)(const char* path);
};

const GameSimApi* gameSimApi();
}

namespace sim {

// Provided by each host build: how scripts are run for a number of frames (a fiber under
// Windows, the calling stack in-process) and how many keyboard events the host sent.
void runScriptFrames(int frames);
extern std::uint64_t keyboardEventsSent;  // three per frame can pass 2^31 in a long run

// How the host runs frames: set by the game's side, followed by both host builds.
struct FrameSchedule {
  std::uint64_t framesRun = 0;  // frames begun over the run, the one running included
  int saveLoadEvery = 0;
  bool keysEveryFrame = false;
  void (*beforeSaveLoad)() = nullptr;
  void (*afterFrame)(std::uint64_t frame, bool scriptStarted) = nullptr;

  bool saveLoadAt(std::uint64_t frame) const {
    return saveLoadEvery > 0 && frame % static_cast<std::uint64_t>(saveLoadEvery) == 0;
  }
};
FrameSchedule& frameSchedule();
PluginActivity& pluginActivity();

}  // namespace sim
