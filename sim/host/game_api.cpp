// The simulated game's plain-C face: what game-sim.exe and the native runner call to load a
// scene, run frames and write the report, served by the world in this module.
#include "game_api.h"

#include <cstdio>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "fake_host.h"
#include "files.h"
#include "native_replay.h"
#include "output_file.h"
#include "replay_report.h"
#include "replay_world.h"
#include "report.h"
#include "scene.h"

namespace {

std::string lastError;
std::string reportText;
sim::RunInfo run;
sim::FrameSchedule schedule;
std::string saveLoadSettingsPath;
bool replaying = false;  // the world answers from a capture, not from a scene

bool writeText(const char* path, const std::string& text) {
  std::FILE* file = path == nullptr ? nullptr : sim::openFile(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  return std::fclose(file) == 0 && written;
}

const char* loadScene(const char* path) {
  sim::Scene scene;
  std::vector<std::string> warnings;
  lastError = path == nullptr ? sim::parseScene(sim::defaultSceneText(), scene, &warnings)
                              : sim::loadSceneFile(path, scene, &warnings);
  // Names the game does not know may be meant; the run goes on, but the modder hears of them.
  for (const std::string& warning : warnings) {
    std::fprintf(stderr, "game-sim: %s\n", warning.c_str());
  }
  if (!lastError.empty()) return lastError.c_str();
  sim::installWorld(scene);
  run = sim::RunInfo{};
  schedule = sim::FrameSchedule{};
  replaying = false;
  return nullptr;
}

const char* loadCapture(const char* path, const ReplaySettings* settings, int* passes) {
  sim::ReplayOptions options;
  if (settings != nullptr) {
    if (settings->angleGiven) options.angle = settings->angle;
    if (settings->displayAccuracyGiven) options.displayAccuracy = settings->displayAccuracy;
    if (settings->expectPath != nullptr) options.expectPath = settings->expectPath;
    options.accept = settings->accept;
  }
  std::uint32_t count = 0;
  lastError =
      sim::installReplay(path == nullptr ? "" : path, path == nullptr ? "" : path, options, count);
  if (!lastError.empty()) return lastError.c_str();
  run = sim::RunInfo{};
  schedule = sim::FrameSchedule{};
  replaying = true;
  *passes = static_cast<int>(count);
  return nullptr;
}

bool replayDiffers() { return replaying && sim::replayDiffers(); }

bool writeExpectation(const char* path) {
  return replaying && sim::writeWholeFile(path, sim::expectationFile(sim::replayRecord()));
}

const char* sceneSettingsFile() {
  const sim::Scene& scene = sim::world().scene;
  return scene.hasSettingsFile ? scene.settingsFile.c_str() : nullptr;
}

// A module loaded again is listed once, with its latest handle: reloads keep the list short.
void moduleLoaded(const char* file, std::uintptr_t module) {
  const std::string name = file == nullptr ? "" : file;
  for (sim::LoadedModule& loaded : run.modules) {
    if (loaded.file == name) {
      loaded.module = module;
      return;
    }
  }
  run.modules.push_back({name, module});
}

// Before the i-th save load the scene's settings files are put down in turn, the first one
// again after the last, so that each start of the script reads a file that differs.
void beforeSaveLoad() {
  const sim::Scene& scene = sim::world().scene;
  int settingsFile = 0;
  if (scene.hasSettingsFile && !scene.laterSettingsFiles.empty()) {
    const std::size_t files = scene.laterSettingsFiles.size() + 1;
    const std::size_t next = (sim::world().totals.saveLoads + 1) % files;
    const std::string& text = next == 0 ? scene.settingsFile : scene.laterSettingsFiles[next - 1];
    if (writeText(saveLoadSettingsPath.c_str(), text)) settingsFile = static_cast<int>(next) + 1;
  }
  sim::noteSaveLoad(settingsFile);
}

void runFrames(int frames) {
  run.framesRequested += frames;
  sim::runScriptFrames(frames);
  sim::keepLastFrame();
  run.keyboardEvents = sim::keyboardEventsSent;
}

const char* report() {
  reportText = replaying ? sim::replayReport(sim::world(), run, sim::replayRecord())
                         : sim::runReport(sim::world(), run);
  return reportText.c_str();
}

bool writeJson(const char* path) {
  return sim::writeWholeFile(path, replaying
                                       ? sim::replayJson(sim::world(), run, sim::replayRecord())
                                       : sim::resultsJson(sim::world(), run));
}

bool writeSvg(const char* path) {
  const std::size_t frames = sim::world().frames.size();
  return sim::writeWholeFile(path, sim::frameSvg(sim::world(), frames == 0 ? 0 : frames - 1));
}

const char* defaultScene() { return sim::defaultSceneText(); }

void (*registeredScript())() { return sim::host().scriptEntry; }

// Installing a world resets the host, the script's way back included: it is set again here.
void installCrowd(int peds, void (*yield)()) {
  replaying = false;
  sim::installWorld(sim::crowdScene(peds));
  sim::world().recordFrames = false;
  sim::host().yieldToHost = yield;
}

struct KeptReplay {
  sim::NativeReplay replay;
  std::vector<NativeReplayView::Call> calls;
  NativeReplayView view{};
};
std::deque<KeptReplay> keptReplays;  // views point into them: never moved, never freed

const NativeReplayView* recordNatives(bool on) {
  sim::HostState& host = sim::host();
  host.recording = on;
  if (on) {
    host.calls.clear();
    return nullptr;
  }
  KeptReplay& kept = keptReplays.emplace_back();
  kept.replay = sim::replayOf(host.calls);
  host.calls.clear();
  for (const sim::ReplayCall& call : kept.replay.calls) {
    kept.calls.push_back({call.hash, call.firstSlot, call.slotCount, call.createsSet});
  }
  kept.view = {kept.calls.data(), kept.calls.size(), kept.replay.slots.data(),
               kept.replay.setSlots.data(), kept.replay.setSlots.size()};
  return &kept.view;
}

void useCrowd(int peds) {
  const sim::Scene& loaded = sim::world().scene;
  sim::Scene crowd = sim::crowdScene(peds);
  crowd.hasSettingsFile = loaded.hasSettingsFile;
  crowd.settingsFile = loaded.settingsFile;
  crowd.laterSettingsFiles = loaded.laterSettingsFiles;
  replaying = false;
  sim::installWorld(crowd);
}

void setSaveLoads(int everyFrames, const char* settingsPath) {
  schedule.saveLoadEvery = everyFrames > 0 ? everyFrames : 0;
  saveLoadSettingsPath = settingsPath == nullptr ? "" : settingsPath;
  schedule.beforeSaveLoad = beforeSaveLoad;
}

void setKeysEveryFrame(bool on) { schedule.keysEveryFrame = on; }

void setFrameObserver(void (*observer)(std::uint64_t frame, bool scriptStarted)) {
  schedule.afterFrame = observer;
}

bool isSceneSettingsFile(const char* bytes, std::size_t size) {
  if (replaying) return sim::isReplaySettingsFile(std::string_view(bytes, size));
  const sim::Scene& scene = sim::world().scene;
  if (!scene.hasSettingsFile) return false;
  const std::string_view file(bytes, size);
  if (file == scene.settingsFile) return true;
  for (const std::string& later : scene.laterSettingsFiles) {
    if (file == later) return true;
  }
  return false;
}

void tally(HostTally* tally) {
  const sim::HostState& host = sim::host();
  const sim::FrameRecord& last = sim::world().previous;
  *tally = {host.scriptRegistrations,
            host.keyboardRegistrations,
            host.scriptUnregistrations,
            host.keyboardUnregistrations,
            static_cast<std::uint32_t>(last.labels.size()),
            0,
            0,
            sim::world().totals.frames};
  for (const sim::ActorFrame& actor : last.actors) {
    if (actor.accuracySets == 0) continue;
    ++tally->lastFrameTreated;
    tally->lastFrameAccuracySum += actor.accuracy;
  }
}

void setReloads(const ReloadRecord* reloads, std::size_t count) {
  run.reloads.assign(reloads, reloads + count);
}

void setPluginLog(const char* path) { sim::setPluginLogPath(path == nullptr ? "" : path); }

PluginActivity pluginsNow{phaseGame, 0, 0, &sim::host().pendingHash, sim::pluginConstantOf};

PluginActivity* activity() { return &pluginsNow; }

const GameSimApi api = {loadScene,
                        defaultScene,
                        sceneSettingsFile,
                        moduleLoaded,
                        runFrames,
                        report,
                        writeJson,
                        writeSvg,
                        registeredScript,
                        installCrowd,
                        recordNatives,
                        useCrowd,
                        setSaveLoads,
                        setKeysEveryFrame,
                        setFrameObserver,
                        isSceneSettingsFile,
                        tally,
                        setReloads,
                        setPluginLog,
                        activity,
                        loadCapture,
                        replayDiffers,
                        writeExpectation};

}  // namespace

const GameSimApi* gameSimApi() { return &api; }

sim::FrameSchedule& sim::frameSchedule() { return schedule; }

PluginActivity& sim::pluginActivity() { return pluginsNow; }
