#pragma once
// One stage of the bootloader download. True on success; a failing stage
// has already reported its own failure.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

bool BootStageDownloadJob(JobContext& ctx, uint8_t stage);

}  // namespace vantrel
