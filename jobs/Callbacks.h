#pragma once
// The three callbacks handed to the protocol routines, and the
// flash-region indicator on the file buttons.
#include <cstdint>
#include "jobs/JobState.h"
#include "protocol/BlockLayer.h"

namespace vantrel {

void ShowFlashRegion(JobContext& ctx, uint8_t loaderState, int phase, uint32_t address);

// They report to the context they are given: inside a job, the job's own
// (its console gated for Cancel).
void ProgressCallBackFunc(JobContext& ctx, const ProgressEvent& event);
void DumpProgressCallBackFunc(JobContext& ctx, uint8_t step, uint32_t address);
bool DumpDataCallBackFunc(JobContext& ctx, const uint8_t* data, uint32_t length);

// The callbacks bound to `ctx`, in the form the protocol routines take.
ProgressCallBack ProgressTo(JobContext& ctx);
DumpProgressCallBack DumpProgressTo(JobContext& ctx);

}  // namespace vantrel
