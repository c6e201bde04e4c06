// game-sim.exe's heap count: the counting stand-ins for msvcrt's allocation functions, their
// place in the plug-ins' import tables, and the process's memory.
#include "heap_watch.h"

#include <psapi.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace heapwatch {

namespace {

using Malloc = void*(__cdecl*)(std::size_t);
using Calloc = void*(__cdecl*)(std::size_t, std::size_t);
using Realloc = void*(__cdecl*)(void*, std::size_t);
using Free = void(__cdecl*)(void*);

Malloc realMalloc = nullptr;
Calloc realCalloc = nullptr;
Realloc realRealloc = nullptr;
Free realFree = nullptr;

struct Counts {
  std::uint64_t allocations = 0;    // malloc, calloc, and realloc of no block
  std::uint64_t reallocations = 0;  // realloc of a block to a new size
  std::uint64_t frees = 0;          // free of a block, and realloc to size 0
  std::uint64_t strangerFrees = 0;  // frees of blocks not seen allocated
  std::uint64_t liveBlocks = 0;
  std::uint64_t liveBytes = 0;
};

// The live blocks by address, open-addressed with linear probing and no tombstones, in static
// storage: the count itself allocates nothing on any heap.
constexpr std::size_t tableSize = std::size_t{1} << 17;
struct Block {
  std::uintptr_t address = 0;
  std::size_t size = 0;
};
Block blocks[tableSize];
std::size_t blocksHeld = 0;
Counts counts;
// The keyboard thread calls into the plug-in as well; a slim lock allocates nothing either.
SRWLOCK lock = SRWLOCK_INIT;

std::size_t home(std::uintptr_t address) {
  return static_cast<std::size_t>((address >> 4) * 0x9E3779B97F4A7C15ull >> 40) & (tableSize - 1);
}

void track(void* pointer, std::size_t size) {
  ++counts.liveBlocks;
  counts.liveBytes += size;
  if (blocksHeld * 4 >= tableSize * 3) return;  // full: its free will count as a stranger's
  const auto address = reinterpret_cast<std::uintptr_t>(pointer);
  std::size_t i = home(address);
  while (blocks[i].address != 0) i = (i + 1) & (tableSize - 1);
  blocks[i] = {address, size};
  ++blocksHeld;
}

// Forgets the block and closes the gap behind it; false when it was never tracked.
bool untrack(void* pointer) {
  const auto address = reinterpret_cast<std::uintptr_t>(pointer);
  std::size_t i = home(address);
  while (blocks[i].address != address) {
    if (blocks[i].address == 0) return false;
    i = (i + 1) & (tableSize - 1);
  }
  --counts.liveBlocks;
  counts.liveBytes -= blocks[i].size;
  --blocksHeld;
  for (std::size_t j = (i + 1) & (tableSize - 1); blocks[j].address != 0;
       j = (j + 1) & (tableSize - 1)) {
    const std::size_t wanted = home(blocks[j].address);
    // An entry may move back into the gap unless its home lies cyclically in (i, j].
    const bool homeBetween = i <= j ? (wanted > i && wanted <= j) : (wanted > i || wanted <= j);
    if (homeBetween) continue;
    blocks[i] = blocks[j];
    i = j;
  }
  blocks[i] = Block{};
  return true;
}

void* __cdecl countedMalloc(std::size_t size) {
  AcquireSRWLockExclusive(&lock);
  void* block = realMalloc(size);
  if (block != nullptr) {
    ++counts.allocations;
    track(block, size);
  }
  ReleaseSRWLockExclusive(&lock);
  return block;
}

void* __cdecl countedCalloc(std::size_t count, std::size_t size) {
  AcquireSRWLockExclusive(&lock);
  void* block = realCalloc(count, size);
  if (block != nullptr) {
    ++counts.allocations;
    track(block, count * size);
  }
  ReleaseSRWLockExclusive(&lock);
  return block;
}

void noteFree(void* block) {
  ++counts.frees;
  if (!untrack(block)) ++counts.strangerFrees;
}

// msvcrt's realloc: of no block it allocates, to size 0 it frees, and on failure it leaves the
// block as it was.
void* __cdecl countedRealloc(void* block, std::size_t size) {
  AcquireSRWLockExclusive(&lock);
  void* moved = realRealloc(block, size);
  if (block == nullptr) {
    if (moved != nullptr) {
      ++counts.allocations;
      track(moved, size);
    }
  } else if (size == 0) {
    noteFree(block);
  } else if (moved != nullptr) {
    ++counts.reallocations;
    if (!untrack(block)) ++counts.strangerFrees;
    track(moved, size);
  }
  ReleaseSRWLockExclusive(&lock);
  return moved;
}

void __cdecl countedFree(void* block) {
  AcquireSRWLockExclusive(&lock);
  if (block != nullptr) noteFree(block);
  realFree(block);
  ReleaseSRWLockExclusive(&lock);
}

Counts countsNow() {
  AcquireSRWLockShared(&lock);
  const Counts now = counts;
  ReleaseSRWLockShared(&lock);
  return now;
}

// ---- msvcrt's exports, answered by the stand-ins while the plug-ins load ----

struct StandIn {
  const char* name;
  void* function;
  DWORD* exportSlot = nullptr;
  DWORD originalRva = 0;
  unsigned char* jump = nullptr;
};
StandIn standIns[] = {{"malloc", reinterpret_cast<void*>(countedMalloc)},
                      {"calloc", reinterpret_cast<void*>(countedCalloc)},
                      {"realloc", reinterpret_cast<void*>(countedRealloc)},
                      {"free", reinterpret_cast<void*>(countedFree)}};
bool countedFromLoad = true;

DWORD* exportSlotOf(HMODULE module, const char* name) {
  auto* const base = reinterpret_cast<unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.VirtualAddress == 0) return nullptr;
  const auto* exports =
      reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  auto* functions = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    if (std::strcmp(reinterpret_cast<const char*>(base + names[i]), name) == 0) {
      return &functions[ordinals[i]];
    }
  }
  return nullptr;
}

