// The few Windows calls the plug-in makes, behind a seam so that the native build can supply them.
#pragma once

#include <cstdint>

// GetModuleFileNameA(NULL, buffer, size): the game executable's path; its length, or 0 on failure.
// A result equal to size means the path was cut short.
std::uint32_t executablePath(char* buffer, std::uint32_t size);

// GetTickCount: milliseconds since the system started, wrapping.
std::uint32_t tickCount();

// The file version of a loaded module (nullptr: the game's executable) from its version
// resource, as the four numbers Windows shows (1.0.1491.17); false when it has none.
bool moduleFileVersion(const char* moduleName, std::uint16_t (&version)[4]);
