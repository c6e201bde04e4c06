#include "files.h"

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#endif

namespace sim {

#ifdef _WIN32

// Windows' narrow calls take the ANSI code page, which holds only some scripts; the wide ones
// take every name. Bytes that are not UTF-8 become U+FFFD and name no file.
std::wstring widePath(const std::string& utf8Path) {
  if (utf8Path.empty()) return L"";
  const int size = MultiByteToWideChar(CP_UTF8, 0, utf8Path.data(),
                                       static_cast<int>(utf8Path.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8Path.data(), static_cast<int>(utf8Path.size()), wide.data(),
                        size);
  }
  return wide;
}

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  const std::wstring wideMode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(widePath(utf8Path).c_str(), wideMode.c_str());
}

bool removeFile(const std::string& utf8Path) { return _wremove(widePath(utf8Path).c_str()) == 0; }

bool renameFile(const std::string& fromUtf8Path, const std::string& toUtf8Path) {
  return _wrename(widePath(fromUtf8Path).c_str(), widePath(toUtf8Path).c_str()) == 0;
}

#else

std::FILE* openFile(const std::string& utf8Path, const char* mode) {
  return std::fopen(utf8Path.c_str(), mode);
}

bool removeFile(const std::string& utf8Path) { return std::remove(utf8Path.c_str()) == 0; }

bool renameFile(const std::string& fromUtf8Path, const std::string& toUtf8Path) {
  return std::rename(fromUtf8Path.c_str(), toUtf8Path.c_str()) == 0;
}

#endif

}  // namespace sim
