#include "link/DeviceErrors.h"

#include <cerrno>
#include <cstring>

namespace vantrel {

std::string OpenFailureText(int err, const std::string& path, const std::string& group, const std::string& holder) {
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return path + ": no such device (is the cable plugged in and the port mapped?)";
    case EACCES:
    case EPERM: {
      std::string why = path + ": permission denied";
      if (!group.empty()) {
        why += "; the device belongs to group '" + group + "' (add the user to it: usermod -aG " + group +
               " $USER, then log in again)";
      }
      return why;
    }
    case EBUSY:
    case EWOULDBLOCK:
      return holder.empty() ? path + ": busy, in use by another program" : path + ": busy, held by " + holder;
    case ENOTTY:
      return path + ": not a serial device";
    default:
      return path + ": " + std::strerror(err);
  }
}

}  // namespace vantrel
