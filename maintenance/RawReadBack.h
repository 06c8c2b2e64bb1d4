#pragma once
// Raw read-back exchange ("DUMP!!"): a low-level conversation with whatever
// answers on the COM port, reporting only "END" or an error text.
#include "jobs/JobState.h"

namespace vantrel {

// True when the whole read-back arrived ("END").
bool RawReadBackExchange(JobContext& ctx);
// The thread procedure of the "DUMP!!" button (exit code 0).
int RawDumpProc(JobContext& ctx);

}  // namespace vantrel