// An export is a 32-bit offset from its module's base: the stand-ins are reached through jumps
// placed within that reach, just past msvcrt's image.
unsigned char* jumpsNear(HMODULE module) {
  auto* const base = reinterpret_cast<unsigned char*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  const std::uintptr_t step = system.dwAllocationGranularity;
  const auto start = reinterpret_cast<std::uintptr_t>(base) + nt->OptionalHeader.SizeOfImage;
  const std::uintptr_t limit = reinterpret_cast<std::uintptr_t>(base) + 0xF0000000u;
  for (std::uintptr_t address = (start + step - 1) / step * step; address < limit;
       address += step) {
    void* page = VirtualAlloc(reinterpret_cast<void*>(address), 4096, MEM_RESERVE | MEM_COMMIT,
                              PAGE_EXECUTE_READWRITE);
    if (page != nullptr) return static_cast<unsigned char*>(page);
  }
  return nullptr;
}

bool writeRva(DWORD* slot, DWORD value) {
  DWORD protection = 0;
  if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return false;
  *slot = value;
  VirtualProtect(slot, sizeof *slot, protection, &protection);
  return true;
}

// ---- the run's milestones ----

struct Snapshot {
  bool taken = false;
  Counts counts;
};
Snapshot atLoad, afterFirstFrame, atEnd, atUnload;

struct ScriptStart {
  std::uint64_t frame;
  std::uint64_t liveBlocks;
  std::uint64_t liveBytes;
};
constexpr std::size_t scriptStartsKept = 1000;
std::vector<ScriptStart> scriptStarts;

struct SteadyFrames {
  std::uint64_t frames = 0;
  std::uint64_t allocations = 0;  // reallocations included
  std::uint64_t frees = 0;
  std::uint64_t framesAllocating = 0;
  std::uint64_t firstAllocatingFrame = 0;
};
SteadyFrames steady;
std::uint64_t operationsBefore = 0;
std::uint64_t freesBefore = 0;

