#pragma once
// Which group an operator who may not open a port can be told to join, and
// the hint that tells them.
#include <string>

struct stat;

namespace vantrel {

// The name of the group that owns `st`, but only when it is a character
// device (a serial port) and the group is one meant for serial ports:
// dialout, uucp, plugdev, or the group of /dev/ttyS0. Joining the group of
// any other device (kmem, shadow, disk) or file hands out far more than a
// port. Empty when no group should be named. (Linux only.)
std::string JoinableGroup(const struct stat& st);

// When the current user may not read and write `devicePath`: the hint to
// join the group that owns it, when that is a group meant for serial ports
// (see JoinableGroup); else to ask the administrator for a udev rule. Empty
// when access is granted or the device does not exist, and on Windows.
std::string PermissionHint(const std::string& devicePath);
// The part of that hint that the link's own reason for a refused open does
// not give: the link names the group that grants access where there is one.
std::string PermissionHintBeyondLink(const std::string& devicePath);

}  // namespace vantrel
