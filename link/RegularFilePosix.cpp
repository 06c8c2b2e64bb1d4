#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "link/RegularFile.h"

namespace vantrel {

int OpenRegularFile(const std::string& path, struct stat* st) {
  if (path.empty()) {
    errno = ENOENT;
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat own {};
  struct stat* s = st != nullptr ? st : &own;
  int why = 0;
  if (::fstat(fd, s) != 0) why = errno;
  else if (!S_ISREG(s->st_mode)) why = S_ISDIR(s->st_mode) ? EISDIR : EINVAL;
  if (why != 0) {
    ::close(fd);
    errno = why;
    return -1;
  }
  // Reads from a regular file never wait; the flag only mattered for the open.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

std::FILE* OpenRegularStream(const std::string& path) {
  const int fd = OpenRegularFile(path);
  if (fd < 0) return nullptr;
  std::FILE* file = ::fdopen(fd, "rb");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace vantrel
