#include "cli/PortAdvice.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

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
  return "ModemManager is running and probes " + dev +
         " with modem commands, which disturbs the handset's boot ROM. Keep it away from the handset "
         "with the udev rule 70-vantrel-modemmanager.rules (see the README), or stop ModemManager "
         "while flashing.";
}

std::string PermissionHint(const std::string& devicePath) {
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) return "";
  if (access(devicePath.c_str(), R_OK | W_OK) == 0) return "";
  if (errno != EACCES && errno != EPERM) return "";
  std::string group;
  if (struct group* g = getgrgid(st.st_gid)) group = g->gr_name;
  std::string dev = ResolveDevice(devicePath);
  if (group.empty() || st.st_gid == 0)
    return "you may not open " + dev + ": ask the administrator for read and write access to it";
  return "you may not open " + dev + ": join the group '" + group + "' that owns it (sudo usermod -aG " +
         group + " $USER), then log out and in again";
}

std::unique_ptr<PortLock> PortLock::Acquire(const std::string& devicePath, std::string* why,
                                            const std::string& lockDir) {
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
  int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);  // someone else's file: locking needs no writing
  if (fd < 0) {
    // Without a lock file the link's own exclusive open still guards the port.
    if (why != nullptr) *why = "cannot create the lock file " + path + ": " + std::strerror(errno);
    return std::unique_ptr<PortLock>(new PortLock(-1, path));
  }
  fchmod(fd, 0666);  // let the next user of the port lock it too; fails quietly when not ours
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    char pid[32] = {};
    ssize_t n = pread(fd, pid, sizeof pid - 1, 0);
    std::string holder = n > 0 ? std::string(pid, static_cast<size_t>(n)) : "";
    while (!holder.empty() && (holder.back() == '\n' || holder.back() == ' ')) holder.pop_back();
    close(fd);
    if (why != nullptr) {
      *why = dev + " is in use by another vantrel-cli" + (holder.empty() ? "" : " (pid " + holder + ")") +
             ": one process per port; use a second port for a second handset";
    }
    return nullptr;
  }
  std::string pid = std::to_string(getpid()) + "\n";
  if (ftruncate(fd, 0) == 0) {
    ssize_t ignored = pwrite(fd, pid.data(), pid.size(), 0);
    (void)ignored;
  }
  return std::unique_ptr<PortLock>(new PortLock(fd, path));
}

PortLock::~PortLock() {
  if (fd_ >= 0) {
    if (ftruncate(fd_, 0) != 0) {
      // Only the pid goes stale; the lock itself ends with the descriptor.
    }
    close(fd_);
  }
}

}  // namespace vantrel
