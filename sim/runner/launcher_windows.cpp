// game-sim.exe: stands where the game's executable stands. It loads the stand-in host and then,
// as the ASI loader does, every *.asi in its folder; at the end it unloads the plug-ins again.
//
// Two faults of the player's machine can be staged around the plug-in: the executable's path as
// the plug-in's GetModuleFileNameA reports it, and the settings file held open by another
// program while the plug-in starts.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "game_sim_main.h"
#include "heap_watch.h"

namespace {

std::vector<HMODULE> plugins;
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

std::string narrow(const std::wstring& text) {
  const int size = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(size > 0 ? static_cast<std::size_t>(size) : 1, '\0');
  WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), size, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

int loadPlugins(const GameSimApi& api, const std::string&) {
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((gameFolder + L"*.asi").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return 0;
  if (heapCounted) heapwatch::begin();
  do {
    const std::string path = narrow(gameFolder + found.cFileName);
    HMODULE module = LoadLibraryW((gameFolder + found.cFileName).c_str());
    if (module == nullptr) {
      std::fprintf(stderr, "game-sim: cannot load %s (error %lu)\n", path.c_str(), GetLastError());
      continue;
    }
    if (heapCounted && !heapwatch::loaded(module)) {
      std::fprintf(stderr, "game-sim: cannot count the heap of %s\n", path.c_str());
      FreeLibrary(module);
      continue;
    }
    // The plug-in asks for the path only once its script starts, after this.
    if (pathIsStaged && !redirectImport(module, "KERNEL32.dll", "GetModuleFileNameA",
                                        reinterpret_cast<void*>(stagedModuleFileName))) {
      std::fprintf(stderr, "game-sim: %s does not import GetModuleFileNameA\n", path.c_str());
      FreeLibrary(module);
      continue;
    }
    plugins.push_back(module);
    api.moduleLoaded(narrow(found.cFileName).c_str(), reinterpret_cast<std::uintptr_t>(module));
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
    FreeLibrary(plugins.back());
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

bool stageModulePath(const char* path) {
  pathIsStaged = true;
  stagedPath = path;
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
  heldSettingsFile = CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
  return heldSettingsFile != INVALID_HANDLE_VALUE;
}

void releaseSettingsFile() {
  if (heldSettingsFile != INVALID_HANDLE_VALUE) CloseHandle(heldSettingsFile);
  heldSettingsFile = INVALID_HANDLE_VALUE;
}

// In full; under Wine as the Unix path, which is how the person at the terminal knows it.
std::string fullPath(const char* path) {
  std::vector<char> full(32768);
  const DWORD length =
      GetFullPathNameA(path, static_cast<DWORD>(full.size()), full.data(), nullptr);
  if (length == 0 || length >= full.size()) return path;
  using UnixName = char*(CDECL*)(const WCHAR*);
  const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
  if (unixName == nullptr) return full.data();
  std::vector<WCHAR> wide(length + 1);
  if (MultiByteToWideChar(CP_ACP, 0, full.data(), -1, wide.data(), static_cast<int>(wide.size())) ==
      0) {
    return full.data();
  }
  char* name = unixName(wide.data());
  if (name == nullptr) return full.data();
  std::string out = name;
  HeapFree(GetProcessHeap(), 0, name);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  // Unix line ends, as the simulated game writes its text: a scene printed under Wine and saved
  // is the very file the built-in one is.
  _setmode(_fileno(stdout), _O_BINARY);
  // The longest path Windows has: the game may stand in a folder deeper than MAX_PATH.
  std::vector<wchar_t> path(32768);
  const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  gameFolder.assign(path.data(), length);
  gameFolder.erase(gameFolder.find_last_of(L'\\') + 1);
  const std::string directory = narrow(gameFolder);

  HMODULE host = LoadLibraryW((gameFolder + L"ScriptHookRDR2.dll").c_str());
  using ApiGetter = const GameSimApi* (*)();
  // Through a plain function pointer type: FARPROC and the getter differ only in the result.
  const auto getApi = host == nullptr ? nullptr
                                      : reinterpret_cast<ApiGetter>(reinterpret_cast<void (*)()>(
                                            GetProcAddress(host, "gameSimApi")));
  if (getApi == nullptr) {
    std::fprintf(stderr, "game-sim: ScriptHookRDR2.dll missing in %s\n", directory.c_str());
    return 1;
  }
  return gameSimMain(argc, argv, *getApi(), directory,
                     {loadPlugins, unloadPlugins, stageModulePath, holdSettingsFile,
                      releaseSettingsFile, fullPath, countHeap, heapReport, readMemory});
}
