#pragma once
// A record, a recording console, a fresh session and job state, with the
// protocol's timing sped up.
#include <gtest/gtest.h>

#include "jobs/JobState.h"
#include "jobs/OperationRecord.h"
#include "payloads/Payloads.h"
#include "protocol/TargetSession.h"
#include "tests/support/FastTiming.h"
#include "tests/support/RecordingConsole.h"

namespace vantrel::test {

class JobsFixture : public FastTiming {
 protected:
  void SetUp() override {
    FastTiming::SetUp();
  }
  void TearDown() override {
    FastTiming::TearDown();
  }

  // What a loader upload logs first, in red, while the built-in stand-ins run.
  static std::string StandInWarning() {
    return BuiltInPayloadsAreStandIns() ? std::string("\n  * ") + kStandInPayloadsNotice : "";
  }

  RecordingConsole con;
  OperationRecord rec;
  TargetSession session;
  JobState job;
  JobContext ctx{rec, con, nullptr, session, job};
};

}  // namespace vantrel::test
