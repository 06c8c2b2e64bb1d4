#pragma once
// Operator advice about a serial port: who else may be using it, and what to
// do when it may not be opened. Plain POSIX; no Qt, no link state.
#include <memory>
#include <string>

namespace vantrel {

// True when a ModemManager process runs on this machine.
bool ModemManagerRunning(const std::string& procRoot = "/proc");

// A note for the log when `devicePath` (after links are followed) is a USB
// modem-class device (/dev/ttyACM*) and ModemManager runs: it probes such
// devices with modem commands, which disturbs a handset's boot ROM. Empty
// when there is nothing to say.
std::string ModemManagerNote(const std::string& devicePath, bool modemManagerRunning);

// When the current user may not read and write `devicePath`: the hint to
// join the group that owns it, when that is a group meant for serial ports
// (see JoinableGroup); else to ask the administrator for a udev rule. Empty
// when access is granted or the device does not exist.
std::string PermissionHint(const std::string& devicePath);
// The part of that hint that the link's own reason for a refused open does
// not give: the link names the group that grants access where there is one.
std::string PermissionHintBeyondLink(const std::string& devicePath);

// The device a path leads to, links followed; the path itself when it
// cannot be resolved.
std::string ResolveDevice(const std::string& devicePath);

// One front-end process per port. The lock lives in a small file named after
// the resolved device, held with flock() for the life of the process, so it
// also covers the gaps between operations when the link has closed the port.
class PortLock {
 public:
  // Null when another process holds the port; `why` then names it. A lock
  // without a file (the lock file cannot be used) says why in `why`. The
  // file is removed again when the lock ends.
  static std::unique_ptr<PortLock> Acquire(const std::string& devicePath, std::string* why,
                                           const std::string& lockDir = "");
  ~PortLock();
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
  const std::string& Path() const { return path_; }

 private:
  PortLock(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_;
  std::string path_;
};

}  // namespace vantrel
