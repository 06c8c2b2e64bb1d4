#pragma once
// PZL format of the handset's block-management layer in NAND flash.
#include "jobs/JobState.h"

namespace vantrel {

// True on success; a failing format has already reported its own failure.
bool PzlFormatJob(JobContext& ctx);
// The thread procedure of the PZL format button (exit code 1).
int PzlFormatProc(JobContext& ctx);

}  // namespace vantrel
