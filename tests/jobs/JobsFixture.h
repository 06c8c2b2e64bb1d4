#pragma once
// A record, a recording console and the process-wide job state reset, with
// the protocol's timing sped up. The context is the main window's, so the
// callbacks report to it.
#include <gtest/gtest.h>

#include "jobs/JobState.h"
#include "jobs/OperationRecord.h"
#include "payloads/Payloads.h"
#include "protocol/TargetSession.h"
#include "tests/support/FastTiming.h"
#include "tests/support/JobGlobals.h"
#include "tests/support/RecordingConsole.h"

namespace vantrel::test {

class JobsFixture : public FastTiming {
 protected:
  void SetUp() override {
    FastTiming::SetUp();
    ResetJobGlobals();
    SetMainContext(&ctx);
  }
  void TearDown() override {
    SetMainContext(nullptr);
    FastTiming::TearDown();
  }

  // What a loader upload logs first, in red, while the built-in stand-ins run.
  static std::string StandInWarning() {
    return BuiltInPayloadsAreStandIns() ? std::string("\n  * ") + kStandInPayloadsNotice : "";
  }

  RecordingConsole con;
  OperationRecord rec;
  TargetSession session;
  JobContext ctx{rec, con, nullptr, session};
};

}  // namespace vantrel::test
