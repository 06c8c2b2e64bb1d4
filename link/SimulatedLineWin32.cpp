// SimulatedLine.h on Windows: the simulator's window-size record lives on
// its Linux pseudo-terminal, which a serial port under Wine does not pass
// on. The line is left as it is and pauses keep the clock alone.
#include "link/SimulatedLine.h"

namespace vantrel {

std::unique_ptr<SerialDevice> FollowSimulator(std::unique_ptr<SerialDevice> device) { return device; }

void GatePausesOnSimulators(bool /*on*/) {}

}  // namespace vantrel
