// What the operator meets when a flash job fails: the result text, the
// console state, and nothing reported as success.
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "protocol/ImageSession.h"
#include "tests/flashjobs/FlashJobsFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

std::string ImageSetError(Result rc) { return std::string("Error flashing image set : ") + ResultText(rc) + "\n"; }

class FailureTest : public FlashJobsTest {
 protected:
  ImageRecord PrepareCalset(size_t length = 3000) {
    ImageRecord r = MakeRecord(0x240000, length, 7);
    rec.m_strParamDepFileName = WriteRecordFile("calset.img", {r});
    rec.m_nParamDepFileSize = static_cast<uint32_t>(length + 8);
    session.SetSelection(0, 0, 0, 0, 1, 0);
    return r;
  }
  void ExpectFailedDownload(Result rc) {
    EXPECT_TRUE(LogHasInOrder({{-1, "\n      Download"}, {4, "  Failed"}}));
    EXPECT_EQ(CountLogStartingWith("  Completed"), 0);
    EXPECT_EQ(Boxes(), (std::vector<Box>{{ImageSetError(rc), "VANTREL Downloader"}}));
    EXPECT_EQ(con.LastState(), "Ready");
    EXPECT_FALSE(rec.m_pLink);
  }
};

TEST_F(FailureTest, HandsetSilentInMidTransfer) {
  StartHandset();
  Connect();
  PrepareCalset(0x20000 * 2 + 10);
  sim::Fault silent;
  ASSERT_TRUE(sim::Fault::Parse("silence:sector-ok:2", &silent, nullptr));
  Sim().AddFault(silent);

  EXPECT_FALSE(NandDownloadJob(ctx, kOpCalset, 0));
  ExpectFailedDownload(Result::NoResponse);
  EXPECT_TRUE(LogHasInOrder({{4, " Not response at the target phone\n"}, {4, "  Failed"}}));
  EXPECT_EQ(CountLogStartingWith(" ( Elapsed Time : "), 1);
  TakeViolations();  // the rate command after the silence lands in a block the handset no longer reads
}

TEST_F(FailureTest, RefusedImageSetIsNotDatedAndNotCompleted) {
  StartHandset();
  Connect();
  ImageRecord r = MakeRecord(0x4A0000, 100, 8);
  rec.m_strImageFileName = WriteRecordFile("imgset.img", {r});
  session.SetSelection(1, 1, 0, 0, 0, 0);
  sim::Fault refuse;
  refuse.kind = sim::Fault::Kind::RefuseAddress;
  Sim().AddFault(refuse);

  EXPECT_FALSE(NandDownloadJob(ctx, kOpImgset, 0));
  ExpectFailedDownload(Result::InvalidAddress);
  EXPECT_TRUE(Sim().LastDownloadDate().empty()) << "a failed image set gets no date";
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x4A0000, 100));
}

TEST_F(FailureTest, BaudChoiceOutsideTheListKeepsTheConsoleBusy) {
  StartHandset();
  Connect();
  PrepareCalset();
  rec.m_nBaudRate = 3;

  EXPECT_FALSE(NandDownloadJob(ctx, kOpCalset, 0));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"BaudRate Error", "VANTREL Downloader"}}));
  EXPECT_EQ(con.LastState(), "Busy");
  EXPECT_EQ(CountLogStartingWith("\n    Open Comport"), 0);
  EXPECT_EQ(CountLogStartingWith(" ( Elapsed Time"), 0);

  con.Clear();
  ctx.job.loaderState = kLoaderNor;  // no loader upload before the check
  EXPECT_FALSE(NorDownloadJob(ctx, kOpCalset, 0));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"BaudRate Error", "VANTREL Downloader"}}));
  EXPECT_EQ(con.LastState(), "Busy");

  // The erase jobs close normally after the same box.
  con.Clear();
  ctx.job.loaderState = kLoaderNand;  // the NAND loader runs: none to bring up first
  EXPECT_FALSE(NandEraseJob(ctx, kOpNandEraseAll));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"BaudRate Error", "VANTREL Downloader"}}));
  EXPECT_EQ(con.LastState(), "Ready");
}

TEST_F(FailureTest, FileVanishedAfterItWasChosen) {
  StartHandset();
  Connect();
  PrepareCalset();
  std::remove(rec.m_strParamDepFileName.c_str());

  EXPECT_FALSE(NandDownloadJob(ctx, kOpCalset, 0));
  ExpectFailedDownload(Result::FileOpen);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

TEST_F(FailureTest, StopInMidTransferUnwindsWithoutAWordToTheOperator) {
  StartHandset();
  Connect();
  PrepareCalset(0x20000 * 3);
  // Cancel as soon as the transfer has begun (the first progress call enables it).
  size_t stopMark = 0;
  con.SetHook([&](const ConsoleCall& c) {
    if (c.type == CallType::Enable && c.id == ctl::kCancel && !stop::Requested()) {
      stopMark = con.Count();
      stop::Request();
    }
  });

  EXPECT_FALSE(NandDownloadJob(ctx, kOpCalset, 0));
  con.SetHook(nullptr);
  stop::Clear();
  ASSERT_GT(stopMark, 0u);
  for (const ConsoleCall& c : con.CallsSince(stopMark)) {
    EXPECT_NE(c.type, CallType::MessageBox) << c.Describe();
    EXPECT_NE(c.type, CallType::Ready) << c.Describe();
    if (c.type == CallType::Log || c.type == CallType::LogPlain) {
      EXPECT_EQ(c.text.find("Download"), std::string::npos) << c.Describe();
      EXPECT_EQ(c.text.find("Elapsed"), std::string::npos) << c.Describe();
    }
  }
  EXPECT_FALSE(rec.m_pLink) << "the stopped job closed its own link";
  TakeViolations();  // the handset was left in the middle of a block
}

TEST_F(FailureTest, LoaderUploadFailureReportsTheTimeThatPassed) {
  // No handset: the port does not open, the NOR loader cannot go up.
  SetComOverride("COM41", imageDir + "/no-such-tty");
  rec.m_nComPort = 40;
  rec.m_dTotalElapsed = 2.5;
  PrepareCalset();

  EXPECT_FALSE(NorDownloadJob(ctx, kOpCalset, 0));
  EXPECT_TRUE(LogHasInOrder({{4, "  ( Elapsed Time :   0.0s)\n"}}));
  EXPECT_DOUBLE_EQ(rec.m_dTotalElapsed, 2.5);
  EXPECT_TRUE(Boxes().size() >= 1u);
  EXPECT_EQ(CountLogStartingWith("\n    Open Comport"), 0);
  SetComOverride("COM41", "");
}

}  // namespace
}  // namespace vantrel::test
