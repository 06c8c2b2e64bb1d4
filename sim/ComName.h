#pragma once
// Publishing the simulator's pseudo-terminal under a COM name.
//
// The tool looks a name "COMn" up as a symbolic link COMn in its settings
// folder ($XDG_CONFIG_HOME/vantrel-downloader, else ~/.config/...) before it
// tries the machine's own serial devices. The simulator plays the cable: it
// puts its device there, as an operator would for a real adapter, and knows
// the convention from the tool's documentation rather than from its code.
#include <string>

namespace vantrel::sim {

// Points COM<n> at `devicePath`, replacing any earlier link in one step so
// that a reader never finds the name missing. 0 or errno.
int PublishComName(int comNumber, const std::string& devicePath);

// Removes COM<n> if it still leads to `devicePath` (another simulator may
// have taken the name since).
void WithdrawComName(int comNumber, const std::string& devicePath);

}  // namespace vantrel::sim
