// game-sim.exe: stands where the game's executable stands. It loads the stand-in host and then,
// as the ASI loader does, every *.asi in its folder; at the end it unloads the plug-ins again.
//
// Two faults of the player's machine can be staged around the plug-in: the executable's path as
// the plug-in's GetModuleFileNameA reports it, and the settings file held open by another
// program while the plug-in starts.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "files.h"
#include "game_sim_main.h"
#include "heap_watch.h"
#include "stop_line.h"

namespace {

std::vector<HMODULE> plugins;
PluginActivity* activity = nullptr;  // the host's, once it is loaded
std::uint32_t callLimit = 0;         // milliseconds a call into a plug-in may take; 0: any
// The game's folder, wide: only the wide functions find and load files past MAX_PATH.
std::wstring gameFolder;
bool pathIsStaged = false;
std::string stagedPath;
HANDLE heldSettingsFile = INVALID_HANDLE_VALUE;
bool heapCounted = false;
std::uint64_t framesPlanned = 0;

// Answers GetModuleFileNameA(NULL, ...) with the staged path, cut as Wine (and Windows XP) cut
// a path that does not fit: the first size characters, no NUL, the size as the result.
DWORD WINAPI stagedModuleFileName(HMODULE module, LPSTR buffer, DWORD size) {
  if (module != nullptr) return GetModuleFileNameA(module, buffer, size);
  const std::size_t length = stagedPath.size();
  if (length >= size) {
    std::memcpy(buffer, stagedPath.data(), size);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, stagedPath.c_str(), length + 1);
  return static_cast<DWORD>(length);
}

// Points the module's import of a function at a replacement, through the import address table
// that the loader filled in. False when the module does not import it by name.
bool redirectImport(HMODULE module, const char* library, const char* function, void* replacement) {
  ULONGLONG* slot = heapwatch::importSlot(module, library, function);
  DWORD protection = 0;
  if (slot == nullptr || !VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) {
    return false;
  }
  *slot = reinterpret_cast<ULONGLONG>(replacement);
  VirtualProtect(slot, sizeof *slot, protection, &protection);
  return true;
}

// game-sim works in UTF-8 throughout; only the plug-in's staged path is in the code page.
std::string inCodePage(const std::wstring& text, UINT codePage) {
  const int size = WideCharToMultiByte(codePage, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
  WideCharToMultiByte(codePage, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

std::string utf8(const std::wstring& text) { return inCodePage(text, CP_UTF8); }

// --- A run that ends early: a fault, a call into a plug-in that does not come back, Ctrl-C ---

// Straight to the handle, past the C run-time's locks, which the faulting code may hold; then
// at once, so that no plug-in code (a DLL entry, an exit handler) runs again.
[[noreturn]] void endRun(const StopLine& line, int status) {
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), line.text, static_cast<DWORD>(line.length), &written,
            nullptr);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
  ExitProcess(static_cast<UINT>(status));
}

HMODULE moduleAt(DWORD64 address) {
  HMODULE module = nullptr;
  const DWORD flags =
      GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
  return GetModuleHandleExA(flags, reinterpret_cast<LPCSTR>(address), &module) ? module : nullptr;
}

// "msvcrt.dll+0x1a2b3", or the address alone outside every module.
void addCodeAddress(StopLine& line, DWORD64 address) {
  const HMODULE module = moduleAt(address);
  char path[MAX_PATH] = {};
  if (module == nullptr || GetModuleFileNameA(module, path, sizeof path - 1) == 0) {
    line.hex(address);
    return;
  }
  const char* name = std::strrchr(path, '\\');
  line.add(name == nullptr ? path : name + 1)
      .add("+")
      .hex(address - reinterpret_cast<DWORD64>(module));
}

bool inPlugin(DWORD64 address) {
  const HMODULE module = moduleAt(address);
  return module != nullptr && std::find(plugins.begin(), plugins.end(), module) != plugins.end();
}

// The return address in a plug-in's code nearest the fault, unwinding the stack by the modules'
// own tables: a fault in the run-time (strlen) or in the game is then named with the plug-in's
// call that led there. Zero when none is found.
DWORD64 pluginCaller(CONTEXT& context) {
  for (int depth = 0; depth < 64 && context.Rip != 0; ++depth) {
    DWORD64 base = 0;
    if (PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, nullptr)) {
      void* handlerData = nullptr;
      DWORD64 frame = 0;
      RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData,
                       &frame, nullptr);
    } else {  // a leaf function: its return address is on top of the stack
      context.Rip = *reinterpret_cast<const DWORD64*>(context.Rsp);
      context.Rsp += 8;
    }
    if (inPlugin(context.Rip)) return context.Rip;
  }
  return 0;
}

