#include "link/DeviceGroup.h"

#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "platform/Files.h"
#include "platform/TerminalText.h"

namespace vantrel {

std::string JoinableGroup(const struct stat& st) {
  if (!S_ISCHR(st.st_mode) || st.st_gid == 0) return {};
  const group* gr = ::getgrgid(st.st_gid);
  if (gr == nullptr || gr->gr_name == nullptr) return {};
  const std::string_view name = gr->gr_name;
  // The distribution's group for the machine's own serial ports, whatever
  // it is called there.
  struct stat uart {};
  const bool uartGroup = ::stat("/dev/ttyS0", &uart) == 0 && S_ISCHR(uart.st_mode) && uart.st_gid == st.st_gid;
  if (name == "dialout" || name == "uucp" || name == "plugdev" || uartGroup) return std::string(name);
  return {};
}


std::string PermissionHint(const std::string& devicePath) {
  struct stat st {};
  if (stat(devicePath.c_str(), &st) != 0) return "";
  if (access(devicePath.c_str(), R_OK | W_OK) == 0) return "";
  if (errno != EACCES && errno != EPERM) return "";
  const std::string group = JoinableGroup(st);
  const std::string dev = platform::EscapeField(platform::ResolvePath(devicePath));
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

}  // namespace vantrel
