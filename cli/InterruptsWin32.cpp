// Interrupts.h on Windows, for now: Ctrl-C keeps the console's default and
// ends the program. Its way through the job's cancel path comes with the
// platform layer's interrupt handling.
#include "cli/Interrupts.h"

namespace vantrel::cli {

void HoldInterrupts() {}

void WatchInterrupts(std::atomic<Runner*>* /*runner*/) {}

}  // namespace vantrel::cli
