#pragma once
// Bringing up a flash loader on the handset and naming the flash part it
// reports: job steps, not jobs of their own. Each returns true on success; a
// failing step has already reported (log line and message box).
#include <cstdint>
#include "jobs/JobState.h"
#include "link/ComLink.h"

namespace vantrel {

// Before anything is sent that leads to a payload upload: false (after a red
// log line and a failure box naming the reason) when the payload folder was
// refused, so that nothing reaches the handset. With `warn`, the built-in
// stand-ins are named in red, since a real handset cannot start with them.
bool PayloadsReady(JobContext& ctx, bool warn);

// Flash loader uploads and the flash-type check.
bool DownloadNorFlashDriver(JobContext& ctx, ComLink& link);
bool DownloadNandFlashDriver(JobContext& ctx, ComLink& link, int variant);  // 32: port already open; 1: others
bool ShowFlashType(JobContext& ctx, uint8_t deviceId);
// A running loader serves the commands of its own flash only; one flash's
// job must not reach the other flash's loader.
// When `loader` is known to run, it is told to give way (the reconnect step);
// the controls stay busy, as the job goes on.
void ReconnectAwayFrom(JobContext& ctx, uint8_t loader);
// NAND work: when the NOR loader is known to run, it gives way and (on the
// UART) the NAND loader is brought up. False when that upload failed (it has
// reported) or the job was stopped.
bool EnsureNandLoader(JobContext& ctx);
// The console's loader-upload link: named after the chosen port, at the base
// rate, unless it is still open from the connect step.
ComLink& LoaderLink(JobContext& ctx);

}  // namespace vantrel
