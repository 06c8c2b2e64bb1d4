#pragma once
// The process-wide job state as a fresh program has it: no operation, no
// flash loader running, no progress. Fixtures that run jobs call it in SetUp, so that no test inherits
// what the one before it left. (Header only: the tests that use it link the
// jobs library themselves.)
#include "jobs/JobState.h"

namespace vantrel::test {

inline void ResetJobGlobals() {
  g_operation = 0;
  g_loaderState = kLoaderNone;
  g_progressTicks = 0;
  g_expectedTicks = 0;
}

}  // namespace vantrel::test
