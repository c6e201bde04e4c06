// The per-frame cost of the plug-in against the floor: the same native calls made without it.
//
// Every benchmark runs in the in-process simulated world with recording off. A pass is timed
// together with the scriptWait(0) that ends its frame, and so is its floor. After the runs the
// ratio pass / floor per crowd size is printed from the medians of the repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

#include "accuracy/accuracy.h"
#include "accuracy/weapon_bones.h"
#include "bench_support.h"
#include "host/host.h"
#include "script/script.h"
#include "world.h"

namespace {

constexpr int crowdSizes[] = {1, 16, 64, 256};
constexpr int labelledCrowd = 64;
constexpr int accuracyCrowd = 64;

// Enters the crowd and checks that it is what the benchmark claims: every ped treated, and the
// floor, when one is asked for, treating the world exactly as the pass did.
bool enterCheckedCrowd(benchmark::State& state, int peds, bool labels, NativeReplay* floor) {
  enterCrowd(peds, labels);
  if (pedsTreatedByAPass() != peds) {
    state.SkipWithError("not every ped of the crowd is treated");
    return false;
  }
  if (floor != nullptr) {
    *floor = recordNatives(runTickPass);
    scriptWait(0);
    const std::string difference = replayDiffersFromPass(*floor);
    if (!difference.empty()) {
      state.SkipWithError(("the floor differs from the pass: " + difference).c_str());
      return false;
    }
  }
  return true;
}

template <bool labels>
void tickPass(benchmark::State& state) {
  const int peds = static_cast<int>(state.range(0));
  if (!enterCheckedCrowd(state, peds, labels, nullptr)) return;
  for (auto _ : state) {
    runTickPass();
    scriptWait(0);
  }
  state.counters["peds"] = peds;
}

template <bool labels>
void nativeFloor(benchmark::State& state) {
  const int peds = static_cast<int>(state.range(0));
  NativeReplay floor;
  if (!enterCheckedCrowd(state, peds, labels, &floor)) return;
  for (auto _ : state) {
    replayNatives(floor);
    scriptWait(0);
  }
  state.counters["peds"] = peds;
  state.counters["natives"] = static_cast<double>(floor.calls.size());
}

double median(std::vector<double>& values) {
  if (values.empty()) return 0.0;
  const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
  std::nth_element(values.begin(), middle, values.end());
  return *middle;
}

// A pass and its floor in alternation, each timed on its own, the order swapped every time: a
// burst of load from elsewhere on the machine then spoils one pair rather than one side, and
// the median of the pairs' ratios shrugs it off.
template <bool labels>
void passOverFloor(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const int peds = static_cast<int>(state.range(0));
  NativeReplay floor;
  if (!enterCheckedCrowd(state, peds, labels, &floor)) return;
  std::vector<double> ratios;
  ratios.reserve(static_cast<std::size_t>(state.max_iterations));
  bool passFirst = true;
  for (auto _ : state) {
    const Clock::time_point start = Clock::now();
    if (passFirst) {
      runTickPass();
    } else {
      replayNatives(floor);
    }
    scriptWait(0);
    const Clock::time_point middle = Clock::now();
    if (passFirst) {
      replayNatives(floor);
    } else {
      runTickPass();
    }
    scriptWait(0);
    const Clock::time_point end = Clock::now();
    const double first = std::chrono::duration<double>(middle - start).count();
    const double second = std::chrono::duration<double>(end - middle).count();
    ratios.push_back(passFirst ? first / second : second / first);
    passFirst = !passFirst;
  }
  state.counters["ratio"] = median(ratios);
}

// One ped per iteration, going round the crowd.
void accuracyComputation(benchmark::State& state) {
  enterCrowd(accuracyCrowd, false);
  int ped = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(computeShooterAccuracy(sim::actorHandle(1 + ped)));
    ped = (ped + 1) % accuracyCrowd;
  }
}

void accuracyFloor(benchmark::State& state) {
  enterCrowd(accuracyCrowd, false);
  std::vector<NativeReplay> floors;
  for (int ped = 0; ped < accuracyCrowd; ++ped) {
    floors.push_back(recordNatives([ped] { computeShooterAccuracy(sim::actorHandle(1 + ped)); }));
  }
  int ped = 0;
  for (auto _ : state) {
    replayNatives(floors[ped]);
    ped = (ped + 1) % accuracyCrowd;
  }
}

void tableRebuild(benchmark::State& state) {
  enterCrowd(1, false);
  for (auto _ : state) buildWeaponBoneTable();
  state.counters["entries"] = static_cast<double>(weaponBoneTable.size());
}

void tableRebuildFloor(benchmark::State& state) {
  enterCrowd(1, false);
  NativeReplay floor = recordNatives(buildWeaponBoneTable);
  for (auto _ : state) replayNatives(floor);
}

void registerBenchmarks() {
  auto* pass = benchmark::RegisterBenchmark("TickPass", tickPass<false>);
  auto* floor = benchmark::RegisterBenchmark("NativeFloor", nativeFloor<false>);
  for (const int peds : crowdSizes) {
    pass->Arg(peds);
    floor->Arg(peds);
  }
  benchmark::RegisterBenchmark("TickPassLabels", tickPass<true>)->Arg(labelledCrowd);
  benchmark::RegisterBenchmark("NativeFloorLabels", nativeFloor<true>)->Arg(labelledCrowd);
  auto* paired = benchmark::RegisterBenchmark("PassOverFloor", passOverFloor<false>);
  for (const int peds : crowdSizes) paired->Arg(peds);
  benchmark::RegisterBenchmark("PassOverFloorLabels", passOverFloor<true>)->Arg(labelledCrowd);
  benchmark::RegisterBenchmark("AccuracyComputation", accuracyComputation);
  benchmark::RegisterBenchmark("AccuracyFloor", accuracyFloor);
  benchmark::RegisterBenchmark("TableRebuild", tableRebuild);
  benchmark::RegisterBenchmark("TableRebuildFloor", tableRebuildFloor);
}

