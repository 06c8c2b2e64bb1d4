// COM names are the system's own on Windows: COMn is the device "\\.\COMn"
// (the plain name reaches only COM1 to COM9), and there are no links to map.
#include <cerrno>

#include "link/ComNames.h"

namespace vantrel {

std::string ComLinkPath(int /*comNumber*/) { return {}; }

std::string ComDevicePath(const std::string& comName) {
  if (comName.rfind("\\\\", 0) == 0) return comName;
  if (std::optional<std::string> path = ComOverride(comName)) return *path;
  const int n = ComNumber(comName);
  return "\\\\.\\" + (n > 0 ? "COM" + std::to_string(n) : comName);
}

bool ComNamesCanBeMapped() { return false; }

int MapComPort(int /*comNumber*/, const std::string& /*path*/) { return ENOTSUP; }

int UnmapComPort(int comNumber) { return comNumber <= 0 ? EINVAL : 0; }

}  // namespace vantrel
