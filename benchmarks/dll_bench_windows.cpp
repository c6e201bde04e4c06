// dll-bench.exe: the shipped plug-in, vok.quillmarrowfendcask.asi, against its native-call floor,
// under Wine or Windows. It stands where the game's executable stands, beside the stand-in
// ScriptHookRDR2.dll and the plug-in, and prints the same ratio table as the native benchmark.
//
//   dll-bench.exe [--repetitions=N] [--min_time=SECONDS]
//   dll-bench.exe --steady=pass|floor --peds=N     (frames without end, for dll_instructions.py)
//   dll-bench.exe --from-start=N                   (the first N frames of a script, one by one)
//
// Both sides run as scripts in fibers of their own and end each frame with the host's
// scriptWait(0), which switches back here: a pass is timed with its fiber switches, and so is
// its floor. The floor makes the natives of one recorded pass through the host's exported entry
// points, as the plug-in's imports do, with no plug-in logic. Frames are timed in blocks of at
// least 20 us (QueryPerformanceCounter ticks are 100 ns under Wine); a repetition's figure is its
// median block. Repetitions of every case run in random order; the table shows their medians and
// coefficients of variation. Google Benchmark
// does not build for MinGW, hence the hand-made timing. Lines starting with "summary " are for
// the ./bench script.
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "game_api.h"

