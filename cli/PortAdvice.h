#pragma once
// Operator advice about a serial port: who else may be using it, and what to
// do when it may not be opened. No Qt, no link state.
#include <memory>
#include <string>

#include "link/DeviceGroup.h"
#include "platform/PortLock.h"

namespace vantrel {

// True when a ModemManager process runs on this machine.
bool ModemManagerRunning(const std::string& procRoot = "/proc");

// A note for the log when `devicePath` (after links are followed) is a USB
// modem-class device (/dev/ttyACM*) and ModemManager runs: it probes such
// devices with modem commands, which disturbs a handset's boot ROM. Empty
// when there is nothing to say.
std::string ModemManagerNote(const std::string& devicePath, bool modemManagerRunning);

// The device a path leads to, links followed; the path itself when it
// cannot be resolved.
std::string ResolveDevice(const std::string& devicePath);

// One front-end process per port (a lock file on Linux; the port's own
// exclusive open on Windows).
using platform::PortLock;

}  // namespace vantrel
