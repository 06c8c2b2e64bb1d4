#pragma once
// Makes this process's serial link wait for a handset in the same process.
//
// While a tap is registered, every serial device the link opens is wrapped:
// a purge, a rate change or a close on the tap's port first waits (briefly)
// until the handset has taken every byte written to it. On a real line the
// host's own pauses let the bytes go out; with them scaled to nothing a
// pseudo-terminal would drop what the handset had not read yet.
#include <memory>

#include "sim/HostTap.h"

namespace vantrel::test {

// The first registration installs the wrapping serial factory; removing the
// last one restores the factory that was there before.
void RegisterHostTap(const std::shared_ptr<sim::HostTap>& tap);
void UnregisterHostTap(const std::shared_ptr<sim::HostTap>& tap);

}  // namespace vantrel::test
