#pragma once
// NOR download job (image set, calibration set, raw file at an address).
// True on success; a failing job has already reported its own failure.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

bool NorDownloadJob(JobContext& ctx, uint8_t code, int chained);

}  // namespace vantrel
