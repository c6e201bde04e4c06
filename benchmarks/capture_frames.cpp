// capture-frames: the capture flavour built natively, timed frame by frame from its script's
// start in the crowd of 64: the 600 frames it records (the default count), each written to disk
// as it ends, then as many with the recorder idle, in the same binary. Each frame is timed in the
// thread's processor time, which leaves out the time the machine gave other programs (the wall
// time, which does not, is given too): a frame that writes more, or waits on the file, shows.
//
//   capture-frames FOLDER      (FOLDER stands for the game's: the settings and the capture go
//   there)
//
// prints "capture-frames FRAMES PEDS" and, in microseconds, the recording's median and longest
// frame after its first, the first, the last (which ends the file), the idle frames' median and
// longest, then the recording's median and longest wall time and the file's bytes.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "fake_host.h"
#include "game_api.h"
#include "scene.h"
#include "script/script.h"
#include "world.h"

namespace {

constexpr int frames = 600;
constexpr int peds = 64;

struct Times {
  double processor;  // microseconds
  double wall;
};

Times now() {
  timespec processor{};
  timespec wall{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &processor);
  clock_gettime(CLOCK_MONOTONIC, &wall);
  return {
      static_cast<double>(processor.tv_sec) * 1e6 + static_cast<double>(processor.tv_nsec) / 1e3,
      static_cast<double>(wall.tv_sec) * 1e6 + static_cast<double>(wall.tv_nsec) / 1e3};
}

std::vector<Times> ends;  // when each frame ended, after the one before the script's start

void frameEnded(std::uint64_t, bool) { ends.push_back(now()); }

double median(std::vector<double> values) {
  std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2),
                   values.end());
  return values[values.size() / 2];
}

// Frames first..last (counted from 1), processor or wall time each.
std::vector<double> span(int first, int last, bool wall) {
  std::vector<double> out;
  for (int i = first; i <= last; ++i) {
    const Times& end = ends[static_cast<std::size_t>(i)];
    const Times& start = ends[static_cast<std::size_t>(i - 1)];
    out.push_back(wall ? end.wall - start.wall : end.processor - start.processor);
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: capture-frames FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  std::filesystem::create_directories(folder);
  std::ofstream(folder / "vok.quillmarrowfendcask.ini", std::ios::binary)
      << "[Debug]\r\nDisplayAccuracy = false\r\n[Settings]\r\nAngle = 3.000000\r\n[Capture]\r\n"
      << "Passes = " << frames << "\r\n";
  sim::setExecutablePath((folder / "game-sim.exe").string());
  sim::installWorld(sim::crowdScene(peds));
  sim::world().recordFrames = false;
  sim::hostScriptRegister(nullptr, onScriptStart);
  sim::frameSchedule().afterFrame = frameEnded;
  ends.push_back(now());
  sim::runScriptFrames(2 * frames);
  if (ends.size() != 2 * frames + 1) {
    std::fprintf(stderr, "capture-frames: %zu frames ran, not %d\n", ends.size() - 1, 2 * frames);
    return 1;
  }
  const std::vector<double> recorded = span(2, frames - 1, false);
  const std::vector<double> idle = span(frames + 1, 2 * frames, false);
  const std::vector<double> recordedWall = span(2, frames - 1, true);
  std::error_code error;
  const auto bytes = std::filesystem::file_size(folder / "vok.quillmarrowfendcask.capture", error);
  std::printf("capture-frames %d %d %.1f %.1f %.1f %.1f %.1f %.1f %.1f %.1f %llu\n", frames, peds,
              median(recorded), *std::max_element(recorded.begin(), recorded.end()),
              span(1, 1, false)[0], span(frames, frames, false)[0], median(idle),
              *std::max_element(idle.begin(), idle.end()), median(recordedWall),
              *std::max_element(recordedWall.begin(), recordedWall.end()),
              static_cast<unsigned long long>(error ? 0 : bytes));
  return 0;
}