void addException(StopLine& line, const EXCEPTION_RECORD& record) {
  switch (record.ExceptionCode) {
    case EXCEPTION_ACCESS_VIOLATION: {
      const ULONG_PTR how = record.NumberParameters >= 2 ? record.ExceptionInformation[0] : 0;
      line.add("access violation ")
          .add(how == 1   ? "writing"
               : how == 8 ? "executing"
                          : "reading")
          .add(" address ")
          .hex(record.NumberParameters >= 2 ? record.ExceptionInformation[1] : 0);
      return;
    }
    case EXCEPTION_STACK_OVERFLOW: line.add("stack overflow"); return;
    case EXCEPTION_ILLEGAL_INSTRUCTION: line.add("illegal instruction"); return;
    case EXCEPTION_PRIV_INSTRUCTION: line.add("privileged instruction"); return;
    case EXCEPTION_INT_DIVIDE_BY_ZERO: line.add("integer division by zero"); return;
    case 0x20474343:  // GCC's C++ exception, then MSVC's
    case 0xE06D7363: line.add("an uncaught C++ exception"); return;
    default: line.add("exception ").hex(record.ExceptionCode);
  }
}

[[noreturn]] void endWithFault(const EXCEPTION_POINTERS& fault) {
  // Kept off the stack, which a stack overflow leaves nearly used up. Should the stack walk
  // fault in turn (a stack beyond repair), the line without the caller is told.
  static StopLine line;
  static StopLine withoutCaller;
  static CONTEXT unwound;
  static LONG telling = 0;
  if (InterlockedExchange(&telling, 1) != 0) endRun(withoutCaller, exitCrashed);
  line.crashed(*activity);
  addException(line, *fault.ExceptionRecord);
  const auto address = reinterpret_cast<DWORD64>(fault.ExceptionRecord->ExceptionAddress);
  line.add(" at ");
  addCodeAddress(line, address);
  withoutCaller = line;
  withoutCaller.where(*activity, true).add("\n");
  unwound = *fault.ContextRecord;
  const DWORD64 caller = inPlugin(address) ? 0 : pluginCaller(unwound);
  if (caller == 0) endRun(withoutCaller, exitCrashed);
  line.add(", called from ");
  addCodeAddress(line, caller);
  endRun(line.where(*activity, true).add("\n"), exitCrashed);
}

// First, before any handler on the stack: the loader would swallow a fault in a DLL entry, and
// a fault in a script's fiber finds no handler to end the run. Only the system's own errors
// (severity error, not an application's code such as a C++ exception, which may be caught) and
// only while a plug-in's code runs.
LONG CALLBACK onException(EXCEPTION_POINTERS* fault) {
  const DWORD code = fault->ExceptionRecord->ExceptionCode;
  if ((code & 0xE0000000) != 0xC0000000 || activity->phase.load() == phaseGame) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  endWithFault(*fault);
}

// Whatever no one caught on a thread of the game's, the game's own code included.
LONG WINAPI onUnhandled(EXCEPTION_POINTERS* fault) { endWithFault(*fault); }

