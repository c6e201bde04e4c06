#include <windows.h>

#include "host/platform.h"

std::uint32_t executablePath(char* buffer, std::uint32_t size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

std::uint32_t tickCount() { return GetTickCount(); }
