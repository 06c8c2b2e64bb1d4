#pragma once
// Makes this process's serial link wait for a handset in the same process on
// events instead of the clock (sim/HostTap.h).
//
// While a tap is registered, every serial device the link opens is wrapped,
// and on the tap's port:
// - an idle poll of a transfer counts only while the handset waits for the
//   host with nothing on its way, so an idle budget runs out only for a
//   handset that is silent, never for one whose thread waits for a core;
// - a fixed pause ends only once the handset has taken in what it was sent
//   and waits again (every pause of the protocol gives it time for that);
// - a purge, a rate change or a close first waits until the handset has
//   taken every byte written to it, as a real line delivers them.
// A wait that the handset leaves unanswered for seconds gives up and lets the
// host go on as it would on a real line.
#include <memory>

#include "sim/HostTap.h"

namespace vantrel::test {

// The first registration installs the wrapping serial factory and the pause
// gate; removing the last one restores what was there before.
void RegisterHostTap(const std::shared_ptr<sim::HostTap>& tap);
void UnregisterHostTap(const std::shared_ptr<sim::HostTap>& tap);

}  // namespace vantrel::test
