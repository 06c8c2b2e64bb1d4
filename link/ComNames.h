#pragma once
// Where a COM name ("COM1" to "COM50") leads on this machine.
//
// Lookup order:
//  1. an in-process override (SetComOverride; the command line uses it for a
//     device path given directly);
//  2. a link named after the port in the tool's settings folder
//     ($XDG_CONFIG_HOME/vantrel-downloader/COM7 -> /dev/ttyUSB0); the handset
//     simulator creates such a link for its pseudo-terminal;
//  3. the default: COMn is /dev/ttyUSB<n-1> if that exists, else
//     /dev/ttyACM<n-1> if that exists, else /dev/ttyS<n-1>.
// A name that starts with '/' is taken as a device path as it is; any other
// name that is not COMn is looked for in /dev ("ttyAMA0").
//
// On Windows the names are the system's own: COMn opens "\\.\COMn", a name
// that starts with "\\" is a device path as it is, and there are no links
// (ComLinkPath is empty and MapComPort refuses with ENOTSUP).
#include <optional>
#include <string>

#include "platform/Folders.h"

namespace vantrel {

// The ports an operator can choose: COM1 to COM50 (indices 0 to 49).
inline constexpr int kComPortCount = 50;

// $XDG_CONFIG_HOME/vantrel-downloader (or ~/.config/vantrel-downloader);
// %APPDATA%\vantrel-downloader on Windows.
using platform::SettingsFolder;

// "COM7" -> 7; 0 for anything else. Callers write "COM%d"; lower case is
// accepted too because operators type it that way on the command line.
int ComNumber(const std::string& name);

std::string ComDevicePath(const std::string& comName);

// SettingsFolder()/COMn: where the link for a COM name lives, if there is one.
std::string ComLinkPath(int comNumber);

// Empty path removes the override.
void SetComOverride(const std::string& comName, const std::string& path);
// The path an override gives `comName`, if one does.
std::optional<std::string> ComOverride(const std::string& comName);

// Whether this tool may give a device a COM name (MapComPort). Windows names
// its ports itself, so there the window offers no "map to COMn".
bool ComNamesCanBeMapped();

// Makes the link SettingsFolder()/COMn point at `path` (creating the folder).
// Returns 0 or errno.
[[nodiscard]] int MapComPort(int comNumber, const std::string& path);
[[nodiscard]] int UnmapComPort(int comNumber);

}  // namespace vantrel
