#include "link/DeviceErrors.h"

#include <cerrno>
#include <cstring>

#include "platform/TerminalText.h"

namespace vantrel {

std::string OpenFailureText(int err, const std::string& rawPath, const std::string& group,
                            const std::string& holder) {
  // The path may come from a link's target: one field of the reason.
  const std::string path = platform::EscapeField(rawPath);
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
      return holder.empty() ? path + ": busy, in use by another program"
                            : path + ": busy, held by " + platform::EscapeField(holder);
    case ENOTTY:
      return path + ": not a serial device";
    default:
      return path + ": " + std::strerror(err);
  }
}

}  // namespace vantrel
