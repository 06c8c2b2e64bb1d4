// PortLock.h on Windows: the serial device is opened without sharing, so a
// second program is refused by the system itself and no lock file is kept.
#include "platform/PortLock.h"

namespace vantrel::platform {

std::unique_ptr<PortLock> PortLock::Acquire(const std::string& /*devicePath*/, std::string* why,
                                            const std::string& /*lockDir*/) {
  if (why != nullptr) why->clear();
  return std::unique_ptr<PortLock>(new PortLock(-1, ""));
}

PortLock::~PortLock() = default;

}  // namespace vantrel::platform
