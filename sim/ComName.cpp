#include "sim/ComName.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

int PublishComName(int comNumber, const std::string& devicePath, const std::string& ownPrevious, std::string* why) {
  auto refuse = [&](int err, const std::string& text) {
    if (why != nullptr) *why = text;
    return err;
  };
  if (comNumber <= 0 || devicePath.empty()) return refuse(EINVAL, "no COM number or device to map");
  if (int err = MakePath(ToolFolder()); err != 0) return refuse(err, ToolFolder() + ": " + std::strerror(err));
  const std::string link = LinkFor(comNumber);
  const std::string name = "COM" + std::to_string(comNumber);
  // Where nothing stands, the link is made in one step that fails if
  // another simulator made one meanwhile.
  if (::symlink(devicePath.c_str(), link.c_str()) == 0) return 0;
  if (errno != EEXIST) return refuse(errno, link + ": " + std::strerror(errno));
  struct stat st;
  if (::lstat(link.c_str(), &st) != 0) return refuse(errno, link + ": " + std::strerror(errno));
  if (!S_ISLNK(st.st_mode))
    return refuse(EEXIST, link + " is not a link; " + name + " is left alone (remove it, or choose another --com)");
  char target[4096];
  const ssize_t len = ::readlink(link.c_str(), target, sizeof target - 1);
  const std::string to = len > 0 ? std::string(target, static_cast<size_t>(len)) : "";
  // A new port after a hang-up may get the old one's number back.
  if (to == devicePath) return 0;
  // A simulator's pseudo-terminal goes away with it: a link that still
  // leads somewhere belongs to a running simulator or to the operator,
  // unless it is this simulator's own port from before a hang-up (the host
  // may still hold that one open, which keeps its device alive).
  const bool ours = !ownPrevious.empty() && to == ownPrevious;
  if (!ours && ::stat(link.c_str(), &st) == 0)
    return refuse(EBUSY, name + " already leads to " + to + " (" + link + "); it is left alone (choose another --com)");
  const std::string fresh = link + ".sim." + std::to_string(::getpid());
  ::unlink(fresh.c_str());
  if (::symlink(devicePath.c_str(), fresh.c_str()) != 0) return refuse(errno, fresh + ": " + std::strerror(errno));
  if (::rename(fresh.c_str(), link.c_str()) != 0) {
    const int err = errno;
    ::unlink(fresh.c_str());
    return refuse(err, link + ": " + std::strerror(err));
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
