// The thread procedures: what they count and select before their jobs, and
// that a failing job ends the chain (no handset: the first job fails).
#include <gtest/gtest.h>

#include "jobs/Jobs.h"
#include "jobs/ThreadProcs.h"
#include "link/ComNames.h"
#include "tests/jobs/JobsFixture.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {
namespace {

constexpr const char* kCom = "COM7";

class ThreadProcsTest : public JobsFixture {
 protected:
  void SetUp() override {
    JobsFixture::SetUp();
    SetComOverride(kCom, "/nonexistent/tty");
    rec.m_nComPort = 6;
    rec.m_nLinkMode = LinkMode::Uart;
    rec.m_nImageFileSize = 0x300000;    // 24 NAND blocks
    rec.m_nParamDepFileSize = 0x1FFFF;  // 1
    rec.m_nRscrFileSize = 0x200001;     // 17
    rec.m_nRscr2FileSize = 0x40000;     // 2
    rec.m_nFactoryFSFileSize = 0x60000; // 3
    rec.m_nEntireFlashFileSize = 0x2A69000;
    rec.m_nManualNandImageSize = 0x30000;
    rec.m_nProgress = 55;
  }
  void TearDown() override {
    SetComOverride(kCom, "");
    JobsFixture::TearDown();
  }
  bool Finished() { return !con.MessageTexts().empty() && con.MessageTexts().back() == "All Download Finished"; }

  TraceCapture traces;
};

TEST_F(ThreadProcsTest, ItemDownloadCountsAndSelectsPerCode) {
  struct Row {
    uint8_t code;
    int32_t expected;
    RecordSelection sel;
  };
  // The file-system stream goes under the rest rule: its flag must be set.
  const Row rows[] = {
      {kOpImgset, 24, {1, 1, 0, 0, 0, 0}},  {kOpCalset, 1, {0, 0, 0, 0, 1, 0}}, {kOpRsrc1, 17, {0, 0, 1, 0, 0, 0}},
      {kOpRsrc2, 2, {0, 0, 0, 1, 0, 0}},    {kOpVlf, 3 + 145, {0, 0, 0, 0, 0, 1}}, {kOpEntireFlash, 340, {}},
      {kOpNandManual, 2, {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(static_cast<int>(r.code));
    session.SetSelection(0, 0, 0, 0, 0, 0);
    ctx.job.operation = r.code;
    ctx.job.progressTicks = 9;
    EXPECT_EQ(NandItemDownloadProc(ctx), 1);
    EXPECT_EQ(ctx.job.expectedTicks, r.expected);
    EXPECT_EQ(ctx.job.progressTicks, 0);
    EXPECT_EQ(session.Selection().head, r.sel.head);
    EXPECT_EQ(session.Selection().middle, r.sel.middle);
    EXPECT_EQ(session.Selection().resource1, r.sel.resource1);
    EXPECT_EQ(session.Selection().resource2, r.sel.resource2);
    EXPECT_EQ(session.Selection().calibration, r.sel.calibration);
    EXPECT_EQ(session.Selection().rest, r.sel.rest);
  }
}

TEST_F(ThreadProcsTest, RsrcAndFileSystemItemCountsBothImagesAndStopsAtAFailure) {
  ctx.job.operation = kOpAllChain;
  session.SetSelection(0, 1, 0, 0, 0, 0);
  EXPECT_EQ(NandItemDownloadProc(ctx), 1);
  EXPECT_EQ(ctx.job.expectedTicks, 17 + 3);
  EXPECT_EQ(session.Selection().middle, 0);  // the Rsrc1 step selects its own record
  EXPECT_EQ(session.Selection().resource1, 1);
  EXPECT_NE(con.Log().find("\n  * NAND : Rsrc1 Download"), std::string::npos);
  EXPECT_EQ(con.Log().find("VLF"), std::string::npos);  // the chain stopped
  EXPECT_FALSE(Finished());
}

TEST_F(ThreadProcsTest, AllDownloadCountsEveryImageAndStopsAfterAFailedErase) {
  ctx.job.operation = kOpAllChain;
  rec.m_bCalset = 1;
  EXPECT_EQ(NandAllDownloadProc(ctx), 1);
  EXPECT_EQ(rec.m_nProgress, 0);
  EXPECT_EQ(ctx.job.expectedTicks, 2 + 17 + 3 + 24 + 145 + 1);
  EXPECT_EQ(con.Log().find("Imgset Download"), std::string::npos);
  EXPECT_FALSE(Finished());

  con.Clear();
  ctx.job.operation = kOpImgset;  // not the chain's code: nothing runs
  EXPECT_EQ(NandAllDownloadProc(ctx), 1);
  EXPECT_EQ(ctx.job.expectedTicks, 0);
  EXPECT_EQ(con.Count(), 0u);
}

TEST_F(ThreadProcsTest, AutoAllEndsWhenTheConnectFails) {
  ctx.job.operation = kOpAllChain;
  EXPECT_EQ(AutoAllDownloadProc(ctx), 1);
  EXPECT_EQ(rec.m_nConnectResult, -1);
  EXPECT_EQ(ctx.job.expectedTicks, 0);
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Comm Error"});
  // The port that did not open names the kind; the box gives the words.
  const OperationOutcome outcome = ctx.job.outcome.Snapshot();
  EXPECT_EQ(outcome.failure, FailureKind::Port);
  EXPECT_EQ(outcome.message.text, "Comm Error");
  EXPECT_FALSE(outcome.completed);
}

TEST_F(ThreadProcsTest, NorProceduresCount) {
  rec.m_nStartAddress = 0x1FC0000;
  rec.m_nManualImageSize = 0x40000;
  EXPECT_EQ(NorManualDownloadProc(ctx), 1);
  EXPECT_EQ(ctx.job.expectedTicks, 5);

  ctx.job.operation = kOpNorVlfFormat;
  EXPECT_EQ(NorFormatProc(ctx), 1);
  EXPECT_EQ(ctx.job.expectedTicks, 4);
  ctx.job.operation = kOpBootAreaErase;
  EXPECT_EQ(NorFormatProc(ctx), 1);
  EXPECT_EQ(ctx.job.expectedTicks, 1);
}

TEST_F(ThreadProcsTest, BootloaderStopsAtTheFirstFailedStage) {
  EXPECT_EQ(BootloaderDownloadProc(ctx), 1);
  EXPECT_NE(ctx.job.expectedTicks, 2);  // Boot2 never started
  EXPECT_EQ(con.Log().find("Boot2"), std::string::npos);
}

TEST_F(ThreadProcsTest, AllFinishedReportsTheTotal) {
  rec.m_dTotalElapsed = 83.25;
  ReportAllFinished(ctx);
  EXPECT_EQ(con.LogEntries(), (std::vector<std::pair<int, std::string>>{{4, "\n  * TOTAL Elapsed Time :  83.2s\n"}}));
  ASSERT_EQ(con.MessageBoxes().size(), 1u);
  EXPECT_EQ(con.MessageBoxes()[0].text, "All Download Finished");
  EXPECT_EQ(con.MessageBoxes()[0].caption, "NOTICE");
}

TEST_F(ThreadProcsTest, RefusedPayloadsAddNothingToTheirOwnReport) {
  ReportConnectResult(ctx, ConnectResult::PayloadsRefused);
  EXPECT_EQ(con.Count(), 0u);
}

}  // namespace
}  // namespace vantrel::test
