#pragma once
// NAND download job (every DOWNLOAD item's image, and Boot2). True on
// success; a failing job has already reported its own failure.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

bool NandDownloadJob(JobContext& ctx, uint8_t code, int chained);

}  // namespace vantrel
