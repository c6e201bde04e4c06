// The per-frame cost of the plug-in against the floor: the same native calls made without it.
//
// Every benchmark runs in the in-process simulated world with recording off. A pass is timed
// together with the scriptWait(0) that ends its frame, and so is its floor. After the runs the
// ratio pass / floor per crowd size is printed from the medians of the repetitions.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

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
  benchmark::RegisterBenchmark("AccuracyComputation", accuracyComputation);
  benchmark::RegisterBenchmark("AccuracyFloor", accuracyFloor);
  benchmark::RegisterBenchmark("TableRebuild", tableRebuild);
  benchmark::RegisterBenchmark("TableRebuildFloor", tableRebuildFloor);
}

// Passes every result on to the console and keeps the CPU time per iteration of each benchmark:
// the median aggregate when repetitions give one, else the median of what was reported.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      std::string name = run.run_name.function_name;
      if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
      if (run.run_type == Run::RT_Aggregate) {
        if (run.aggregate_name == "median") medians_[name] = run.GetAdjustedCPUTime();
      } else {
        samples_[name].push_back(run.GetAdjustedCPUTime());
      }
    }
  }

  // Nanoseconds per iteration, or a negative value when the benchmark did not run.
  double nanoseconds(const std::string& name) const {
    if (const auto median = medians_.find(name); median != medians_.end()) return median->second;
    const auto found = samples_.find(name);
    if (found == samples_.end() || found->second.empty()) return -1.0;
    std::vector<double> sorted = found->second;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t middle = sorted.size() / 2;
    return sorted.size() % 2 == 1 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2.0;
  }

 private:
  std::map<std::string, double> medians_;
  std::map<std::string, std::vector<double>> samples_;
};

void printRow(const char* label, double pass, double floor, int peds) {
  if (pass < 0.0 || floor < 0.0) {
    std::printf("%-14s  (not run)\n", label);
    return;
  }
  std::printf("%-14s %12.0f %12.0f %7.3f", label, pass, floor, pass / floor);
  if (peds > 0) std::printf(" %11.1f %11.1f", pass / peds, (pass - floor) / peds);
  std::printf("\n");
}

void printRatios(const RatioReporter& results) {
  std::printf("\nPlug-in against the native-call floor (CPU time, median of the repetitions)\n");
  std::printf("%-14s %12s %12s %7s %11s %11s\n", "peds", "pass ns", "floor ns", "ratio", "ns/ped",
              "extra/ped");
  for (const int peds : crowdSizes) {
    const std::string n = std::to_string(peds);
    printRow(n.c_str(), results.nanoseconds("TickPass/" + n),
             results.nanoseconds("NativeFloor/" + n), peds);
  }
  const std::string n = std::to_string(labelledCrowd);
  printRow((n + " + labels").c_str(), results.nanoseconds("TickPassLabels/" + n),
           results.nanoseconds("NativeFloorLabels/" + n), labelledCrowd);
  printRow("accuracy, 1", results.nanoseconds("AccuracyComputation"),
           results.nanoseconds("AccuracyFloor"), 0);
  printRow("table rebuild", results.nanoseconds("TableRebuild"),
           results.nanoseconds("TableRebuildFloor"), 0);
  std::printf("Target: ratio at most 1.15 at 64 peds, not growing with the crowd.\n");
}

}  // namespace

int main(int argc, char** argv) {
  registerBenchmarks();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  printRatios(reporter);
  return 0;
}
