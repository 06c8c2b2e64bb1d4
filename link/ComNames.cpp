// The parts of the COM names that are the same everywhere; where a name
// leads by default is each platform's own (ComNamesPosix.cpp,
// ComNamesWin32.cpp).
#include "link/ComNames.h"

#include <cctype>
#include <map>
#include <mutex>

namespace vantrel {
namespace {

std::mutex g_overrideMutex;
std::map<std::string, std::string>& Overrides() {
  static std::map<std::string, std::string> overrides;
  return overrides;
}

}  // namespace

int ComNumber(const std::string& name) {
  if (name.size() < 4 || name.size() > 6) return 0;
  for (int i = 0; i < 3; ++i) {
    if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
  }
  int n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

std::optional<std::string> ComOverride(const std::string& comName) {
  std::lock_guard<std::mutex> lock(g_overrideMutex);
  auto it = Overrides().find(comName);
  if (it == Overrides().end()) return std::nullopt;
  return it->second;
}

void SetComOverride(const std::string& comName, const std::string& path) {
  std::lock_guard<std::mutex> lock(g_overrideMutex);
  if (path.empty()) {
    Overrides().erase(comName);
  } else {
    Overrides()[comName] = path;
  }
}

}  // namespace vantrel
