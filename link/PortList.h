#pragma once
// Which serial devices this machine has, and which COM name reaches each.
//
// "COM1" to "COM50" say nothing about which adapter is which; the operator
// needs the device path and a description ("FTDI FT232R USB UART
// (A50285BI)") beside each name, and a way to give a name to a device that
// no name reaches yet. Enumeration sits behind PortLister so that the table
// and its texts can be built from a fixed list; the system's backend (udev,
// SetupAPI) is the one the programs use.
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

inline constexpr int kMaxComNumber = 50;

// One serial device as the system enumerates it.
struct SerialPortInfo {
  std::string path;       // device node, "/dev/ttyUSB0"; "\\.\COM3" on Windows
  std::string stablePath; // "/dev/serial/by-id/..." where there is one: survives replugging
  std::string subsystem;  // bus of the device behind the tty: "usb-serial", "usb", "pnp", "platform"
                          // (Windows: the enumerator, "usb", "ftdibus", "acpi")
  std::string driver;     // "ftdi_sio", "cdc_acm", "serial" (Windows: the service, "FTDIBUS", "usbser")
  bool usb = false;
  std::string vendorId, productId;  // USB, four hex digits each
  std::string manufacturer;         // the device's own strings
  std::string product;              // (Windows: also the port's name when it is not on USB)
  std::string serial;
  std::string vendorName;  // USB ID database names
  std::string modelName;
};

class PortLister {
 public:
  virtual ~PortLister() = default;
  virtual std::vector<SerialPortInfo> List() = 0;
  // A descriptor that becomes readable when a serial device comes or goes;
  // -1 when this lister cannot watch.
  virtual int WatchFd() { return -1; }
  // Reads what made WatchFd readable; true if a serial device came or went.
  virtual bool TakeChanges() { return false; }
};

// The platform's lister: libudev with its monitor on Linux, SetupAPI on
// Windows (no watch there). Never null; on a machine without udev it lists
// nothing.
std::unique_ptr<PortLister> MakeSystemPortLister();
// The libudev lister by its own name (Linux builds only).
std::unique_ptr<PortLister> MakeUdevPortLister();

// The USB serial number of the adapter behind `device` (a path or a link to
// one); empty when the system lists none for it.
std::string AdapterSerialOf(const std::string& device);

// "FTDI FT232R USB UART (A50285BI)"; "built-in UART" for a port that is not
// on USB.
std::string DescribePort(const SerialPortInfo& port);

// Where one COM name leads.
struct ComEntry {
  int comNumber = 0;
  std::string path;        // what opening the name opens
  bool linked = false;     // a link in the settings folder says so
  bool present = false;    // a serial device (a character device) is there to open
  std::optional<SerialPortInfo> device;  // the enumerated device it reaches
  std::string description;               // empty when nothing is present

  std::string Name() const { return "COM" + std::to_string(comNumber); }
};

struct PortTable {
  std::vector<ComEntry> coms;               // COM1 to COM50, in order
  std::vector<SerialPortInfo> unreached;    // devices that no COM name reaches
};

// Pairs every COM name with the device it reaches. A name that leads to a
// node the lister does not know (a placeholder ttyS without hardware) is not
// present; a link in the settings folder is shown with its target whatever
// that is, because the operator made it, but only a character device there
// is present ("not a serial device" otherwise).
PortTable BuildPortTable(const std::vector<SerialPortInfo>& devices);

// "COM3  /dev/ttyUSB2  FTDI FT232R USB UART (A50285BI)"; "COM3" alone when
// the name reaches nothing.
std::string ComLabel(const ComEntry& entry);
// A line for a device without a COM name: "-     /dev/ttyACM1  ...".
std::string UnreachedLabel(const SerialPortInfo& device);

// The COM name to give a device that none reaches: `preferred` when that
// name reaches nothing present, else the lowest such name; 0 when all fifty
// are taken.
int FreeComNumber(const PortTable& table, int preferred = 0);

}  // namespace vantrel
