#pragma once
// The three callbacks handed to the protocol routines, and the
// flash-region indicator on the file buttons.
#include <cstdint>
#include "jobs/JobState.h"

namespace vantrel {

void ShowFlashRegion(JobContext& ctx, uint8_t loaderState, int phase, uint32_t address);

// They report to CallbackContext(): on a job thread the running job's own
// context, else MainContext().
void ProgressCallBackFunc(uint8_t step, uint8_t status, uint32_t code, uint32_t value, uint8_t erase);
void DumpProgressCallBackFunc(uint8_t step, const uint8_t* ignored, uint32_t address);
bool DumpDataCallBackFunc(const uint8_t* data, uint32_t length);

}  // namespace vantrel