// The run-time's abort(), where std::terminate ends too.
void onAbort(int) {
  StopLine line;
  line.crashed(*activity).add("abort() called (an uncaught C++ exception ends there too)");
  endRun(line.where(*activity, true).add("\n"), exitCrashed);
}

// The performance counter rather than GetTickCount64, whose 16 ms steps are more than a tick.
std::uint64_t nowMilliseconds() {
  LARGE_INTEGER count{};
  LARGE_INTEGER frequency{};
  QueryPerformanceCounter(&count);
  QueryPerformanceFrequency(&frequency);
  const std::uint64_t perMillisecond =
      std::max<std::uint64_t>(static_cast<std::uint64_t>(frequency.QuadPart) / 1000, 1);
  return static_cast<std::uint64_t>(count.QuadPart) / perMillisecond;
}

DWORD WINAPI watchCalls(LPVOID) {
  CallWatch watch(callLimit);
  const auto tick = static_cast<DWORD>(watch.tickMilliseconds());
  for (;;) {
    Sleep(tick);
    if (watch.overdue(*activity, nowMilliseconds())) {
      endRun(didNotYield(*activity, callLimit), exitDidNotYield);
    }
  }
}

bool guard(const GameSimApi& api, std::uint32_t limitMilliseconds) {
  activity = api.activity();
  callLimit = limitMilliseconds;
  AddVectoredExceptionHandler(1, onException);
  SetUnhandledExceptionFilter(onUnhandled);
  std::signal(SIGABRT, onAbort);
  if (callLimit == 0) return true;
  const HANDLE watchdog = CreateThread(nullptr, 0, watchCalls, nullptr, 0, nullptr);
  if (watchdog == nullptr) return false;
  CloseHandle(watchdog);
  return true;
}

// Ctrl-C reaches a program under Wine as a console event, on a thread of its own.
BOOL WINAPI onInterrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  endRun(StopLine{}.add("game-sim: interrupted\n"), exitInterrupted);
}

// A DLL's entry is the plug-in's code, run by the loader.
HMODULE loadPlugin(const std::wstring& path) {
  activity->enter(phaseAttach);
  const HMODULE module = LoadLibraryW(path.c_str());
  activity->leave();
  return module;
}

void unloadPlugin(HMODULE module) {
  activity->enter(phaseDetach);
  FreeLibrary(module);
  activity->leave();
}

