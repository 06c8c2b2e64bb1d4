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

// Points COM<n> at `devicePath` where nothing stands at that name, or where
// a link stands that leads nowhere any more (left by a simulator that is no
// longer running; it is replaced in one step, so that a reader never finds
// the name missing). Anything else there is left alone: a file, a folder,
// and a link that leads to a device, which is an operator's mapping or a
// running simulator's. A link to `ownPrevious`, the port this simulator
// published before a hang-up, is its own and is replaced too: the old
// device may outlive its master for as long as the host keeps it open.
// 0, or errno with `why` saying what stands there.
int PublishComName(int comNumber, const std::string& devicePath, const std::string& ownPrevious, std::string* why);

// Removes COM<n> if it still leads to `devicePath` (another simulator may
// have taken the name since).
void WithdrawComName(int comNumber, const std::string& devicePath);

}  // namespace vantrel::sim
