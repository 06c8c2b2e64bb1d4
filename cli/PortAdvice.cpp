#include "cli/PortAdvice.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/TerminalText.h"
#include "link/DeviceGroup.h"

namespace vantrel {

bool ModemManagerRunning(const std::string& procRoot) {
  DIR* d = opendir(procRoot.c_str());
  if (d == nullptr) return false;
  bool found = false;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] < '1' || e->d_name[0] > '9') continue;
    std::ifstream comm(procRoot + "/" + e->d_name + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "ModemManager") {
      found = true;
      break;
    }
  }
  closedir(d);
  return found;
}

std::string ResolveDevice(const std::string& devicePath) {
  char buf[PATH_MAX];
  if (realpath(devicePath.c_str(), buf) != nullptr) return buf;
  return devicePath;
}

std::string ModemManagerNote(const std::string& devicePath, bool modemManagerRunning) {
  if (!modemManagerRunning) return "";
  std::string dev = ResolveDevice(devicePath);
  std::string base = dev.substr(dev.rfind('/') + 1);
  if (base.rfind("ttyACM", 0) != 0) return "";
  return "ModemManager is running and probes " + platform::EscapeField(dev) +
         " with modem commands, which disturbs the handset's boot ROM. Keep it away from the handset "
         "with the udev rule 70-vantrel-modemmanager.rules (see the README), or stop ModemManager "
         "while flashing.";
}

std::string PermissionHint(const std::string& devicePath) {
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) return "";
  if (access(devicePath.c_str(), R_OK | W_OK) == 0) return "";
  if (errno != EACCES && errno != EPERM) return "";
  const std::string group = JoinableGroup(st);
  const std::string dev = platform::EscapeField(ResolveDevice(devicePath));
  if (!S_ISCHR(st.st_mode)) return "you may not open " + dev + ", and it is not a serial device: check the port name";
  if (group.empty())
    return "you may not open " + dev +
           ": ask the administrator for a udev rule that gives you read and write access to it";
  return "you may not open " + dev + ": join the group '" + group + "' that owns it (sudo usermod -aG " +
         group + " $USER), then log out and in again";
}

std::string PermissionHintBeyondLink(const std::string& devicePath) {
  struct stat st {};
  if (stat(devicePath.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && !JoinableGroup(st).empty()) return "";
  return PermissionHint(devicePath);
}

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
  std::string dev = ResolveDevice(devicePath);
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
               (holder.empty() ? "" : " (pid " + platform::EscapeField(holder) + ")") +
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
  if (fd_ < 0) return;
  // Removed while still locked: a process that opened it meanwhile finds,
  // once it has the lock, that the file is gone and starts again.
  if (StillAt(fd_, path_)) unlink(path_.c_str());
  close(fd_);
}

}  // namespace vantrel
