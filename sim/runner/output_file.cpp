#include "output_file.h"

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "files.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sim {

namespace {

// A name of our own beside the path: created only when no file has it, so that nothing of
// anyone else's is written over, and unlike any other run's through the process number.
std::FILE* createTemporary(const std::string& name) {
#ifdef _WIN32
  const int handle = _wopen(widePath(name).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                            _S_IREAD | _S_IWRITE);
  return handle < 0 ? nullptr : _fdopen(handle, "wb");
#else
  const int handle = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  return handle < 0 ? nullptr : fdopen(handle, "wb");
#endif
}

// Over a file already there, in one step. Windows' rename refuses an existing target.
bool replace(const std::string& from, const char* to) {
#ifdef _WIN32
  if (MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    return true;
  }
  errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
  return false;
#else
  return std::rename(from.c_str(), to) == 0;
#endif
}

// Nothing there yet, or a plain file: what a name of our own can take the place of. Anything else
// is someone's arrangement, such as a link or /dev/stdout, and is never replaced.
bool replaceable(const char* path) {
#ifdef _WIN32
  const std::wstring wide = widePath(path);
  const DWORD attributes = GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError() == ERROR_FILE_NOT_FOUND;
  if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return false;
  // Under Wine a Unix device or pipe (Z:\dev\stdout) has plain attributes; its type tells.
  const HANDLE file =
      CreateFileW(wide.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool disk = GetFileType(file) == FILE_TYPE_DISK;
  CloseHandle(file);
  return disk;
#else
  struct stat status {};
  if (lstat(path, &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode);
#endif
}

bool writeInPlace(const char* path, const std::string& bytes) {
  std::FILE* file = openFile(path, "wb");
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}

}  // namespace

bool writeWholeFile(const char* path, const std::string& bytes) {
  if (path == nullptr) return false;
  if (!replaceable(path)) return writeInPlace(path, bytes);
#ifdef _WIN32
  const int process = _getpid();
#else
  const int process = static_cast<int>(getpid());
#endif
  const std::string temporary = std::string(path) + "." + std::to_string(process) + ".tmp";
  std::FILE* file = createTemporary(temporary);
  if (file == nullptr) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) == 0 && written && replace(temporary, path)) return true;
  const int reason = errno;
  removeFile(temporary);
  errno = reason;
  return false;
}

}  // namespace sim
