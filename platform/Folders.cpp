// The part of Folders.h that is the same on every platform.
#include <cstdlib>

#include "platform/Folders.h"

namespace vantrel::platform {

std::string ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

}  // namespace vantrel::platform
