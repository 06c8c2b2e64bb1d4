#include "sim/ComName.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace vantrel::sim {
namespace {

std::string ToolFolder() {
  // A relative XDG_CONFIG_HOME is invalid and ignored, as the tool does.
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    base = std::string(home) + "/.config";
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    base = std::string(pw->pw_dir) + "/.config";
  } else {
    base = "/tmp/.config";
  }
  return base + "/vantrel-downloader";
}

std::string LinkFor(int comNumber) { return ToolFolder() + "/COM" + std::to_string(comNumber); }

int MakePath(const std::string& folder) {
  for (size_t end = folder.find('/', 1);; end = folder.find('/', end + 1)) {
    const std::string part = folder.substr(0, end);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (end == std::string::npos) return 0;
  }
}

}  // namespace

int PublishComName(int comNumber, const std::string& devicePath) {
  if (comNumber <= 0 || devicePath.empty()) return EINVAL;
  if (int err = MakePath(ToolFolder()); err != 0) return err;
  const std::string link = LinkFor(comNumber);
  const std::string fresh = link + ".sim." + std::to_string(::getpid());
  ::unlink(fresh.c_str());
  if (::symlink(devicePath.c_str(), fresh.c_str()) != 0) return errno;
  if (::rename(fresh.c_str(), link.c_str()) != 0) {
    const int err = errno;
    ::unlink(fresh.c_str());
    return err;
  }
  return 0;
}

void WithdrawComName(int comNumber, const std::string& devicePath) {
  if (comNumber <= 0 || devicePath.empty()) return;
  const std::string link = LinkFor(comNumber);
  char target[4096];
  const ssize_t len = ::readlink(link.c_str(), target, sizeof target - 1);
  if (len <= 0 || std::string(target, static_cast<size_t>(len)) != devicePath) return;
  ::unlink(link.c_str());
}

}  // namespace vantrel::sim
