// The timing facility: scaling, recording, the stop flag and the clock.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "link/Stop.h"
#include "link/Timing.h"
#include "tests/support/FastTiming.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

class Timing : public test::FastTiming {};

TEST_F(Timing, PausesAreRecordedInOrderAndCostNoRealTime) {
  const auto start = Clock::now();
  const uint64_t before = timing::NowMs();
  timing::Pause(1000, "A");
  timing::Pause(250, "B");
  timing::Pause(3000, "A");
  EXPECT_EQ((std::vector<std::string>{"A:1000", "B:250", "A:3000"}), test::PauseLog());
  EXPECT_EQ((std::vector<unsigned>{1000, 3000}), test::PausesTagged("A"));
  // The clock reads like a real run: the 4.25 s that were skipped count.
  EXPECT_GE(timing::NowMs() - before, 4250u);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
  timing::ClearRecording();
  EXPECT_TRUE(timing::RecordedPauses().empty());
}

TEST_F(Timing, PollStepsAreCountedAndShortened) {
  int64_t given = -1;
  timing::PollStep(5, [&](int64_t us) { given = us; });
  EXPECT_EQ(static_cast<int64_t>(5000 * test::kFastPollScale), given);  // 5 ms at the tests' scale
  timing::PollStep(5, nullptr);
  EXPECT_EQ(2u, timing::RecordedPollCount());
  timing::StopRecording();
  timing::PollStep(5, nullptr);
  timing::Pause(10, "off");
  EXPECT_EQ(2u, timing::RecordedPollCount());
  EXPECT_TRUE(test::PausesTagged("off").empty());
}

TEST_F(Timing, StopEndsAPauseAndSkipsPollWaits) {
  timing::SetPauseScale(1.0);
  const auto start = Clock::now();
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop::Request();
  });
  timing::Pause(30000, "long");
  stopper.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(20));
  EXPECT_TRUE(stop::Requested());

  bool waited = false;
  timing::PollStep(5, [&](int64_t) { waited = true; });
  EXPECT_FALSE(waited);
  timing::Pause(30000, "after");  // returns at once
  stop::Clear();
  EXPECT_FALSE(stop::Requested());
}

TEST_F(Timing, NegativeScalesCountAsZero) {
  timing::SetPollScale(-3);
  EXPECT_EQ(0.0, timing::PollScale());
  int64_t given = -1;
  timing::PollStep(5, [&](int64_t us) { given = us; });
  EXPECT_EQ(0, given);
}

// Two handsets' jobs in one process: Cancel of one must not end the other's
// pause, nor work outside any job.
TEST_F(Timing, StoppingOneJobLeavesAnotherRunning) {
  timing::SetPauseScale(1.0);
  stop::Source first, second;
  bool firstStopped = false, secondStopped = true;
  std::thread a([&] {
    const stop::Scope scope(first);
    timing::Pause(30000, "first");  // ended by the Request below
    firstStopped = stop::Requested();
  });
  std::thread b([&] {
    const stop::Scope scope(second);
    timing::Pause(200, "second");
    secondStopped = stop::Requested();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  first.Request();
  a.join();
  b.join();
  EXPECT_TRUE(firstStopped);
  EXPECT_FALSE(secondStopped);
  EXPECT_FALSE(stop::Requested());
  EXPECT_EQ((std::vector<unsigned>{200}), test::PausesTagged("second"));
}

}  // namespace
}  // namespace vantrel
