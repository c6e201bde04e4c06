// Every file game-sim and the simulated game open, by a UTF-8 path: a scene, a capture or a game
// folder named in any script is found whatever the system's code page.
#pragma once

#include <cstdio>
#include <string>

namespace sim {

// fopen, with errno set as fopen sets it.
std::FILE* openFile(const std::string& utf8Path, const char* mode);

// remove; false, with errno set, when it could not.
bool removeFile(const std::string& utf8Path);

// rename to a name nobody has yet; false, with errno set, when it could not.
bool renameFile(const std::string& fromUtf8Path, const std::string& toUtf8Path);

#ifdef _WIN32
// The path as the wide Windows calls take it.
std::wstring widePath(const std::string& utf8Path);
#endif

}  // namespace sim
