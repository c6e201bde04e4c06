#include <windows.h>
#include <winver.h>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <iterator>

#include "host/platform.h"

std::uint32_t executablePath(char* buffer, std::uint32_t size) {
  return GetModuleFileNameA(nullptr, buffer, size);
}

namespace {

// The game's folder by its Unicode name, when the narrow path's folder is that name with
// characters the code page lacks lost: its length, backslash included. 0 when the narrow folder
// is exact, or is not the game's (a path staged by a test harness): then the narrow path serves.
std::size_t unicodeFolder(const char* path, wchar_t (&wide)[MAX_PATH]) {
  const char* name = std::strrchr(path, '\\');
  const DWORD length = GetModuleFileNameW(nullptr, wide, MAX_PATH);
  if (name == nullptr || length == 0 || length >= MAX_PATH) return 0;
  const wchar_t* wideName = std::wcsrchr(wide, L'\\');
  if (wideName == nullptr) return 0;
  const int folder = static_cast<int>(wideName - wide) + 1;
  const int narrowFolder = static_cast<int>(name - path) + 1;
  // Read back from the code page: the same name when nothing was lost.
  wchar_t readBack[MAX_PATH];
  const int readLength = MultiByteToWideChar(CP_ACP, 0, path, narrowFolder, readBack, MAX_PATH);
  if (readLength == folder && std::wmemcmp(readBack, wide, static_cast<std::size_t>(folder)) == 0) {
    return 0;
  }
  // Lossy: is it this folder, as the code page renders it?
  char rendered[2 * MAX_PATH];
  const int renderedLength =
      WideCharToMultiByte(CP_ACP, 0, wide, folder, rendered, sizeof rendered, nullptr, nullptr);
  if (renderedLength != narrowFolder ||
      std::memcmp(rendered, path, static_cast<std::size_t>(narrowFolder)) != 0) {
    return 0;
  }
  return static_cast<std::size_t>(folder);
}

}  // namespace

std::FILE* openBesideGame(const char* path, const char* mode) {
  wchar_t wide[MAX_PATH];
  std::size_t length = unicodeFolder(path, wide);
  if (length == 0) return std::fopen(path, mode);
  // Our own file names are plain ASCII, as is the mode.
  for (const char* name = std::strrchr(path, '\\') + 1; *name != '\0'; ++name) {
    if (length + 1 >= MAX_PATH) {
      errno = ENAMETOOLONG;
      return nullptr;
    }
    wide[length++] = static_cast<unsigned char>(*name);
  }
  wide[length] = L'\0';
  wchar_t wideMode[4] = {};
  for (std::size_t at = 0; at + 1 < std::size(wideMode) && mode[at] != '\0'; ++at) {
    wideMode[at] = static_cast<unsigned char>(mode[at]);
  }
  return _wfopen(wide, wideMode);
}

bool opensByUnicodeName(const char* path) {
  wchar_t wide[MAX_PATH];
  return unicodeFolder(path, wide) != 0;
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
