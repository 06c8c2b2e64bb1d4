#pragma once
// What the operator is told when a serial device cannot be opened. Every
// platform's backend reports its failures as errno values, so that the same
// cause reads the same on Linux and on Windows.
#include <string>

namespace vantrel {

// "<path>: no such device (...)", "<path>: permission denied", "<path>:
// busy, in use by another program", "<path>: not a serial device", or the
// system's text for any other errno value. `group` (the group that grants
// access) and `holder` (who has the device open) are added where known.
std::string OpenFailureText(int err, const std::string& path, const std::string& group = "",
                            const std::string& holder = "");

}  // namespace vantrel
