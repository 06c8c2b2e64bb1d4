#pragma once
// Waits that follow the handset simulator instead of the clock, for tests.
//
// Tests and the simulator runs scale the protocol's pauses and idle budgets
// down. On a busy machine the simulator's thread may then not get a core
// before a budget runs out, or before a purge discards what it had not read
// yet: a race that a real line, with its real pauses, never runs. The
// simulator therefore says what its thread does (it works, it waits for the
// host, or it waits for a timer of its own) in the window-size record of its
// pseudo-terminal, with a count of what it has said. A device that follows it
// makes the waits depend on that:
// - an idle poll of a transfer counts only while the handset waits for the
//   host and nothing it sent is left unread, so an idle budget runs out for a
//   silent handset only, never for one whose thread waits for a core;
// - a fixed pause, a purge, a rate change and a close wait until the handset
//   has taken in what the host did and waits again (every pause of the
//   protocol gives it time for that, and a real line delivers what was
//   written before a purge).
// A line whose far end is not the simulator is left as it is; so is
// production timing, which never installs any of this.
#include <memory>

#include "link/SerialDevice.h"

namespace vantrel {

// `device`, following the simulator on whatever line it opens.
std::unique_ptr<SerialDevice> FollowSimulator(std::unique_ptr<SerialDevice> device);

// While on, every fixed pause (link/Timing.h) also waits until the simulator
// on each line opened through FollowSimulator has done what the pause gives
// it time for. Calls nest: it is off again after as many offs as ons.
void GatePausesOnSimulators(bool on);

// The window-size record as the simulator fills it (sim/Wire.h): a mark, the
// activity, and the count of what it has said, low half first.
inline constexpr unsigned short kSimulatorMark = 0x5653;
enum class SimulatorActivity : unsigned short { Busy = 1, AwaitsTimer = 2, AwaitsHost = 3 };

}  // namespace vantrel