struct Memory {
  bool taken = false;
  std::uint64_t frame = 0;
  std::uint64_t workingSet = 0;
  std::uint64_t privateBytes = 0;
};
Memory atTenth, atLast;
std::uint64_t tenthFrame = 1;
std::uint64_t framesPlanned = 0;
std::uint64_t lastFrame = 0;

// Private bytes as PagefileUsage, which Windows documents as the same as PrivateUsage and which,
// unlike PrivateUsage, Wine fills in.
Memory memoryAt(std::uint64_t frame) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  Memory memory;
  if (K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) {
    memory = {true, frame, counters.WorkingSetSize, counters.PagefileUsage};
  }
  return memory;
}

std::string kib(std::uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024.0);
  return text;
}

std::string countsText(const Snapshot& snapshot) {
  if (!snapshot.taken) return "not reached";
  const Counts& c = snapshot.counts;
  std::string out = std::to_string(c.allocations) + " allocations, " +
                    std::to_string(c.reallocations) + " reallocations, " + std::to_string(c.frees) +
                    " frees, " + std::to_string(c.liveBlocks) + " live blocks (" +
                    kib(c.liveBytes) + ")";
  if (c.strangerFrees != 0) {
    out += ", " + std::to_string(c.strangerFrees) + " frees of blocks not seen allocated";
  }
  return out;
}

std::string countsJson(const Snapshot& snapshot) {
  if (!snapshot.taken) return "null";
  const Counts& c = snapshot.counts;
  return "{\"allocations\": " + std::to_string(c.allocations) +
         ", \"reallocations\": " + std::to_string(c.reallocations) +
         ", \"frees\": " + std::to_string(c.frees) +
         ", \"strangerFrees\": " + std::to_string(c.strangerFrees) +
         ", \"liveBlocks\": " + std::to_string(c.liveBlocks) +
         ", \"liveBytes\": " + std::to_string(c.liveBytes) + "}";
}

std::string memoryText(const Memory& memory) {
  if (!memory.taken) return "not read";
  return "working set " + kib(memory.workingSet) + ", private " + kib(memory.privateBytes) +
         " (frame " + std::to_string(memory.frame) + ")";
}

std::string memoryJson(const Memory& memory) {
  if (!memory.taken) return "null";
  return "{\"frame\": " + std::to_string(memory.frame) +
         ", \"workingSet\": " + std::to_string(memory.workingSet) +
         ", \"privateBytes\": " + std::to_string(memory.privateBytes) + "}";
}

}  // namespace

ULONGLONG* importSlot(HMODULE module, const char* library, const char* function) {
  auto* const base = reinterpret_cast<unsigned char*>(module);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE) return nullptr;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(base + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE) return nullptr;
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (imports.VirtualAddress == 0) return nullptr;
  for (auto* entry =
           reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
       entry->Name != 0; ++entry) {
    if (lstrcmpiA(reinterpret_cast<const char*>(base + entry->Name), library) != 0) continue;
    // The name table stays as linked; the address table holds what the loader resolved.
    const DWORD names =
        entry->OriginalFirstThunk != 0 ? entry->OriginalFirstThunk : entry->FirstThunk;
    const auto* name = reinterpret_cast<const IMAGE_THUNK_DATA64*>(base + names);
    auto* address = reinterpret_cast<IMAGE_THUNK_DATA64*>(base + entry->FirstThunk);
    for (; name->u1.AddressOfData != 0; ++name, ++address) {
      if (IMAGE_SNAP_BY_ORDINAL64(name->u1.Ordinal)) continue;
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
        return &address->u1.Function;
      }
    }
  }
  return nullptr;
}

