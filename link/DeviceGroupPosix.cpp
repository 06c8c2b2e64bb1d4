#include "link/DeviceGroup.h"

#include <grp.h>

#include <string_view>

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

}  // namespace vantrel
