// The part of Folders.h that is the same on every platform.
#include <cstdlib>

#include "platform/Folders.h"

namespace vantrel::platform {

std::string ProcessEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string FolderOf(const std::string& path) {
  const size_t last = path.find_last_of(PathSeparators());
  return last == std::string::npos || last == 0 ? std::string() : path.substr(0, last);
}

}  // namespace vantrel::platform
