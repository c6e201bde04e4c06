#include <windows.h>
#include <winver.h>

#include <cstring>

#include "host/platform.h"

std::uint32_t executablePath(char* buffer, std::uint32_t size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

std::uint32_t tickCount() { return GetTickCount(); }

namespace {

// The resource starts with a VS_VERSIONINFO block: three 16-bit sizes and type, the key
// L"VS_VERSION_INFO" with its NUL, padding to 32 bits, then VS_FIXEDFILEINFO. It is read
// through KERNEL32 alone, so that the plug-in needs no other DLL than it does.
constexpr std::size_t fixedInfoOffset = 40;
constexpr wchar_t versionKey[] = L"VS_VERSION_INFO";
constexpr DWORD fixedInfoSignature = 0xFEEF04BD;

}  // namespace

bool moduleFileVersion(const char* moduleName, std::uint16_t (&version)[4]) {
  const HMODULE module = GetModuleHandleA(moduleName);
  if (module == nullptr) return false;
  const HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(16));
  if (resource == nullptr) return false;
  const DWORD size = SizeofResource(module, resource);
  const HGLOBAL loaded = LoadResource(module, resource);
  const auto* bytes = static_cast<const unsigned char*>(loaded ? LockResource(loaded) : nullptr);
  if (bytes == nullptr || size < fixedInfoOffset + sizeof(VS_FIXEDFILEINFO)) return false;

  WORD blockLength = 0;
  WORD valueLength = 0;
  std::memcpy(&blockLength, bytes, sizeof blockLength);
  std::memcpy(&valueLength, bytes + 2, sizeof valueLength);
  if (blockLength > size || blockLength < fixedInfoOffset + sizeof(VS_FIXEDFILEINFO) ||
      valueLength < sizeof(VS_FIXEDFILEINFO) ||
      std::memcmp(bytes + 6, versionKey, sizeof versionKey) != 0) {
    return false;
  }
  VS_FIXEDFILEINFO info;
  std::memcpy(&info, bytes + fixedInfoOffset, sizeof info);
  if (info.dwSignature != fixedInfoSignature) return false;
  version[0] = HIWORD(info.dwFileVersionMS);
  version[1] = LOWORD(info.dwFileVersionMS);
  version[2] = HIWORD(info.dwFileVersionLS);
  version[3] = LOWORD(info.dwFileVersionLS);
  return true;
}
