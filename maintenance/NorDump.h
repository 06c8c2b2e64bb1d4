#pragma once
// NOR dump: a half-open range of the NOR flash into a file on the PC.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

// True when the whole range is in the chosen file; a failing dump has
// already reported its own failure.
bool NorDumpJob(JobContext& ctx, uint8_t code);
// The thread procedure of the NOR dump button (exit code 1).
int NorDumpProc(JobContext& ctx);

}  // namespace vantrel
