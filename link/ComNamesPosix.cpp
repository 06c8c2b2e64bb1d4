#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "link/ComNames.h"

namespace vantrel {
namespace {

bool Exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

int MakeFolders(const std::string& path) {
  for (size_t pos = 1; pos <= path.size(); ++pos) {
    if (pos != path.size() && path[pos] != '/') continue;
    const std::string part = path.substr(0, pos);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

}  // namespace

std::string ComLinkPath(int comNumber) { return SettingsFolder() + "/COM" + std::to_string(comNumber); }

std::string ComDevicePath(const std::string& comName) {
  if (!comName.empty() && comName[0] == '/') return comName;
  if (std::optional<std::string> path = ComOverride(comName)) return *path;
  const int n = ComNumber(comName);
  if (n <= 0) return "/dev/" + comName;  // "ttyUSB0" and the like, as typed

  const std::string link = ComLinkPath(n);
  struct stat st;
  if (::lstat(link.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      char target[4096];
      const ssize_t len = ::readlink(link.c_str(), target, sizeof target - 1);
      if (len > 0) {
        target[len] = '\0';
        if (target[0] == '/') return target;
        return SettingsFolder() + "/" + target;
      }
    }
    return link;
  }

  const std::string index = std::to_string(n - 1);
  for (const char* prefix : {"/dev/ttyUSB", "/dev/ttyACM"}) {
    const std::string path = prefix + index;
    if (Exists(path)) return path;
  }
  return "/dev/ttyS" + index;
}

bool ComNamesCanBeMapped() { return true; }

int MapComPort(int comNumber, const std::string& path) {
  if (comNumber <= 0 || path.empty()) return EINVAL;
  const std::string folder = SettingsFolder();
  if (int err = MakeFolders(folder); err != 0) return err;
  // Replace the link in one step so a reader never sees the name missing.
  const std::string link = ComLinkPath(comNumber);
  const std::string temp = link + ".new." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(path.c_str(), temp.c_str()) != 0) return errno;
  if (::rename(temp.c_str(), link.c_str()) != 0) {
    const int err = errno;
    ::unlink(temp.c_str());
    return err;
  }
  return 0;
}

int UnmapComPort(int comNumber) {
  if (comNumber <= 0) return EINVAL;
  if (::unlink(ComLinkPath(comNumber).c_str()) != 0 && errno != ENOENT) return errno;
  return 0;
}

}  // namespace vantrel
