#pragma once
// Serial ports as Windows lists them (the Ports device class), turned into
// the port list's own records. The SetupAPI calls that read them live in
// SetupApiPortLister.cpp; what is made of their strings is here, where it
// can be checked against a fixed list on any platform.
#include <string>
#include <vector>

#include "link/PortList.h"

namespace vantrel {

// One device of the Ports class, as read from the system.
struct WindowsPortRecord {
  std::string portName;          // "COM3" (the device's PortName value)
  std::string friendlyName;      // "USB Serial Port (COM3)"
  std::string busDescription;    // the device's own product string, "FT232R USB UART"
  std::string manufacturer;      // from the driver's INF: "FTDI", "Microsoft"
  std::string service;           // driver service: "FTDIBUS", "usbser", "Serial"
  std::string instanceId;        // "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000"
  std::string parentInstanceId;  // the parent device's, "USB\VID_0403&PID_6001\A50285BI"
};

// The serial ports among `records`, COM1 first (parallel ports and devices
// without a COM name are left out), each with its USB identity where the
// instance IDs give one.
std::vector<SerialPortInfo> PortsFromRecords(const std::vector<WindowsPortRecord>& records);

}  // namespace vantrel
