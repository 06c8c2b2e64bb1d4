#pragma once
// NAND dump and partial erase of an inclusive range of the NAND flash.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

// True when the range was dumped into the chosen file (or erased); a
// failing job has already reported its own failure.
bool NandDumpJob(JobContext& ctx, uint8_t code);
// The thread procedure of the NAND dump button (exit code 1).
int NandDumpProc(JobContext& ctx);

}  // namespace vantrel
