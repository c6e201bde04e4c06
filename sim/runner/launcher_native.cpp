// sim-native: the same run as game-sim.exe, with the plug-in's code linked in and the world in
// this process; what the DLL under Wine does must come out the same.
#include <dlfcn.h>
#include <execinfo.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "capture/capture_hooks.h"
#include "fake_host.h"
#include "game_sim_main.h"
#include "script/keyboard.h"
#include "script/script.h"
#include "stop_line.h"

namespace {

// --- A run that ends early: a fault, a call into the plug-in that does not come back, Ctrl-C ---
// In-process the plug-in's code shares this program with the game's; what tells them apart is
// which call into the plug-in the game was making.

const PluginActivity* activity = nullptr;
std::uint32_t callLimit = 0;  // milliseconds; 0: any

[[noreturn]] void endRun(const StopLine& line, int status) {
  for (std::size_t done = 0; done < line.length;) {
    const ssize_t written = write(STDERR_FILENO, line.text + done, line.length - done);
    if (written <= 0) break;
    done += static_cast<std::size_t>(written);
  }
  _exit(status);
}

// "libc.so.6+0x18b6e5 (strlen)": the module and, where it exports one, the function.
void addCodeAddress(StopLine& line, std::uintptr_t address, Dl_info& found) {
  if (dladdr(reinterpret_cast<void*>(address), &found) == 0 || found.dli_fname == nullptr) {
    found.dli_fbase = nullptr;
    line.hex(address);
    return;
  }
  const char* name = std::strrchr(found.dli_fname, '/');
  line.add(name == nullptr ? found.dli_fname : name + 1)
      .add("+")
      .hex(address - reinterpret_cast<std::uintptr_t>(found.dli_fbase));
  if (found.dli_sname != nullptr) line.add(" (").add(found.dli_sname).add(")");
}

std::uintptr_t faultAddress(void* context) {
  const auto* state = static_cast<const ucontext_t*>(context);
#if defined(__x86_64__)
  return static_cast<std::uintptr_t>(state->uc_mcontext.gregs[REG_RIP]);
#elif defined(__aarch64__)
  return static_cast<std::uintptr_t>(state->uc_mcontext.pc);
#else
  static_cast<void>(state);
  return 0;
#endif
}

// A fault in a library (strlen) is named with the call from this program that led there: the
// first return address past the fault's that lies in this program. The unwinder was loaded by
// guard(), so that nothing is loaded here.
void addCaller(StopLine& line, std::uintptr_t fault, const void* faultModule) {
  Dl_info self{};
  if (dladdr(reinterpret_cast<void*>(&addCaller), &self) == 0 || self.dli_fbase == faultModule) {
    return;
  }
  void* frames[64];
  const int count = backtrace(frames, 64);
  int past = 0;
  while (past < count && reinterpret_cast<std::uintptr_t>(frames[past]) != fault) ++past;
  for (int i = past + 1; i < count; ++i) {
    Dl_info found{};
    if (dladdr(frames[i], &found) != 0 && found.dli_fbase == self.dli_fbase) {
      line.add(", called from ");
      addCodeAddress(line, reinterpret_cast<std::uintptr_t>(frames[i]), found);
      return;
    }
  }
}

// Runs again on a fault of its own (SA_NODEFER): should the stack walk fault in turn (a stack
// beyond repair), the line without the caller is told.
void onFault(int signal, siginfo_t* info, void* context) {
  static StopLine line;
  static StopLine withoutCaller;
  static volatile std::sig_atomic_t telling = 0;
  if (telling != 0) endRun(withoutCaller, exitCrashed);
  telling = 1;
  line.crashed(*activity);
  if (signal == SIGABRT) {
    line.add("abort() called (an uncaught C++ exception ends there too)");
    endRun(line.where(*activity, true).add("\n"), exitCrashed);
  }
  line.add(signal == SIGSEGV  ? "segmentation fault (SIGSEGV) on address "
           : signal == SIGBUS ? "bus error (SIGBUS) on address "
           : signal == SIGFPE ? "arithmetic fault (SIGFPE) at address "
                              : "illegal instruction (SIGILL) at address ")
      .hex(reinterpret_cast<std::uintptr_t>(info->si_addr));
  const std::uintptr_t fault = faultAddress(context);
  Dl_info found{};
  if (fault != 0) {
    line.add(" at ");
    addCodeAddress(line, fault, found);
  }
  withoutCaller = line;
  withoutCaller.where(*activity, true).add("\n");
  if (fault != 0) addCaller(line, fault, found.dli_fbase);
  endRun(line.where(*activity, true).add("\n"), exitCrashed);
}

void onInterrupt(int) { endRun(StopLine{}.add("game-sim: interrupted\n"), exitInterrupted); }

std::uint64_t nowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::uint64_t>(now.tv_sec) * 1000 +
         static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

void* watchCalls(void*) {
  CallWatch watch(callLimit);
  const timespec pause{0, static_cast<long>(watch.tickMilliseconds()) * 1000000};
  for (;;) {
    nanosleep(&pause, nullptr);
    if (watch.overdue(*activity, nowMilliseconds())) {
      endRun(didNotYield(*activity, callLimit), exitDidNotYield);
    }
  }
}

bool guard(const GameSimApi& api, std::uint32_t limitMilliseconds) {
  activity = api.activity();
  callLimit = limitMilliseconds;
  void* warmUp[1];
  backtrace(warmUp, 1);  // loads the unwinder now, never in a fault
  // A stack of its own for the handler: a stack overflow leaves none.
  static char handlerStack[1 << 16];
  stack_t alternate{};
  alternate.ss_sp = handlerStack;
  alternate.ss_size = sizeof handlerStack;
  sigaltstack(&alternate, nullptr);
  struct sigaction fault {};
  fault.sa_sigaction = onFault;
  fault.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_NODEFER;
  for (const int signal : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) {
    sigaction(signal, &fault, nullptr);
  }
  if (callLimit == 0) return true;
  pthread_t watchdog{};
  if (pthread_create(&watchdog, nullptr, watchCalls, nullptr) != 0) return false;
  pthread_detach(watchdog);
  return true;
}

// The module handle the plug-in would have had; only compared, never used.
HMODULE const pluginModule = reinterpret_cast<HMODULE>(std::uintptr_t{0x7FF600000000});

// What the plug-in's attach and detach notifications do, in-process.
int loadPlugin(const GameSimApi& api, const std::string&) {
  sim::hostScriptRegister(pluginModule, onScriptStart);
  sim::hostKeyboardHandlerRegister(onKeyboardEvent);
  api.moduleLoaded("vok.quillmarrowfendcask (in-process)",
                   reinterpret_cast<std::uintptr_t>(pluginModule));
  return 1;
}

void unloadPlugin() {
  sim::hostScriptUnregister(pluginModule);
  sim::hostKeyboardHandlerUnregister(onKeyboardEvent);
  captureUnload(false);  // as the DLL's detach at a FreeLibrary
}

bool stageModulePath(const char* path) {
  sim::setExecutablePath(path);
  return true;
}

// Share modes are Windows' own: in-process there is nobody to hold the file against.
bool holdSettingsFile(const std::string&, const char*) { return false; }
void releaseSettingsFile() {}

// The game's folder is --game-dir as given, so its files are named from it as they stand.
std::string ownPathShown(const std::string& path) { return path; }

// The plug-in's heap is counted in the DLL under Wine; in-process it shares the runner's.
bool countHeap(const GameSimApi&, std::uint64_t) { return false; }
std::string heapReport(bool) { return ""; }

// In-process the plug-in's code and globals stay loaded: there is nothing to reload.
bool readMemory(ReloadRecord&) { return false; }

// Printed after game-sim's own options by --help; ./run --help, whose game is game-sim.exe,
// leaves this part out.
constexpr char ownOptionsHelp[] =
    "sim-native alone (the plug-in's code built in, no Wine):\n"
    "  --game-dir DIR              the folder standing for the game's executable's: the settings\n"
    "                              file and the start-up log are there (default: the current "
    "folder)\n";

}  // namespace

int main(int argc, char** argv) {
  struct sigaction interrupt {};
  interrupt.sa_handler = onInterrupt;
  sigaction(SIGINT, &interrupt, nullptr);
  // --game-dir DIR stands for the folder of the game's executable; the rest as game-sim.exe.
  std::string directory = "./";
  std::vector<char*> rest{argv[0]};
  bool help = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--game-dir") == 0) {
      if (i + 1 == argc) {
        std::fputs("game-sim: --game-dir needs a value: --game-dir DIR\n", stderr);
        return exitTrouble;
      }
      directory = std::string(argv[++i]) + "/";
    } else {
      help = help || std::strcmp(argv[i], "--help") == 0;
      rest.push_back(argv[i]);
    }
  }
  sim::setExecutablePath(directory + "game-sim.exe");
  const int status =
      gameSimMain(static_cast<int>(rest.size()), rest.data(), *gameSimApi(), directory,
                  {loadPlugin, unloadPlugin, stageModulePath, holdSettingsFile, releaseSettingsFile,
                   ownPathShown, countHeap, heapReport, readMemory, guard});
  if (help && status == 0) std::fputs(ownOptionsHelp, stdout);
  return status;
}
