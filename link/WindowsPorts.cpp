#include "link/WindowsPorts.h"

#include <algorithm>
#include <cctype>

#include "link/ComNames.h"

namespace vantrel {
namespace {

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::vector<std::string> Split(const std::string& text, char sep) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t pos; (pos = text.find(sep, start)) != std::string::npos; start = pos + 1)
    parts.push_back(text.substr(start, pos - start));
  parts.push_back(text.substr(start));
  return parts;
}

// The four hex digits after "VID_" or "PID_" in one part of an ID, lower
// case as udev gives them; empty when the part is something else.
std::string IdAfter(const std::string& part, const char* key) {
  const std::string upper = Upper(part);
  if (upper.rfind(key, 0) != 0 || part.size() < 8) return {};
  const std::string digits = part.substr(4, 4);
  for (char c : digits)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return {};
  return Lower(digits);
}

// A USB serial number in the last part of an instance ID. Windows makes up
// an ID with '&' in it for a device that has no serial number.
std::string SerialIn(const std::string& part) { return part.find('&') == std::string::npos ? part : ""; }

struct UsbIdentity {
  bool usb = false;
  std::string vendorId, productId, serial;
};

// "USB\VID_0403&PID_6001\A50285BI": a USB device, its serial number last;
// "USB\VID_1D50&PID_6018&MI_02\6&A694CA9&0&0002": one interface of a
// composite device (its serial number is on the parent);
// "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000": FTDI's own bus, the serial
// number with the chip's port letter after it.
UsbIdentity Identify(const std::string& instanceId) {
  UsbIdentity id;
  const std::vector<std::string> parts = Split(instanceId, '\\');
  if (parts.size() < 2) return id;
  const std::string bus = Upper(parts[0]);
  if (bus == "USB") {
    for (const std::string& field : Split(parts[1], '&')) {
      if (std::string v = IdAfter(field, "VID_"); !v.empty()) id.vendorId = v;
      if (std::string p = IdAfter(field, "PID_"); !p.empty()) id.productId = p;
    }
    id.usb = !id.vendorId.empty();
    const bool interface = Upper(parts[1]).find("&MI_") != std::string::npos;
    if (id.usb && !interface && parts.size() >= 3) id.serial = SerialIn(parts[2]);
  } else if (bus == "FTDIBUS") {
    const std::vector<std::string> fields = Split(parts[1], '+');
    for (const std::string& field : fields) {
      if (std::string v = IdAfter(field, "VID_"); !v.empty()) id.vendorId = v;
      if (std::string p = IdAfter(field, "PID_"); !p.empty()) id.productId = p;
    }
    id.usb = !id.vendorId.empty();
    if (id.usb && fields.size() >= 3 && fields[2].size() > 1) {
      std::string serial = fields[2];
      if (serial.back() >= 'A' && serial.back() <= 'D') serial.pop_back();
      id.serial = serial;
    }
  }
  return id;
}

// "USB Serial Port (COM3)" -> "USB Serial Port".
std::string WithoutPortName(const std::string& friendly, const std::string& port) {
  const std::string tail = " (" + port + ")";
  if (friendly.size() > tail.size() && Upper(friendly.substr(friendly.size() - tail.size())) == Upper(tail))
    return friendly.substr(0, friendly.size() - tail.size());
  return friendly;
}

// Class drivers name the author of their INF file, not the maker of the
// device: Windows' own CDC driver says "Microsoft", the built-in UARTs
// "(Standard port types)".
bool NamesTheMaker(const std::string& manufacturer) {
  return !manufacturer.empty() && manufacturer[0] != '(' && Lower(manufacturer) != "microsoft";
}

}  // namespace

std::vector<SerialPortInfo> PortsFromRecords(const std::vector<WindowsPortRecord>& records) {
  std::vector<std::pair<int, SerialPortInfo>> found;
  for (const WindowsPortRecord& r : records) {
    const int number = ComNumber(r.portName);
    if (number <= 0) continue;
    SerialPortInfo p;
    p.path = "\\\\.\\" + Upper(r.portName);
    p.driver = r.service;
    p.subsystem = Lower(Split(r.instanceId, '\\')[0]);
    UsbIdentity id = Identify(r.instanceId);
    const UsbIdentity parent = Identify(r.parentInstanceId);
    if (!id.usb && parent.usb) id = parent;
    if (id.usb && id.serial.empty() && parent.vendorId == id.vendorId && parent.productId == id.productId)
      id.serial = parent.serial;
    p.usb = id.usb;
    p.vendorId = id.vendorId;
    p.productId = id.productId;
    p.serial = id.serial;
    if (NamesTheMaker(r.manufacturer)) p.manufacturer = r.manufacturer;
    p.product = !r.busDescription.empty() ? r.busDescription : WithoutPortName(r.friendlyName, r.portName);
    found.emplace_back(number, std::move(p));
  }
  std::stable_sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<SerialPortInfo> ports;
  for (auto& f : found) ports.push_back(std::move(f.second));
  return ports;
}

}  // namespace vantrel
