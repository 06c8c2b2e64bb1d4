#pragma once
// Erase and format jobs. True on success; a failing job has already
// reported its own failure.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

bool NandEraseJob(JobContext& ctx, uint8_t code);
bool NorFormatJob(JobContext& ctx, uint8_t code);
bool VlfFormatJob(JobContext& ctx);

}  // namespace vantrel
