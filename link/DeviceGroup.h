#pragma once
// Which group an operator who may not open a port can be told to join.
#include <sys/stat.h>

#include <string>

namespace vantrel {

// The name of the group that owns `st`, but only when it is a character
// device (a serial port) and the group is one meant for serial ports:
// dialout, uucp, plugdev, or the group of /dev/ttyS0. Joining the group of
// any other device (kmem, shadow, disk) or file hands out far more than a
// port. Empty when no group should be named.
std::string JoinableGroup(const struct stat& st);

}  // namespace vantrel
