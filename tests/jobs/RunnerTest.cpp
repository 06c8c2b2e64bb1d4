// The job runner: one thread per operation, the gate that Cancel closes, and
// the callbacks reaching the running job's own console.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "jobs/Jobs.h"
#include "jobs/JobRunner.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "tests/jobs/JobsFixture.h"

namespace vantrel::test {
namespace {

std::atomic<int> g_rounds{0};

// Talks to the console and reports ticks until it is stopped.
int ChattyProc(JobContext& ctx) {
  ctx.job.expectedTicks = 1000000;
  while (!stop::Requested()) {
    ctx.con.AppendLogPlain(".");
    ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4A0000, 1024));
    ++g_rounds;
    timing::PollStep(5, [](int64_t us) { stop::SleepFor(us); });
  }
  // What a stopped job still says on its way out must not arrive.
  ctx.con.AppendLog("after the stop", LogKind::Red);
  ctx.con.EnterReadyState();
  return 7;
}

int QuickProc(JobContext& ctx) {
  ctx.con.AppendLog("quick", LogKind::Blue);
  return 1;
}

// A stop that does not reach the job fails the test within 10 s instead of
// hanging it: the job's own source is then asked, so that the runner joins.
struct JobDeadline {
  explicit JobDeadline(JobState& job)
      : watch([this, &job] {
          for (int i = 0; i < 1000 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
          if (done) return;
          ADD_FAILURE() << "the job still runs 10 s after it was stopped";
          job.stop.Request();
        }) {}
  ~JobDeadline() {
    done = true;
    watch.join();
  }
  std::atomic<bool> done{false};
  std::thread watch;
};

using JobRunnerTest = JobsFixture;

TEST_F(JobRunnerTest, StopClosesTheGateAndTheNextStartWorks) {
  JobRunner runner(ctx);
  g_rounds = 0;
  ASSERT_TRUE(runner.Start(ChattyProc));
  ASSERT_TRUE(con.WaitFor([](const std::vector<ConsoleCall>&) { return g_rounds.load() > 20; }));
  EXPECT_TRUE(runner.Running());
  EXPECT_FALSE(runner.Start(QuickProc));  // one job at a time

  runner.Stop();
  const size_t mark = con.Count();
  const int progress = rec.m_nProgress;
  {
    const JobDeadline deadline(job);
    runner.Join();
  }
  EXPECT_EQ(con.Count(), mark) << con.Dump();
  EXPECT_EQ(rec.m_nProgress, progress);
  EXPECT_EQ(runner.LastExitCode(), 7);
  EXPECT_EQ(con.Log().find("after the stop"), std::string::npos);
  // Progress went to the job's own (gated) console, Cancel enabled once.
  EXPECT_EQ(con.EnableCount(1090, true), 1);
  EXPECT_GT(ctx.job.progressTicks, 20);

  ASSERT_TRUE(runner.Start(QuickProc));
  runner.Join();
  EXPECT_FALSE(stop::Requested());
  EXPECT_EQ(runner.LastExitCode(), 1);
  EXPECT_NE(con.LogSince(mark).find("quick"), std::string::npos);
}

TEST_F(JobRunnerTest, StopWithoutAJobDoesNotStopTheNextOne) {
  JobRunner runner(ctx);
  runner.Stop();
  EXPECT_FALSE(stop::Requested());
  ASSERT_TRUE(runner.Start(QuickProc, JobPriority::TimeCritical));
  runner.Join();
  EXPECT_EQ(con.Log(), "quick");
}

TEST_F(JobRunnerTest, DestructorStopsAndJoinsARunningJob) {
  g_rounds = 0;
  {
    const JobDeadline deadline(job);  // outlives the runner, whose destructor stops and joins
    JobRunner runner(ctx);
    ASSERT_TRUE(runner.Start(ChattyProc));
    ASSERT_TRUE(con.WaitFor([](const std::vector<ConsoleCall>&) { return g_rounds.load() > 2; }));
  }
  const size_t mark = con.Count();
  const int rounds = g_rounds;
  EXPECT_EQ(con.Count(), mark);
  EXPECT_EQ(g_rounds, rounds);
}

}  // namespace
}  // namespace vantrel::test
