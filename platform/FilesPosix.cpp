// The POSIX backend of Files.h.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <vector>

#include "platform/Files.h"

namespace vantrel::platform {

namespace {

FileError Failed(int code) { return {FileFault::Failed, code}; }

// What a failed open says about the path.
FileError FromOpenErrno(int code, Links links) {
  switch (code) {
    case ENOENT: return {FileFault::Missing, code};
    case EISDIR: return {FileFault::Folder, code};
    case ENXIO: return {FileFault::NotRegular, code};  // a socket, or a FIFO without a reader
    case ELOOP: return links == Links::Refuse ? FileError{FileFault::Link, code} : Failed(code);
    default: return Failed(code);
  }
}

// A descriptor is used only for a regular file.
FileError CheckRegular(int fd, struct stat* st) {
  if (::fstat(fd, st) != 0) return Failed(errno);
  if (S_ISDIR(st->st_mode)) return {FileFault::Folder};
  if (!S_ISREG(st->st_mode)) return {FileFault::NotRegular};
  return {};
}

FileError WriteAll(int fd, const char* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, data + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) return Failed(w < 0 ? errno : EIO);
    done += static_cast<size_t>(w);
  }
  return {};
}

}  // namespace

void File::Close() {
  if (handle_ != -1) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

FileError File::Read(void* buffer, size_t n, size_t* got) {
  *got = 0;
  if (handle_ == -1) return Failed(EBADF);
  for (;;) {
    const ssize_t r = ::read(static_cast<int>(handle_), buffer, n);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return Failed(errno);
    *got = static_cast<size_t>(r);
    return {};
  }
}

FileError File::SeekData(uint64_t at, uint64_t* begin, uint64_t* end) {
  const int fd = static_cast<int>(handle_);
  if (fd == -1) return Failed(EBADF);
  const auto size = static_cast<off_t>(size_);
  // A file system that cannot tell holes apart reports all of it as data.
  off_t data = ::lseek(fd, static_cast<off_t>(at), SEEK_DATA);
  if (data < 0) data = errno == ENXIO ? size : static_cast<off_t>(at);
  off_t hole = data < size ? ::lseek(fd, data, SEEK_HOLE) : size;
  if (hole <= data || hole > size) hole = size;
  if (::lseek(fd, data, SEEK_SET) < 0) return Failed(errno);
  *begin = static_cast<uint64_t>(data);
  *end = static_cast<uint64_t>(hole);
  return {};
}

std::FILE* File::TakeStream() {
  if (handle_ == -1) return nullptr;
  std::FILE* stream = ::fdopen(static_cast<int>(handle_), "rb");
  if (stream == nullptr) Close();
  handle_ = -1;
  return stream;
}

FileError OpenForReading(const std::string& path, Links links, File* file) {
  file->Close();
  if (path.empty()) return {FileFault::Missing, ENOENT};
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | (links == Links::Refuse ? O_NOFOLLOW : 0);
  const int fd = ::open(path.c_str(), flags);
  if (fd < 0) return FromOpenErrno(errno, links);
  struct stat st {};
  if (FileError e = CheckRegular(fd, &st)) {
    ::close(fd);
    return e;
  }
  file->handle_ = fd;
  file->size_ = static_cast<uint64_t>(st.st_size);
  return {};
}

PathKind LookAt(const std::string& path) {
  struct stat st {};
  if (path.empty() || ::lstat(path.c_str(), &st) != 0) return PathKind::Nothing;
  if (S_ISREG(st.st_mode)) return PathKind::File;
  if (S_ISLNK(st.st_mode)) return PathKind::Link;
  if (S_ISDIR(st.st_mode)) return PathKind::Folder;
  return PathKind::Other;
}

std::string ResolvePath(const std::string& path) {
  char buf[PATH_MAX];
  if (::realpath(path.c_str(), buf) != nullptr) return buf;
  return path;
}

FileError CreateNew(const std::string& path, std::FILE** stream) {
  *stream = nullptr;
  // O_EXCL also refuses a link at the path, dangling or not.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return Failed(errno);
  *stream = ::fdopen(fd, "wb");
  if (*stream == nullptr) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return Failed(err);
  }
  return {};
}

FileError Rename(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) != 0) return Failed(errno);
  return {};
}

void Remove(const std::string& path) { ::unlink(path.c_str()); }

FileError ReplaceContents(const std::string& path, const std::string& bytes) {
  mode_t mode = 0600;
  if (struct stat st {}; ::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::vector<char> name(path.begin(), path.end());
  for (char c : std::string(".XXXXXX")) name.push_back(c);
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) return Failed(errno);
  FileError e;
  if (::fchmod(fd, mode) != 0) e = Failed(errno);
  if (!e) e = WriteAll(fd, bytes.data(), bytes.size());
  if (!e && ::fsync(fd) != 0) e = Failed(errno);
  if (::close(fd) != 0 && !e) e = Failed(errno);
  if (!e && ::rename(name.data(), path.c_str()) != 0) e = Failed(errno);
  if (e) ::unlink(name.data());
  return e;
}

bool MayWrite(const std::string& path) { return ::access(path.c_str(), W_OK) == 0; }

FileError MakeFolders(const std::string& folder) {
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos != folder.size() && folder[pos] != '/') continue;
    if (::mkdir(folder.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return Failed(errno);
  }
  return {};
}

FileError AppendLocked(const std::string& path, const std::string& bytes, bool ownLine) {
  // O_NOFOLLOW: a link planted at the path would send the bytes wherever it
  // points. O_NONBLOCK: whatever else stands there must not hold the open.
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) return FromOpenErrno(errno, Links::Refuse);
  struct stat st {};
  FileError e = CheckRegular(fd, &st);
  while (!e && ::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) e = Failed(errno);
  }
  if (!e) {
    std::string out;
    char last = '\n';
    if (ownLine && ::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 &&
        last != '\n')
      out = "\n" + bytes;
    const std::string& data = out.empty() ? bytes : out;
    e = WriteAll(fd, data.data(), data.size());
    if (!e && ::fdatasync(fd) != 0) e = Failed(errno);
  }
  if (::close(fd) != 0 && !e) e = Failed(errno);
  return e;
}

}  // namespace vantrel::platform
