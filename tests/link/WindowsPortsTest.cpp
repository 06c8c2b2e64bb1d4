// Windows' port records turned into the port list's: COM names, USB
// identities from the instance IDs, and the descriptions made of them.
#include <gtest/gtest.h>

#include <iterator>
#include <vector>

#include "link/PortList.h"
#include "link/WindowsPorts.h"

namespace vantrel {
namespace {

struct Case {
  WindowsPortRecord record;
  const char* path;
  const char* vidPid;  // "vid:pid", empty for none
  const char* serial;
  const char* description;
};

TEST(WindowsPorts, RecordsBecomePortsWithTheirUsbIdentity) {
  const Case cases[] = {
      // FTDI's own bus: the serial number carries the chip's port letter.
      {{"COM3", "USB Serial Port (COM3)", "FT232R USB UART", "FTDI", "FTDIBUS",
        "FTDIBUS\\VID_0403+PID_6001+A50285BIA\\0000", "USB\\VID_0403&PID_6001\\A50285BI"},
       "\\\\.\\COM3", "0403:6001", "A50285BI", "FTDI FT232R USB UART (A50285BI)"},
      // Windows' CDC driver: "Microsoft" wrote the INF, not the device.
      {{"COM5", "USB Serial Device (COM5)", "Pico", "Microsoft", "usbser", "USB\\VID_2E8A&PID_000A\\E6614103E7",
        ""},
       "\\\\.\\COM5", "2e8a:000a", "E6614103E7", "Pico (E6614103E7)"},
      // One interface of a composite device: the serial number is the parent's.
      {{"COM12", "USB Serial Device (COM12)", "", "Microsoft", "usbser",
        "USB\\VID_1D50&PID_6018&MI_02\\6&A694CA9&0&0002", "USB\\VID_1D50&PID_6018\\7BB07FC6"},
       "\\\\.\\COM12", "1d50:6018", "7BB07FC6", "USB Serial Device (7BB07FC6)"},
      // No serial number: Windows makes up an ID with '&' in it.
      {{"COM4", "USB-SERIAL CH340 (COM4)", "", "wch.cn", "CH341SER_A64", "USB\\VID_1A86&PID_7523\\5&2B3C2D1&0&2",
        "USB\\ROOT_HUB30\\4&1234&0&0"},
       "\\\\.\\COM4", "1a86:7523", "", "wch.cn USB-SERIAL CH340"},
      // Not on USB: the port's own name.
      {{"COM1", "Communications Port (COM1)", "", "(Standard port types)", "Serial", "ACPI\\PNP0501\\0",
        "ACPI\\PNP0A08\\0"},
       "\\\\.\\COM1", "", "", "Communications Port"},
  };
  std::vector<WindowsPortRecord> records;
  for (const Case& c : cases) records.push_back(c.record);
  // A printer port and a device without a port name are no serial ports.
  records.push_back({"LPT1", "Printer Port (LPT1)", "", "", "Parport", "ACPI\\PNP0401\\0", ""});
  records.push_back({"", "Broken", "", "", "", "ROOT\\PORTS\\0000", ""});

  const std::vector<SerialPortInfo> ports = PortsFromRecords(records);
  ASSERT_EQ(ports.size(), std::size(cases));
  const int order[] = {4, 0, 3, 1, 2};  // COM1, COM3, COM4, COM5, COM12
  for (size_t i = 0; i < ports.size(); ++i) {
    const Case& c = cases[order[i]];
    const SerialPortInfo& p = ports[i];
    SCOPED_TRACE(c.path);
    EXPECT_EQ(p.path, c.path);
    EXPECT_EQ(p.usb ? p.vendorId + ":" + p.productId : "", c.vidPid);
    EXPECT_EQ(p.serial, c.serial);
    EXPECT_EQ(DescribePort(p), c.description);
  }
}

}  // namespace
}  // namespace vantrel
