#include "link/PortList.h"

#include <cctype>
#include <filesystem>
#include <system_error>

#include "link/ComNames.h"

namespace vantrel {
namespace {

// Device strings come from whatever is plugged in: a control character or
// an endless name must not reach a terminal or a one-line list entry.
constexpr size_t kMaxNameChars = 64;

std::string Clean(const std::string& text) {
  std::string out;
  for (char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    const bool blank = c < 0x20 || c == 0x7F || c == ' ';
    if (blank) {
      if (!out.empty() && out.back() != ' ') out += ' ';
    } else {
      out += ch;
    }
    if (out.size() >= kMaxNameChars) {
      // Cut before a character that the limit would split.
      while (!out.empty() && (static_cast<unsigned char>(out.back()) & 0xC0) == 0x80) out.pop_back();
      if (!out.empty() && static_cast<unsigned char>(out.back()) >= 0xC0) out.pop_back();
      break;
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

// "Future Technology Devices International, Ltd" -> "Future Technology
// Devices International": the legal form says nothing about the adapter.
std::string ShortVendor(const std::string& name) { return name.substr(0, name.find(',')); }

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (prefix.empty() || text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != std::tolower(static_cast<unsigned char>(prefix[i])))
      return false;
  }
  return true;
}

// Links such as /dev/serial/by-id/... and the settings folder's own links
// lead to the node the lister names; compare where they end.
std::string Canonical(const std::string& path) {
  std::error_code ec;
  const std::filesystem::path resolved = std::filesystem::canonical(path, ec);
  return ec ? path : resolved.string();
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::exists(path, ec);
}

bool IsCharacterDevice(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_character_file(path, ec);
}

// Anything at `path`, a link whose target is gone included.
bool IsLink(const std::string& path) {
  std::error_code ec;
  return !path.empty() && std::filesystem::exists(std::filesystem::symlink_status(path, ec));
}

std::string Join(const std::string& a, const std::string& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  return a + "  " + b;
}

}  // namespace

std::string AdapterSerialOf(const std::string& device) {
  if (device.empty()) return "";
  const std::string node = Canonical(device);
  // A pseudo-terminal (a simulated handset) has no adapter: no need to ask
  // udev about every serial device of the machine.
  if (node.rfind("/dev/pts/", 0) == 0) return "";
  for (const SerialPortInfo& port : MakeSystemPortLister()->List())
    if (Exists(port.path) && Canonical(port.path) == node) return port.usb ? port.serial : "";
  return "";
}

std::string DescribePort(const SerialPortInfo& port) {
  // Windows names a port that is not on USB ("Communications Port",
  // "Standard Serial over Bluetooth link"); udev does not.
  if (!port.usb) return port.product.empty() ? "built-in UART" : Clean(port.product);
  // The device's own strings name the exact part ("FT232R USB UART"); the
  // ID database fills in for a device that gives none.
  const std::string vendor = Clean(port.manufacturer.empty() ? ShortVendor(port.vendorName) : port.manufacturer);
  const std::string product = Clean(port.product.empty() ? port.modelName : port.product);
  std::string text;
  if (product.empty()) {
    text = vendor.empty() ? "USB device " + Clean(port.vendorId + ":" + port.productId) : vendor;
  } else {
    text = StartsWithNoCase(product, vendor) || vendor.empty() ? product : vendor + " " + product;
  }
  if (const std::string serial = Clean(port.serial); !serial.empty()) text += " (" + serial + ")";
  return text;
}

PortTable BuildPortTable(const std::vector<SerialPortInfo>& devices) {
  PortTable table;
  std::vector<std::string> nodes;
  for (const SerialPortInfo& d : devices) nodes.push_back(Canonical(d.path));
  std::vector<bool> reached(devices.size(), false);

  for (int n = 1; n <= kMaxComNumber; ++n) {
    ComEntry e;
    e.comNumber = n;
    e.path = ComDevicePath(e.Name());
    e.linked = IsLink(ComLinkPath(n));
    const std::string node = Canonical(e.path);
    for (size_t i = 0; i < devices.size(); ++i) {
      if (nodes[i] != node) continue;
      e.device = devices[i];
      e.present = true;
      e.description = DescribePort(devices[i]);
      reached[i] = true;
      break;
    }
    // A link leads where the operator (or the simulator) pointed it, often
    // a pseudo-terminal that no lister enumerates.
    // A target that is no character device (a file, a folder, a FIFO) can
    // be no serial line: nothing is there to open.
    if (!e.device && e.linked) {
      e.present = IsCharacterDevice(e.path);
      if (!e.present) e.description = Exists(e.path) ? "not a serial device" : "not present";
      else if (node.rfind("/dev/pts/", 0) == 0) e.description = "pseudo-terminal";
      else e.description = "linked device";
    }
    table.coms.push_back(std::move(e));
  }
  for (size_t i = 0; i < devices.size(); ++i) {
    if (!reached[i]) table.unreached.push_back(devices[i]);
  }
  return table;
}

std::string ComLabel(const ComEntry& entry) {
  if (!entry.present && !entry.linked) return entry.Name();
  return Join(Join(entry.Name(), entry.path), entry.description);
}

std::string UnreachedLabel(const SerialPortInfo& device) { return Join(Join("-", device.path), DescribePort(device)); }

int FreeComNumber(const PortTable& table, int preferred) {
  // A link to an adapter that is unplugged now still belongs to it.
  auto free = [&table](int n) {
    if (n < 1 || n > static_cast<int>(table.coms.size())) return false;
    const ComEntry& e = table.coms[static_cast<size_t>(n - 1)];
    return !e.present && !e.linked;
  };
  if (free(preferred)) return preferred;
  for (int n = 1; n <= static_cast<int>(table.coms.size()); ++n) {
    if (free(n)) return n;
  }
  return 0;
}

}  // namespace vantrel