bool begin() {
  HMODULE crt = GetModuleHandleA("msvcrt.dll");
  if (crt == nullptr) return false;
  realMalloc =
      reinterpret_cast<Malloc>(reinterpret_cast<void (*)()>(GetProcAddress(crt, "malloc")));
  realCalloc =
      reinterpret_cast<Calloc>(reinterpret_cast<void (*)()>(GetProcAddress(crt, "calloc")));
  realRealloc =
      reinterpret_cast<Realloc>(reinterpret_cast<void (*)()>(GetProcAddress(crt, "realloc")));
  realFree = reinterpret_cast<Free>(reinterpret_cast<void (*)()>(GetProcAddress(crt, "free")));
  if (!realMalloc || !realCalloc || !realRealloc || !realFree) return false;
  // Made once: a run that reloads the plug-ins comes here before every load.
  static unsigned char* const jumps = jumpsNear(crt);
  if (jumps == nullptr) return false;
  // Every page of the table written at once: blocks at new addresses would otherwise touch new
  // pages, and the process's memory the count reports would grow with the count itself.
  static const bool tableTouched = [] {
    for (std::size_t i = 0; i < tableSize; i += 4096 / sizeof(Block)) {
      reinterpret_cast<volatile std::uintptr_t&>(blocks[i].address) = blocks[i].address;
    }
    return true;
  }();
  (void)tableTouched;
  auto* const base = reinterpret_cast<unsigned char*>(crt);
  for (std::size_t i = 0; i < std::size(standIns); ++i) {
    StandIn& standIn = standIns[i];
    standIn.exportSlot = exportSlotOf(crt, standIn.name);
    if (standIn.exportSlot == nullptr) return false;
    // mov rax, stand-in; jmp rax
    standIn.jump = jumps + 16 * i;
    const auto target = reinterpret_cast<std::uint64_t>(standIn.function);
    standIn.jump[0] = 0x48;
    standIn.jump[1] = 0xB8;
    std::memcpy(standIn.jump + 2, &target, sizeof target);
    standIn.jump[10] = 0xFF;
    standIn.jump[11] = 0xE0;
  }
  FlushInstructionCache(GetCurrentProcess(), jumps, 4096);
  for (StandIn& standIn : standIns) {
    standIn.originalRva = *standIn.exportSlot;
    if (!writeRva(standIn.exportSlot, static_cast<DWORD>(standIn.jump - base))) return false;
  }
  return true;
}

void end() {
  for (StandIn& standIn : standIns) {
    if (standIn.exportSlot != nullptr && standIn.originalRva != 0) {
      writeRva(standIn.exportSlot, standIn.originalRva);
    }
  }
}

bool loaded(HMODULE module) {
  if (realMalloc == nullptr) return false;
  for (StandIn& standIn : standIns) {
    ULONGLONG* slot = importSlot(module, "msvcrt.dll", standIn.name);
    if (slot == nullptr) continue;
    const auto jump = reinterpret_cast<ULONGLONG>(standIn.jump);
    const auto function = reinterpret_cast<ULONGLONG>(standIn.function);
    if (*slot == jump || *slot == function) continue;
    DWORD protection = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &protection)) return false;
    *slot = function;
    VirtualProtect(slot, sizeof *slot, protection, &protection);
    countedFromLoad = false;
  }
  return true;
}

// After every load when the plug-ins are reloaded; the figures "after load" are the first load's.
void afterLoad(std::uint64_t frames) {
  framesPlanned = frames;
  const Counts now = countsNow();
  if (!atLoad.taken) {
    atLoad = {true, now};
    scriptStarts.reserve(scriptStartsKept);  // at once: the count's own memory stays flat
  }
  operationsBefore = now.allocations + now.reallocations;
  freesBefore = now.frees;
  tenthFrame = framesPlanned / 10 > 0 ? framesPlanned / 10 : 1;
}

void afterFrame(std::uint64_t frame, bool scriptStarted) {
  const Counts now = countsNow();
  const std::uint64_t operations = now.allocations + now.reallocations;
  if (scriptStarted) {
    if (scriptStarts.size() < scriptStartsKept) {
      scriptStarts.push_back({frame, now.liveBlocks, now.liveBytes});
    }
  } else {
    ++steady.frames;
    steady.frees += now.frees - freesBefore;
    if (operations != operationsBefore) {
      steady.allocations += operations - operationsBefore;
      if (steady.framesAllocating++ == 0) steady.firstAllocatingFrame = frame;
    }
  }
  if (!afterFirstFrame.taken) afterFirstFrame = {true, now};
  operationsBefore = operations;
  freesBefore = now.frees;
  if (frame == tenthFrame) atTenth = memoryAt(frame);
  lastFrame = frame;
  // A long run shows how far it has got, every tenth of it.
  if (frame % tenthFrame == 0) {
    std::fprintf(stderr, "game-sim: frame %llu of %llu\n", static_cast<unsigned long long>(frame),
                 static_cast<unsigned long long>(framesPlanned));
    std::fflush(stderr);
  }
}

