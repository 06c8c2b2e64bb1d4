// NOR downloads through the NOR flash loader: image set (records, with the
// download date after a good transfer), calibration set and the manual image
// at an address.
#include <chrono>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "tests/flashjobs/FlashJobsFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

class NorDownloadTest : public FlashJobsTest {};

TEST_F(NorDownloadTest, ImageSetAt460KReplacesTheNandLoader) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud460K;
  std::vector<ImageRecord> r = {MakeRecord(0x4A0000, 0x20000 + 10, 1), MakeRecord(0x1FE0000, 0x9000, 2)};
  rec.m_strImageFileName = WriteRecordFile("W5K1_imgset.img", r);
  rec.m_nImageFileSize = 0x20000 + 10 + 0x9000 + 16;

  ASSERT_TRUE(NorDownloadJob(ctx, kOpImgset, 0)) << con.Dump();
  for (const ImageRecord& x : r) EXPECT_TRUE(FlashHolds(FlashPart::Nor, x.address, x.data));
  EXPECT_EQ(Sim().LastDownloadDate(), kTestToday);
  EXPECT_TRUE(LogHasInOrder({{4, "\n\n  * NOR Flash Driver Download"},
                             {4, "\n  * NOR : Imgset Download"},
                             {-1, "\n    Open Comport\t\t\t\t> > > "},
                             {3, "OK"},
                             {-1, "\n    Set Target Phone BaudRate\t\t> > > "},
                             {3, "OK"},
                             {-1, "\n    imgset Download start!!\n"},
                             {-1, kSeparator},
                             {-1, "\n      Download"},
                             {3, "  Completed"}}));
  EXPECT_EQ(CountLogStartingWith("  ( Elapsed Time : "), 1);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Download Finished", "  NOTICE  "}}));
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNor);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
  EXPECT_EQ(con.ControlText(ctl::kFileName), "W5K1_imgset.img");

  // A NAND job after it has the NOR loader give way, and writes into NAND.
  con.Clear();
  const std::vector<uint8_t> bytes = PatternBytes(0x800, 4);
  rec.m_nStartAddress = 0x600000;
  rec.m_strManualNandImage = WriteFile("manual.img", bytes);
  rec.m_nManualNandImageSize = static_cast<uint32_t>(bytes.size());
  ASSERT_TRUE(NandDownloadJob(ctx, kOpNandManual, 0)) << con.Dump();
  EXPECT_TRUE(LogHasInOrder({{4, "\n   * Reconnecting (Flash Driver Change)"}, {4, "\n\n  * NAND Flash Driver Download"}}));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x600000, bytes));
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNand);
}

TEST_F(NorDownloadTest, CalsetAtTheBaseRateSendsTheRateCommandWithoutItsLine) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud115K;
  ImageRecord r = MakeRecord(0x240000, 4000, 3);
  rec.m_strParamDepFileName = WriteRecordFile("W5K1_calset.img", {r});
  rec.m_nParamDepFileSize = 4008;

  ASSERT_TRUE(NorDownloadJob(ctx, kOpCalset, 0)) << con.Dump();
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, r.address, r.data));
  // Two "OK" in a row: the open and the set-rate command.
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * NOR : Calset Download"},
                             {-1, "\n    Open Comport\t\t\t\t> > > "},
                             {3, "OK"},
                             {3, "OK"},
                             {-1, "\n    Now W5K1_calset Downloading start!!\n"}}));
  EXPECT_EQ(CountLogStartingWith("\n    Set Target Phone BaudRate"), 0);
  EXPECT_TRUE(Sim().LastDownloadDate().empty()) << "only an image set is dated";
}

TEST_F(NorDownloadTest, ManualImageAtAnAddressLoaderAlreadyRunning) {
  StartHandset();
  Connect();
  (void)ReconnectForDriverChange(ctx);
  ASSERT_TRUE(DownloadNorFlashDriver(ctx, rec.m_linkRecord));
  con.Clear();
  std::vector<uint8_t> bytes = PatternBytes(0x30000 + 5, 4);
  rec.m_strManualImage = WriteFile("manual_nor.img", bytes);
  rec.m_nManualImageSize = static_cast<uint32_t>(bytes.size());
  rec.m_nStartAddress = 0x300000;

  ASSERT_TRUE(NorDownloadJob(ctx, kOpNorManual, 0)) << con.Dump();
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, 0x300000, bytes));
  EXPECT_TRUE(FlashErased(FlashPart::Nor, 0x300000 + static_cast<uint32_t>(bytes.size()), 16));
  EXPECT_EQ(CountLogStartingWith("\n\n  * NOR Flash Driver Download"), 0) << "the NOR loader runs already";
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * NOR : Manual Download"},
                             {-1, "\n    Now Manual Download start!!( Start address : 0x300000 File Size : " +
                                      std::to_string(bytes.size()) + "\n"}}));
}

TEST_F(NorDownloadTest, ChainedJobKeepsTheAllDownloadConsoleBusy) {
  StartHandset();
  Connect();
  rec.m_nDownloadItem = 7;
  ImageRecord r = MakeRecord(0x240000, 100, 5);
  rec.m_strParamDepFileName = WriteRecordFile("W5K1_calset.img", {r});
  ASSERT_TRUE(NorDownloadJob(ctx, kOpCalset, 1)) << con.Dump();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(con.LastState(), "Busy");
}

TEST_F(NorDownloadTest, RebootEndsTheSessionAndDisconnects) {
  StartHandset();
  Connect();
  rec.m_bReboot = 1;
  rec.m_nBaudRate = kBaud921K;
  ImageRecord r = MakeRecord(0x240000, 100, 6);
  rec.m_strParamDepFileName = WriteRecordFile("W5K1_calset.img", {r});
  ASSERT_TRUE(NorDownloadJob(ctx, kOpCalset, 0)) << con.Dump();
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Download Finished", "  NOTICE  "}}));
  // The loader is gone: the console must not come back ready for loader work.
  EXPECT_EQ(con.LastState(), "Disconnected");
  // The handset handles the session end on its own thread; give it time.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (Sim().StateName() != "off" && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(Sim().StateName(), "off");
}

}  // namespace
}  // namespace vantrel::test
