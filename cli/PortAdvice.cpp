#include "cli/PortAdvice.h"

#include <filesystem>
#include <fstream>

#include "platform/Files.h"
#include "platform/TerminalText.h"

namespace vantrel {

bool ModemManagerRunning(const std::string& procRoot) {
  // Without a process folder (Windows) there is no ModemManager either.
  std::error_code ec;
  for (std::filesystem::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string pid = it->path().filename().string();
    if (pid.empty() || pid[0] < '1' || pid[0] > '9') continue;
    std::ifstream comm(procRoot + "/" + pid + "/comm");
    std::string name;
    if (std::getline(comm, name) && name == "ModemManager") return true;
  }
  return false;
}

std::string ResolveDevice(const std::string& devicePath) { return platform::ResolvePath(devicePath); }

std::string ModemManagerNote(const std::string& devicePath, bool modemManagerRunning) {
  if (!modemManagerRunning) return "";
  std::string dev = ResolveDevice(devicePath);
  std::string base = dev.substr(dev.rfind('/') + 1);
  if (base.rfind("ttyACM", 0) != 0) return "";
  return "ModemManager is running and probes " + platform::EscapeField(dev) +
         " with modem commands, which disturbs the handset's boot ROM. Keep it away from the handset "
         "with the udev rule 70-vantrel-modemmanager.rules (see the README), or stop ModemManager "
         "while flashing.";
}

}  // namespace vantrel
