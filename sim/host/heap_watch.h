// game-sim.exe's count of the plug-ins' own heap and of the process's memory over a long run.
//
// The plug-in takes malloc, calloc, realloc and free from msvcrt.dll (operator new and the
// C++ run-time go through them too). While the plug-ins load, msvcrt's exports of the four
// answer with counting stand-ins, so that the loader puts those in the plug-ins' import tables
// and even what their start-up code allocates is counted; afterwards the exports are as before
// and nothing else in the process is counted. The C run-time's own buffers (a FILE's, for
// instance) are msvcrt's business and are not seen.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace heapwatch {

// The slot of the module's import address table that holds its import of the function, or null
// when it does not import it by name.
ULONGLONG* importSlot(HMODULE module, const char* library, const char* function);

// Around the plug-ins' loading. begin() is false when msvcrt's exports cannot be replaced; then
// loaded() points the module's imports at the stand-ins itself, and what the plug-in allocated
// while it loaded is not seen.
bool begin();
void end();
// Checks that the module's imports reach the stand-ins; false when they cannot be made to.
bool loaded(HMODULE module);

// The run's milestones: after the plug-ins loaded, after every frame (its number, whether a
// script started in it), at the end of the frames and after the unload. The process's memory is
// read at the frame a tenth into the run and at its end.
void afterLoad(std::uint64_t framesPlanned);
void afterFrame(std::uint64_t frame, bool scriptStarted);
void afterFrames();
void afterUnload();

// The plug-ins' live blocks now, and the process's memory now (false when it cannot be read).
void liveNow(std::uint64_t& blocks, std::uint64_t& bytes);
bool processMemory(std::uint64_t& workingSet, std::uint64_t& privateBytes);

// What was counted, for a person to read and as JSON.
std::string report();
std::string json();

}  // namespace heapwatch