// Passes every result on to the console and keeps the CPU time per iteration of each benchmark:
// the median aggregate when repetitions give one, else the median of what was reported.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      const auto ratio = run.counters.find("ratio");
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "cv") {
          // A fraction, kept as such in the accumulated time rather than per iteration.
          variations_[name] = run.cpu_accumulated_time;
          if (ratio != run.counters.end()) variations_[name + ":ratio"] = ratio->second.value;
        }
        if (run.aggregate_name != "median") continue;
        medians_[name] = run.GetAdjustedCPUTime();
        if (ratio != run.counters.end()) medians_[name + ":ratio"] = ratio->second.value;
      } else {
        samples_[name].push_back(run.GetAdjustedCPUTime());
        if (ratio != run.counters.end()) samples_[name + ":ratio"].push_back(ratio->second.value);
      }
    }
  }

  // Nanoseconds per iteration (or, for "name:ratio", the ratio counter) as the median over the
  // repetitions; a negative value when the benchmark did not run.
  double value(const std::string& name) const {
    if (const auto found = medians_.find(name); found != medians_.end()) return found->second;
    const auto found = samples_.find(name);
    if (found == samples_.end() || found->second.empty()) return -1.0;
    std::vector<double> values = found->second;
    return median(values);
  }

  // The coefficient of variation over the repetitions, or a negative value without one.
  double variation(const std::string& name) const {
    const auto found = variations_.find(name);
    return found == variations_.end() ? -1.0 : found->second;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> samples_;
  std::map<std::string, double> variations_;
};

void printRow(const char* label, double pass, double floor, double paired, int peds) {
  if (pass < 0.0 || floor < 0.0) {
    std::printf("%-14s  (not run)\n", label);
    return;
  }
  std::printf("%-14s %10.0f %10.0f %7.3f", label, pass, floor, pass / floor);
  if (paired > 0.0) {
    std::printf(" %7.3f", paired);
  } else {
    std::printf(" %7s", "");
  }
  if (peds > 0) std::printf(" %9.1f %9.1f", pass / peds, (pass - floor) / peds);
  std::printf("\n");
}

void printRatios(const RatioReporter& results) {
  std::printf("\nThe plug-in against the native-call floor, medians of the repetitions\n");
  std::printf("%-14s %10s %10s %7s %7s %9s %9s\n", "peds", "pass ns", "floor ns", "ratio", "paired",
              "ns/ped", "extra/ped");
  for (const int peds : crowdSizes) {
    const std::string n = std::to_string(peds);
    printRow(n.c_str(), results.value("TickPass/" + n), results.value("NativeFloor/" + n),
             results.value("PassOverFloor/" + n + ":ratio"), peds);
  }
  const std::string n = std::to_string(labelledCrowd);
  printRow((n + " + labels").c_str(), results.value("TickPassLabels/" + n),
           results.value("NativeFloorLabels/" + n),
           results.value("PassOverFloorLabels/" + n + ":ratio"), labelledCrowd);
  printRow("accuracy, 1", results.value("AccuracyComputation"), results.value("AccuracyFloor"),
           -1.0, 0);
  printRow("table rebuild", results.value("TableRebuild"), results.value("TableRebuildFloor"), -1.0,
           0);
  std::printf(
      "ratio: TickPass / NativeFloor (CPU time). paired: median of pass / floor timed in\n"
      "alternation, the steadier figure on a busy machine.\n");
}

// The crowd rows once more for ./bench's summary of both builds: per crowd the medians and
// coefficients of variation of pass, floor and paired ratio.
void printSummaryLines(const RatioReporter& results) {
  const auto line = [&results](const std::string& key, const std::string& pass,
                               const std::string& floor, const std::string& paired) {
    std::printf("summary native %s %.1f %.4f %.1f %.4f %.4f %.4f\n", key.c_str(),
                results.value(pass), results.variation(pass), results.value(floor),
                results.variation(floor), results.value(paired + ":ratio"),
                results.variation(paired + ":ratio"));
  };
  for (const int peds : crowdSizes) {
    const std::string n = std::to_string(peds);
    line(n, "TickPass/" + n, "NativeFloor/" + n, "PassOverFloor/" + n);
  }
  const std::string n = std::to_string(labelledCrowd);
  line(n + "L", "TickPassLabels/" + n, "NativeFloorLabels/" + n, "PassOverFloorLabels/" + n);
}

// A reporter of one's own prints in colour unless told otherwise, whatever --benchmark_color
// says: colour only on a terminal, and never when that option turns it off.
bool colourWanted(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    if (option == "--benchmark_color=false" || option == "--benchmark_color=no" ||
        option == "--benchmark_color=0") {
      return false;
    }
  }
  return isatty(STDOUT_FILENO) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  registerBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter(colourWanted(argc, argv) ? benchmark::ConsoleReporter::OO_ColorTabular
                                                  : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printRatios(reporter);
  printSummaryLines(reporter);
  return 0;
}
