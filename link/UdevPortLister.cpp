// Serial devices from libudev: the tty devices that have hardware behind
// them, with the USB strings and ID database names of their USB device.
#include <libudev.h>

#include <cctype>

#include "link/PortList.h"

namespace vantrel {
namespace {

std::string Text(const char* s) { return s != nullptr ? s : ""; }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

class UdevPortLister : public PortLister {
 public:
  UdevPortLister() : udev_(udev_new()) {
    if (udev_ == nullptr) return;
    hwdb_ = udev_hwdb_new(udev_);
    // Events after udev has made the node and its links; without a udev
    // daemon nothing arrives and the list is refreshed on demand only.
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor_ != nullptr && (udev_monitor_filter_add_match_subsystem_devtype(monitor_, "tty", nullptr) < 0 ||
                                udev_monitor_enable_receiving(monitor_) < 0)) {
      udev_monitor_unref(monitor_);
      monitor_ = nullptr;
    }
  }
  ~UdevPortLister() override {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (hwdb_ != nullptr) udev_hwdb_unref(hwdb_);
    if (udev_ != nullptr) udev_unref(udev_);
  }
  UdevPortLister(const UdevPortLister&) = delete;
  UdevPortLister& operator=(const UdevPortLister&) = delete;

  std::vector<SerialPortInfo> List() override {
    std::vector<SerialPortInfo> ports;
    if (udev_ == nullptr) return ports;
    udev_enumerate* e = udev_enumerate_new(udev_);
    if (e == nullptr) return ports;
    udev_enumerate_add_match_subsystem(e, "tty");
    udev_enumerate_scan_devices(e);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e)) {
      udev_device* dev = udev_device_new_from_syspath(udev_, udev_list_entry_get_name(entry));
      if (dev == nullptr) continue;
      if (auto port = Describe(dev)) ports.push_back(std::move(*port));
      udev_device_unref(dev);
    }
    udev_enumerate_unref(e);
    return ports;
  }

  int WatchFd() override { return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1; }

  bool TakeChanges() override {
    if (monitor_ == nullptr) return false;
    bool changed = false;
    while (udev_device* dev = udev_monitor_receive_device(monitor_)) {
      const std::string action = Text(udev_device_get_action(dev));
      if (action == "add" || action == "remove" || action == "change") changed = true;
      udev_device_unref(dev);
    }
    return changed;
  }

 private:
  std::optional<SerialPortInfo> Describe(udev_device* dev) const {
    const char* node = udev_device_get_devnode(dev);
    // Virtual terminals, the console and pty masters have no parent device.
    udev_device* parent = udev_device_get_parent(dev);
    if (node == nullptr || parent == nullptr) return std::nullopt;
    // The 8250 driver registers ports for UARTs that are not fitted; their
    // port type is 0 (unknown) and nothing answers on them.
    if (Text(udev_device_get_sysattr_value(dev, "type")) == "0") return std::nullopt;

    // Newer kernels put the serial core's own port devices between the tty
    // and the hardware; the hardware's bus and driver are what tell ports apart.
    while (Text(udev_device_get_subsystem(parent)) == "serial-base" && udev_device_get_parent(parent) != nullptr)
      parent = udev_device_get_parent(parent);

    SerialPortInfo p;
    p.path = node;
    p.subsystem = Text(udev_device_get_subsystem(parent));
    p.driver = Text(udev_device_get_driver(parent));
    udev_list_entry* link;
    udev_list_entry_foreach(link, udev_device_get_devlinks_list_entry(dev)) {
      const std::string name = Text(udev_list_entry_get_name(link));
      if (name.rfind("/dev/serial/by-id/", 0) == 0) p.stablePath = name;
    }
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
    if (usb == nullptr) return p;
    p.usb = true;
    p.vendorId = Text(udev_device_get_sysattr_value(usb, "idVendor"));
    p.productId = Text(udev_device_get_sysattr_value(usb, "idProduct"));
    p.manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
    p.product = Text(udev_device_get_sysattr_value(usb, "product"));
    p.serial = Text(udev_device_get_sysattr_value(usb, "serial"));
    p.vendorName = Text(udev_device_get_property_value(dev, "ID_VENDOR_FROM_DATABASE"));
    p.modelName = Text(udev_device_get_property_value(dev, "ID_MODEL_FROM_DATABASE"));
    if ((p.vendorName.empty() || p.modelName.empty()) && hwdb_ != nullptr) LookUpNames(p);
    return p;
  }

  // The udev daemon puts the database names on the device; where it does
  // not run (containers, early boot) the database is asked directly.
  void LookUpNames(SerialPortInfo& p) const {
    const std::string modalias = "usb:v" + Upper(p.vendorId) + "p" + Upper(p.productId);
    udev_list_entry* entry;
    udev_list_entry_foreach(entry, udev_hwdb_get_properties_list_entry(hwdb_, modalias.c_str(), 0)) {
      const std::string key = Text(udev_list_entry_get_name(entry));
      const std::string value = Text(udev_list_entry_get_value(entry));
      if (key == "ID_VENDOR_FROM_DATABASE" && p.vendorName.empty()) p.vendorName = value;
      if (key == "ID_MODEL_FROM_DATABASE" && p.modelName.empty()) p.modelName = value;
    }
  }

  udev* udev_ = nullptr;
  udev_hwdb* hwdb_ = nullptr;
  udev_monitor* monitor_ = nullptr;
};

}  // namespace

std::unique_ptr<PortLister> MakeUdevPortLister() { return std::make_unique<UdevPortLister>(); }
std::unique_ptr<PortLister> MakeSystemPortLister() { return MakeUdevPortLister(); }

}  // namespace vantrel