void afterFrames() {
  atEnd = {true, countsNow()};
  atLast = memoryAt(lastFrame);
}

void afterUnload() { atUnload = {true, countsNow()}; }

void liveNow(std::uint64_t& blocks, std::uint64_t& bytes) {
  const Counts now = countsNow();
  blocks = now.liveBlocks;
  bytes = now.liveBytes;
}

bool processMemory(std::uint64_t& workingSet, std::uint64_t& privateBytes) {
  const Memory memory = memoryAt(0);
  workingSet = memory.workingSet;
  privateBytes = memory.privateBytes;
  return memory.taken;
}

std::string report() {
  std::string out =
      "The plug-ins' heap (msvcrt's malloc, calloc, realloc and free as they import "
      "them), counted from ";
  out += countedFromLoad ? "their load on:\n" : "after their load (not while loading):\n";
  out += "  after load:            " + countsText(atLoad) + "\n";
  out += "  after the first frame: " + countsText(afterFirstFrame) + "\n";
  out += "  at the end:            " + countsText(atEnd) + "\n";
  out += "  after unload:          " + countsText(atUnload) + "\n";
  out += "  in " + std::to_string(steady.frames) +
         " steady frames: " + std::to_string(steady.allocations) + " allocations, " +
         std::to_string(steady.frees) + " frees";
  if (steady.framesAllocating > 0) {
    out += "; " + std::to_string(steady.framesAllocating) + " frames allocated, the first " +
           std::to_string(steady.firstAllocatingFrame);
  }
  out += "\n  live blocks after the first frame of each script start:";
  for (std::size_t i = 0; i < scriptStarts.size(); ++i) {
    out += (i % 8 == 0 ? "\n    " : ", ") + std::to_string(scriptStarts[i].liveBlocks) +
           " (frame " + std::to_string(scriptStarts[i].frame) + ")";
  }
  out += "\nProcess memory: " + memoryText(atTenth) + "; at the end " + memoryText(atLast) + "\n";
  return out;
}

std::string json() {
  std::string out = "{\"countedFromLoad\": " + std::string(countedFromLoad ? "true" : "false") +
                    ",\n \"afterLoad\": " + countsJson(atLoad) +
                    ",\n \"afterFirstFrame\": " + countsJson(afterFirstFrame) +
                    ",\n \"atEnd\": " + countsJson(atEnd) +
                    ",\n \"afterUnload\": " + countsJson(atUnload) +
                    ",\n \"steadyFrames\": {\"frames\": " + std::to_string(steady.frames) +
                    ", \"allocations\": " + std::to_string(steady.allocations) +
                    ", \"frees\": " + std::to_string(steady.frees) +
                    ", \"framesAllocating\": " + std::to_string(steady.framesAllocating) +
                    ", \"firstAllocatingFrame\": " + std::to_string(steady.firstAllocatingFrame) +
                    "},\n \"scriptStarts\": [";
  for (std::size_t i = 0; i < scriptStarts.size(); ++i) {
    out += std::string(i == 0 ? "" : ", ") +
           "{\"frame\": " + std::to_string(scriptStarts[i].frame) +
           ", \"liveBlocks\": " + std::to_string(scriptStarts[i].liveBlocks) +
           ", \"liveBytes\": " + std::to_string(scriptStarts[i].liveBytes) + "}";
  }
  out += "],\n \"memory\": {\"tenth\": " + memoryJson(atTenth) +
         ", \"end\": " + memoryJson(atLast) + "}}\n";
  return out;
}

}  // namespace heapwatch
