// The few Windows calls the plug-in makes, behind a seam so that the native build can supply them.
#pragma once

#include <cstdint>
#include <cstdio>

// GetModuleFileNameA(NULL, buffer, size): the game executable's path; its length, or 0 on failure.
// A result equal to size means the path was cut short.
std::uint32_t executablePath(char* buffer, std::uint32_t size);

// fopen of a file beside the game, by the narrow path made from executablePath. Where that path
// lost characters of the game's folder that the system's code page lacks (they read "?"), the
// file is opened by its Unicode name instead, so that a game folder in any script works.
std::FILE* openBesideGame(const char* path, const char* mode);

// Whether openBesideGame opens this path by its Unicode name.
bool opensByUnicodeName(const char* path);

// GetTickCount: milliseconds since the system started, wrapping.
std::uint32_t tickCount();

// The file version of a loaded module (nullptr: the game's executable) from its version
// resource, as the four numbers Windows shows (1.0.1491.17); false when it has none.
bool moduleFileVersion(const char* moduleName, std::uint16_t (&version)[4]);