int loadPlugins(const GameSimApi& api, const std::string&) {
  activity = api.activity();
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((gameFolder + L"*.asi").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  if (heapCounted) heapwatch::begin();
  do {
    const std::string path = utf8(gameFolder + found.cFileName);
    HMODULE module = loadPlugin(gameFolder + found.cFileName);
    if (module == nullptr) {
      std::fprintf(stderr, "game-sim: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
      continue;
    }
    if (heapCounted && !heapwatch::loaded(module)) {
      std::fprintf(stderr, "game-sim: cannot count the heap of %s\n", path.c_str());
      unloadPlugin(module);
      continue;
    }
    // The plug-in asks for the path only once its script starts, after this.
    if (pathIsStaged && !redirectImport(module, "KERNEL32.dll", "GetModuleFileNameA",
                                        reinterpret_cast<void*>(stagedModuleFileName))) {
      std::fprintf(stderr, "game-sim: %s does not import GetModuleFileNameA\n", path.c_str());
      unloadPlugin(module);
      continue;
    }
    plugins.push_back(module);
    api.moduleLoaded(utf8(found.cFileName).c_str(), reinterpret_cast<std::uintptr_t>(module));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  if (heapCounted) {
    heapwatch::end();
    heapwatch::afterLoad(framesPlanned);
  }
  return static_cast<int>(plugins.size());
}

void unloadPlugins() {
  if (heapCounted) heapwatch::afterFrames();
  while (!plugins.empty()) {
    unloadPlugin(plugins.back());
    plugins.pop_back();
  }
  if (heapCounted) heapwatch::afterUnload();
}

bool countHeap(const GameSimApi& api, std::uint64_t frames) {
  heapCounted = true;
  framesPlanned = frames;
  api.setFrameObserver(heapwatch::afterFrame);
  return true;
}

std::string heapReport(bool json) {
  if (!heapCounted) return "";
  return json ? heapwatch::json() : heapwatch::report();
}

bool readMemory(ReloadRecord& record) {
  record.heapCounted = heapCounted;
  if (heapCounted) heapwatch::liveNow(record.liveBlocks, record.liveBytes);
  return heapwatch::processMemory(record.workingSet, record.privateBytes);
}

// Given in UTF-8; the plug-in's GetModuleFileNameA answers in the code page, as Windows would.
bool stageModulePath(const char* path) {
  pathIsStaged = true;
  stagedPath = inCodePage(sim::widePath(path), CP_ACP);
  return true;
}

// Opened for reading as another program would, sharing only what the mode names: "write" lets
// others open it for writing (never for reading), "none" lets nobody open it.
bool holdSettingsFile(const std::string& path, const char* sharing) {
  DWORD share = 0;
  if (std::strcmp(sharing, "write") == 0) {
    share = FILE_SHARE_WRITE;
  } else if (std::strcmp(sharing, "none") != 0) {
    return false;
  }
  heldSettingsFile = CreateFileW(sim::widePath(path).c_str(), GENERIC_READ, share, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return heldSettingsFile != INVALID_HANDLE_VALUE;
}

void releaseSettingsFile() {
  if (heldSettingsFile != INVALID_HANDLE_VALUE) CloseHandle(heldSettingsFile);
  heldSettingsFile = INVALID_HANDLE_VALUE;
}

// The game's folder is game-sim.exe's own, which under Wine the person named by its Unix path
// (wine64 ~/my-game/game-sim.exe): the files game-sim makes there are shown by theirs too, and
// on Windows by their Windows paths.
std::string ownPathShown(const std::string& path) {
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unixName == nullptr ? nullptr : unixName(sim::widePath(path).c_str());
  if (name == nullptr) return path;
  std::string out = name;
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

}  // namespace

// The command line in Unicode, handed on in UTF-8: paths in any script reach the run whole.
int wmain(int argc, wchar_t** wideArgv) {
  SetConsoleCtrlHandler(onInterrupt, TRUE);
  // Unix line ends, as the simulated game writes its text: a scene printed under Wine and saved
  // is the very file the built-in one is, and every message ends as the native build's does.
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  std::vector<std::string> arguments(static_cast<std::size_t>(argc));
  std::transform(wideArgv, wideArgv + argc, arguments.begin(), utf8);
  // The longest path Windows has: the game may stand in a folder deeper than MAX_PATH.
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  gameFolder.assign(path.data(), length);
  gameFolder.erase(gameFolder.find_last_of(L'\\') + 1);
  const std::string directory = utf8(gameFolder);

  HMODULE host = LoadLibraryW((gameFolder + L"ScriptHookRDR2.dll").c_str());
  using ApiGetter = const GameSimApi* (*)();
  // Through a plain function pointer type: FARPROC and the getter differ only in the result.
  const auto getApi = host == nullptr ? nullptr
                                      : reinterpret_cast<ApiGetter>(reinterpret_cast<void (*)()>(
                                            GetProcAddress(host, "gameSimApi")));
  if (getApi == nullptr) {
    std::fprintf(stderr, "game-sim: ScriptHookRDR2.dll missing in %s\n",
                 ownPathShown(directory).c_str());
    return exitTrouble;
  }
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return gameSimMain(argc, argv.data(), *getApi(), directory,
                     {loadPlugins, unloadPlugins, stageModulePath, holdSettingsFile,
                      releaseSettingsFile, ownPathShown, countHeap, heapReport, readMemory, guard});
}