namespace {

constexpr char pluginFile[] = "vok.quillmarrowfendcask.asi";
constexpr char settingsFile[] = "vok.quillmarrowfendcask.ini";
constexpr std::uint64_t setAccuracyNative = 0x7AEFB85C1D49DEB6;
constexpr int crowdSizes[] = {1, 16, 64, 256};
constexpr int labelledCrowd = 64;

using InitEntry = void (*)(std::uint64_t);
using PushEntry = void (*)(std::uint64_t);
using CallEntry = std::uint64_t* (*)();
using WaitEntry = void (*)(DWORD);

// The host's entry points as the plug-in imports them (their decorated names).
struct HostEntries {
  InitEntry init;
  PushEntry push;
  CallEntry call;
  WaitEntry wait;
};

HostEntries host{};
const GameSimApi* game = nullptr;
LPVOID benchFiber = nullptr;
LPVOID scriptFiber = nullptr;
LPVOID floorFiber = nullptr;
const NativeReplayView* floorReplay = nullptr;  // what the floor fiber makes next

void yieldToBench() { SwitchToFiber(benchFiber); }

void WINAPI runScript(LPVOID entry) {
  reinterpret_cast<void (*)()>(entry)();
  for (;;) SwitchToFiber(benchFiber);  // a fiber must never return
}

// The floor as a script of its own: the recorded natives, then scriptWait as a pass ends.
void WINAPI runFloor(LPVOID) {
  for (;;) {
    const NativeReplayView& replay = *floorReplay;
    std::uint64_t* const slots = replay.slots;
    for (std::size_t i = 0; i < replay.callCount; ++i) {
      const NativeReplayView::Call& call = replay.calls[i];
      host.init(call.hash);
      const std::uint64_t* slot = slots + call.firstSlot;
      const std::uint64_t* const end = slot + call.slotCount;
      for (; slot != end; ++slot) host.push(*slot);
      const std::uint64_t* result = host.call();
      if (call.createsSet) {
        const std::uint64_t set = static_cast<std::uint32_t>(result[0]);
        for (std::size_t k = 0; k < replay.setSlotCount; ++k) slots[replay.setSlots[k]] = set;
      }
    }
    host.wait(0);
  }
}

void passFrame() { SwitchToFiber(scriptFiber); }
void floorFrame() { SwitchToFiber(floorFiber); }

double seconds() {
  static const double frequency = [] {
    LARGE_INTEGER value;
    QueryPerformanceFrequency(&value);
    return static_cast<double>(value.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return static_cast<double>(now.QuadPart) / frequency;
}

std::string besideExecutable(const char* name) {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string folder(path, length < MAX_PATH ? length : 0);
  const std::size_t slash = folder.find_last_of("\\/");
  folder.resize(slash == std::string::npos ? 0 : slash + 1);
  return folder + name;
}

// The settings the plug-in reads when its script starts: the crowd's leniency, labels on or off,
// and for the capture flavour how many passes it records (the normal plug-in ignores that).
bool writeSettings(bool labels, int capturePasses) {
  std::FILE* file = std::fopen(besideExecutable(settingsFile).c_str(), "wb");
  if (file == nullptr) return false;
  std::fprintf(file, "[Debug]\r\nDisplayAccuracy = %s\r\n[Settings]\r\nAngle = 3.000000\r\n",
               labels ? "true" : "false");
  if (capturePasses > 0) std::fprintf(file, "[Capture]\r\nPasses = %d\r\n", capturePasses);
  return std::fclose(file) == 0;
}

// A fresh script fiber, so that the plug-in reads its settings again on the next frame.
bool startScript(void (*entry)(), bool labels, int capturePasses = 0) {
  if (!writeSettings(labels, capturePasses)) return false;
  if (scriptFiber != nullptr) DeleteFiber(scriptFiber);
  scriptFiber = CreateFiber(0, runScript, reinterpret_cast<LPVOID>(entry));
  return scriptFiber != nullptr;
}

struct Case {
  int peds = 0;
  bool labels = false;
  const NativeReplayView* floor = nullptr;
  int frames = 1;  // frames per timed block: enough for the counter's resolution
  long iterations = 1;
  std::vector<double> pass, floorTimes, paired;  // one value per repetition
};

std::string nameOf(const Case& c) { return std::to_string(c.peds) + (c.labels ? " + labels" : ""); }

// A steady frame of the crowd: installed anew, then one pass and one floor frame untimed.
void enterCrowd(Case& c) {
  game->installCrowd(c.peds, yieldToBench);
  floorReplay = c.floor;
  passFrame();
  if (c.floor != nullptr) floorFrame();
}

template <typename Frame>
double timeBlock(Frame frame, int frames) {
  const double start = seconds();
  for (int i = 0; i < frames; ++i) frame();
  return seconds() - start;
}

// Records the natives of one pass and checks that the pass treated every ped.
bool prepare(Case& c, double minTime) {
  enterCrowd(c);
  game->recordNatives(true);
  passFrame();
  c.floor = game->recordNatives(false);
  int treated = 0;
  for (std::size_t i = 0; i < c.floor->callCount; ++i) {
    treated += c.floor->calls[i].hash == setAccuracyNative ? 1 : 0;
  }
  if (treated != c.peds) {
    std::fprintf(stderr, "dll-bench: %d of %d peds treated in crowd %s\n", treated, c.peds,
                 nameOf(c).c_str());
    return false;
  }
  enterCrowd(c);
  const double once = timeBlock(passFrame, 50) / 50;
  c.frames = std::max(1, static_cast<int>(std::ceil(20e-6 / once)));
  c.iterations = std::max(1L, static_cast<long>(minTime / once));
  return true;
}

double median(std::vector<double> values) {
  if (values.empty()) return -1.0;
  std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
  return values[values.size() / 2];
}

enum class Kind { pass, floor, paired };

void runRepetition(Case& c, Kind kind) {
  enterCrowd(c);
  if (kind == Kind::pass || kind == Kind::floor) {
    // Wall-clock blocks, not CPU time as natively (Wine's thread times are too coarse): the
    // median block leaves out those that another process broke into.
    std::vector<double> blocks;
    for (long done = 0; done < c.iterations; done += c.frames) {
      blocks.push_back(timeBlock(kind == Kind::pass ? passFrame : floorFrame, c.frames));
    }
    (kind == Kind::pass ? c.pass : c.floorTimes).push_back(median(blocks) * 1e9 / c.frames);
    return;
  }
  // A pass and its floor in alternation, the order swapped each time: the median of the pairs'
  // ratios shrugs off a burst of load from elsewhere.
  std::vector<double> ratios;
  bool passFirst = true;
  for (long done = 0; done < c.iterations; done += 2L * c.frames) {
    const double first = timeBlock(passFirst ? passFrame : floorFrame, c.frames);
    const double second = timeBlock(passFirst ? floorFrame : passFrame, c.frames);
    ratios.push_back(passFirst ? first / second : second / first);
    passFirst = !passFirst;
  }
  std::nth_element(ratios.begin(), ratios.begin() + ratios.size() / 2, ratios.end());
  c.paired.push_back(ratios[ratios.size() / 2]);
}

// Standard deviation over mean, as Google Benchmark's "cv" aggregate.
double variation(const std::vector<double>& values) {
  if (values.size() < 2) return 0.0;
  double sum = 0.0;
  for (const double v : values) sum += v;
  const double mean = sum / values.size();
  double squares = 0.0;
  for (const double v : values) squares += (v - mean) * (v - mean);
  return std::sqrt(squares / (values.size() - 1)) / mean;
}

void report(const std::vector<Case>& cases) {
  std::printf("\n%-26s %12s %7s\n", "Benchmark (DLL)", "median", "CV");
  for (const Case& c : cases) {
    const std::string n = nameOf(c);
    std::printf("%-26s %9.0f ns %6.1f%%\n", ("TickPass/" + n).c_str(), median(c.pass),
                100 * variation(c.pass));
    std::printf("%-26s %9.0f ns %6.1f%%\n", ("NativeFloor/" + n).c_str(), median(c.floorTimes),
                100 * variation(c.floorTimes));
    std::printf("%-26s %12.3f %6.1f%%\n", ("PassOverFloor/" + n).c_str(), median(c.paired),
                100 * variation(c.paired));
  }
  std::printf("\nThe DLL against the native-call floor, medians of the repetitions\n");
  std::printf("%-14s %10s %10s %7s %7s %9s %9s\n", "peds", "pass ns", "floor ns", "ratio", "paired",
              "ns/ped", "extra/ped");
  for (const Case& c : cases) {
    const double pass = median(c.pass);
    const double floor = median(c.floorTimes);
    std::printf("%-14s %10.0f %10.0f %7.3f %7.3f %9.1f %9.1f\n", nameOf(c).c_str(), pass, floor,
                pass / floor, median(c.paired), pass / c.peds, (pass - floor) / c.peds);
  }
  for (const Case& c : cases) {
    const std::string key = std::to_string(c.peds) + (c.labels ? "L" : "");
    std::printf("summary dll %s %.1f %.4f %.1f %.4f %.4f %.4f\n", key.c_str(), median(c.pass),
                variation(c.pass), median(c.floorTimes), variation(c.floorTimes), median(c.paired),
                variation(c.paired));
  }
}

template <typename Function>
bool entry(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (function == nullptr) std::fprintf(stderr, "dll-bench: the host lacks %s\n", name);
  return function != nullptr;
}

// One crowd's steady frames of one kind, until the process is ended: a tracer counts the
// instructions of whole frames between two of the host's scriptWait calls.
int runSteady(void (*script)(), bool pass, int peds) {
  Case c;
  c.peds = peds;
  game->installCrowd(1, yieldToBench);
  if (!startScript(script, false) || !prepare(c, 0.001)) return 1;
  enterCrowd(c);
  std::printf("steady %s frames of %d peds\n", pass ? "pass" : "floor", peds);
  std::fflush(stdout);
  for (;;) pass ? passFrame() : floorFrame();
}

// The first frames of a script in the crowd of 64, each timed on its own: the window the capture
// flavour records (asked for exactly these passes), so that its DLL and the normal one can be
// timed alike. The first frame, which starts the script (and opens the capture), and the last
// one, where the capture flavour ends its file, are given on their own and left out of the
// median and the mean; the longest frame after the first is given too, for the stalls a pass's
// writing may cause.
int runFromStart(void (*script)(), int frames) {
  constexpr char captureFile[] = "vok.quillmarrowfendcask.capture";
  std::remove(besideExecutable(captureFile).c_str());
  game->installCrowd(labelledCrowd, yieldToBench);
  if (!startScript(script, false, frames)) return 1;
  std::vector<double> times;
  for (int i = 0; i < frames; ++i) times.push_back(timeBlock(passFrame, 1) * 1e9);
  double sum = 0.0;
  for (std::size_t i = 1; i + 1 < times.size(); ++i) sum += times[i];
  const double mean = times.size() > 2 ? sum / static_cast<double>(times.size() - 2) : 0.0;
  const double first = times.front();
  const double last = times.back();
  const double longest = *std::max_element(times.begin() + 1, times.end());
  times.erase(times.begin());
  times.pop_back();
  long long fileBytes = 0;
  if (std::FILE* file = std::fopen(besideExecutable(captureFile).c_str(), "rb")) {
    std::fseek(file, 0, SEEK_END);
    fileBytes = std::ftell(file);
    std::fclose(file);
  }
  // "from-start FRAMES PEDS MEDIAN MEAN FIRST LAST FILE-BYTES LONGEST", times in ns per frame.
  std::printf("from-start %d %d %.1f %.1f %.1f %.1f %lld %.1f\n", frames, labelledCrowd,
              median(times), mean, first, last, fileBytes, longest);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  int repetitions = 15;
  double minTime = 0.05;
  const char* steady = nullptr;
  int steadyPeds = 64;
  int fromStart = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--repetitions=", 14) == 0) {
      repetitions = std::max(1, std::atoi(argv[i] + 14));
    } else if (std::strncmp(argv[i], "--min_time=", 11) == 0) {
      minTime = std::max(0.001, std::atof(argv[i] + 11));
    } else if (std::strcmp(argv[i], "--steady=pass") == 0 ||
               std::strcmp(argv[i], "--steady=floor") == 0) {
      steady = argv[i] + 9;
    } else if (std::strncmp(argv[i], "--peds=", 7) == 0) {
      steadyPeds = std::max(0, std::atoi(argv[i] + 7));
    } else if (std::strncmp(argv[i], "--from-start=", 13) == 0) {
      fromStart = std::max(3, std::atoi(argv[i] + 13));
    } else {
      std::fprintf(stderr,
                   "usage: dll-bench.exe [--repetitions=N] [--min_time=SECONDS]\n"
                   "       dll-bench.exe --steady=pass|floor [--peds=N]\n"
                   "       dll-bench.exe --from-start=N\n");
      return 2;
    }
  }

  HMODULE hostModule = LoadLibraryA(besideExecutable("ScriptHookRDR2.dll").c_str());
  if (hostModule == nullptr) {
    std::fprintf(stderr, "dll-bench: cannot load ScriptHookRDR2.dll beside the executable\n");
    return 1;
  }
  using ApiFunction = const GameSimApi* (*)();
  ApiFunction api = nullptr;
  if (!entry(hostModule, "gameSimApi", api) ||
      !entry(hostModule, "?nativeInit@@YAX_K@Z", host.init) ||
      !entry(hostModule, "?nativePush64@@YAX_K@Z", host.push) ||
      !entry(hostModule, "?nativeCall@@YAPEA_KXZ", host.call) ||
      !entry(hostModule, "?scriptWait@@YAXK@Z", host.wait)) {
    return 1;
  }
  game = api();
  if (LoadLibraryA(besideExecutable(pluginFile).c_str()) == nullptr) {
    std::fprintf(stderr, "dll-bench: cannot load %s beside the executable\n", pluginFile);
    return 1;
  }
  void (*script)() = game->registeredScript();
  benchFiber = ConvertThreadToFiber(nullptr);
  floorFiber = CreateFiber(0, runFloor, nullptr);
  if (script == nullptr || benchFiber == nullptr || floorFiber == nullptr) {
    std::fprintf(stderr, "dll-bench: the plug-in registered no script, or no fibers\n");
    return 1;
  }

  if (steady != nullptr) return runSteady(script, std::strcmp(steady, "pass") == 0, steadyPeds);
  if (fromStart > 0) return runFromStart(script, fromStart);

  std::vector<Case> cases;
  for (const int peds : crowdSizes) cases.emplace_back().peds = peds;
  cases.emplace_back().peds = labelledCrowd;
  cases.back().labels = true;
  std::mt19937 random(static_cast<unsigned>(seconds() * 1e6));
  // Labels are a setting, read when the script starts: the crowds without them first, then a
  // new script with them on.
  for (const bool labels : {false, true}) {
    game->installCrowd(1, yieldToBench);
    if (!startScript(script, labels)) {
      std::fprintf(stderr, "dll-bench: cannot write the settings file or start the script\n");
      return 1;
    }
    std::vector<std::pair<Case*, Kind>> runs;
    for (Case& c : cases) {
      if (c.labels != labels) continue;
      if (!prepare(c, minTime)) return 1;
      for (int r = 0; r < repetitions; ++r) {
        for (const Kind kind : {Kind::pass, Kind::floor, Kind::paired}) runs.emplace_back(&c, kind);
      }
    }
    std::shuffle(runs.begin(), runs.end(), random);
    for (const auto& [c, kind] : runs) runRepetition(*c, kind);
  }
  report(cases);
  return 0;
}
