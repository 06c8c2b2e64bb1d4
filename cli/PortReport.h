#pragma once
// `vantrel-cli --list-ports`: the COM names that reach something, with the
// device path and description the window shows, then the devices that no
// COM name reaches.
#include <cstdio>

#include "link/PortList.h"

namespace vantrel::cli {

// Text: one line per port ("COM3  /dev/ttyUSB2  FTDI FT232R USB UART
// (A50285BI)"). JSON: one "port" object per line; a device without a COM
// name has "com": null.
void PrintPorts(const PortTable& table, bool json, std::FILE* out);

}  // namespace vantrel::cli
