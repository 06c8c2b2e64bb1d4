// PortLock.h on Linux: a lock file in /run/lock (or /tmp), held with flock().
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/Files.h"
#include "platform/PortLock.h"
#include "platform/TerminalText.h"

namespace vantrel::platform {

namespace {

// Tries before giving up on a lock file that its holder keeps removing
// between our open and our flock (a busy port changing hands).
constexpr int kLockAttempts = 5;

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// The file descriptor still names the file at `path` (not removed or replaced meanwhile).
bool StillAt(int fd, const std::string& path) {
  struct stat held {}, there {};
  return fstat(fd, &held) == 0 && lstat(path.c_str(), &there) == 0 && SameFile(held, there);
}

}  // namespace

std::unique_ptr<PortLock> PortLock::Acquire(const std::string& devicePath, std::string* why,
                                            const std::string& lockDir) {
  if (why != nullptr) why->clear();
  std::string dir = lockDir;
  if (dir.empty()) {
    // /run/lock is shared by every user of the machine (the port is too).
    struct stat st {};
    dir = (stat("/run/lock", &st) == 0 && S_ISDIR(st.st_mode) && access("/run/lock", W_OK) == 0) ? "/run/lock"
                                                                                                  : "/tmp";
  }
  std::string dev = ResolvePath(devicePath);
  std::string name = "vantrel-cli.";
  for (char c : dev) name += (c == '/') ? '_' : c;
  std::string path = dir + "/" + name + ".lock";
  // Without a lock file the link's own exclusive open still guards the port.
  auto unlocked = [&](const std::string& problem) {
    if (why != nullptr) *why = "cannot use the lock file " + path + ": " + problem;
    return std::unique_ptr<PortLock>(new PortLock(-1, path));
  };
  // The folder is writable by every user: whatever stands at the path may be
  // a link or a file planted by someone else. Links are never followed, and
  // only a regular file of our own is ever written to.
  for (int attempt = 0; attempt < kLockAttempts; ++attempt) {
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    const bool created = fd >= 0;
    if (!created && errno == EEXIST) {
      // O_NONBLOCK: a FIFO planted at the path must not hang the open.
      fd = open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && (errno == EACCES || errno == EPERM))  // someone else's file: locking needs no writing
        fd = open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0 && errno == ENOENT) continue;  // its holder removed it just now
    }
    if (fd < 0) return unlocked(std::strerror(errno));
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
      close(fd);
      return unlocked("it is not a regular file");
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      char pid[32] = {};
      ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
      std::string holder = n > 0 ? std::string(pid, static_cast<size_t>(n)) : "";
      while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
      close(fd);
      if (why != nullptr) {
        *why = dev + " is in use by another vantrel-cli" +
               (holder.empty() ? "" : " (pid " + EscapeField(holder) + ")") +
               ": one process per port; use a second port for a second handset";
      }
      return nullptr;
    }
    // The holder released and removed the file between our open and our
    // lock: a lock on a removed file guards nothing.
    if (!StillAt(fd, path)) {
      close(fd);
      continue;
    }
    // Readable by the next user of the port, whatever the umask, so that
    // they can lock it too.
    if (created) fchmod(fd, 0644);
    if (st.st_uid == geteuid()) {
      std::string pid = std::to_string(getpid()) + "\n";
      if (ftruncate(fd, 0) == 0) {
        ssize_t ignored = pwrite(fd, pid.data(), pid.size(), 0);
        (void)ignored;
      }
    }
    return std::unique_ptr<PortLock>(new PortLock(fd, path));
  }
  return unlocked("it keeps changing");
}

PortLock::~PortLock() {
  const int fd = static_cast<int>(handle_);
  if (fd < 0) return;
  // Removed while still locked: a process that opened it meanwhile finds,
  // once it has the lock, that the file is gone and starts again.
  if (StillAt(fd, path_)) unlink(path_.c_str());
  close(fd);
}

}  // namespace vantrel::platform
