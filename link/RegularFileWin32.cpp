// Names such as "COM1", "CON" or "\\.\pipe\x" open devices and pipes on
// Windows: the file's type is checked on a handle that has not read anything
// before the C runtime gets it.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>

#include "link/RegularFile.h"
#include "platform/Win32.h"

namespace vantrel {

using platform::FileErrno;
using platform::Wide;

int OpenRegularFile(const std::string& path, struct stat* st) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  const std::wstring wide = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    errno = EISDIR;
    return -1;
  }
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = FileErrno(::GetLastError());
    return -1;
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {
    ::CloseHandle(h);
    errno = EINVAL;
    return -1;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    errno = EMFILE;
    return -1;
  }
  struct stat own {};
  if (::fstat(fd, st != nullptr ? st : &own) != 0) {
    const int err = errno;
    ::_close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

std::FILE* OpenRegularStream(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return nullptr;
  std::FILE* file = ::_fdopen(fd, "rb");
  if (file == nullptr) ::_close(fd);
  return file;
}

}  // namespace vantrel
