// Jobs in a row at a raised rate: each job opens at the base rate and sends
// its first command there, so the job before it must have brought the
// handset back down before closing its link.
#include <string>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/ThreadProcs.h"
#include "protocol/ImageSession.h"
#include "tests/flashjobs/FlashJobsFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

class RateSequenceTest : public FlashJobsTest {
 protected:
  ImageRecord PrepareCalset(uint32_t seed) {
    ImageRecord r = MakeRecord(0x240000, 3000, seed);
    rec.m_strParamDepFileName = WriteRecordFile("calset" + std::to_string(seed) + ".img", {r});
    rec.m_nParamDepFileSize = static_cast<uint32_t>(r.data.size() + 8);
    session.SetSelection(0, 0, 0, 0, 1, 0);
    return r;
  }
  ImageRecord PrepareRsrc1() {
    ImageRecord r = MakeRecord(0x2000000, 0x20000 + 64, 77);
    rec.m_strRscrFileName = WriteRecordFile("Q77T.rc1", {r});
    rec.m_nRscrFileSize = static_cast<uint32_t>(r.data.size() + 8);
    session.SetSelection(0, 0, 1, 0, 0, 0);
    return r;
  }
};

TEST_F(RateSequenceTest, TwoDownloadsThenBootAreaEraseAt921K) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud921K;

  const ImageRecord calset = PrepareCalset(1);
  ASSERT_TRUE(NandDownloadJob(ctx, kOpCalset, 0)) << con.Dump();
  EXPECT_EQ(Sim().HandsetRate(), 115200u);

  const ImageRecord rsrc1 = PrepareRsrc1();
  ASSERT_TRUE(NandDownloadJob(ctx, kOpRsrc1, 0)) << con.Dump();
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, calset.address, calset.data));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, rsrc1.address, rsrc1.data));

  // "Er. Bootloader" sends its erase at the base rate without raising it.
  Sim().WriteNand(0x100, {1, 2, 3});
  ASSERT_TRUE(NandEraseJob(ctx, kOpBootAreaErase)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x100, 3));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, calset.address, calset.data));
}

TEST_F(RateSequenceTest, ChainedEraseThenDownloadsAt921K) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud921K;
  rec.m_nDownloadItem = 7;  // All Download: the chain keeps the console busy
  Sim().WriteNand(0x4A0000, std::vector<uint8_t>(64, 0x11));

  ASSERT_TRUE(NandEraseJob(ctx, kOpAllChain)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x4A0000, 64));
  EXPECT_TRUE(Boxes().empty()) << "a chained erase shows no notice";
  EXPECT_EQ(Sim().HandsetRate(), 115200u);

  const ImageRecord calset = PrepareCalset(2);
  ASSERT_TRUE(NandDownloadJob(ctx, kOpCalset, 2)) << con.Dump();
  const ImageRecord rsrc1 = PrepareRsrc1();
  ASSERT_TRUE(NandDownloadJob(ctx, kOpRsrc1, 2)) << con.Dump();
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, calset.address, calset.data));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, rsrc1.address, rsrc1.data));
  EXPECT_TRUE(Boxes().empty()) << "chained downloads show no notice";
}

// The All Download item at 921600: erase, image set, Rsrc1, Rsrc2 and the
// file-system stream, each job opening at the base rate after the last.
TEST_F(RateSequenceTest, AllDownloadChainAt921K) {
  StartHandset();
  Connect();
  rec.m_nDownloadItem = 7;
  std::vector<ImageRecord> img = {MakeRecord(0x4A0000, 4000, 81), MakeRecord(0x4C0000, 300, 82),
                                  MakeRecord(0x500000, 300, 83), MakeRecord(0x600000, 300, 84)};
  ImageRecord rc1 = MakeRecord(0x2000000, 5000, 85);
  ImageRecord rc2 = MakeRecord(0x4600000, 6000, 86);
  std::vector<uint8_t> vlf = PatternBytes(7000, 87);
  rec.m_strImageFileName = WriteRecordFile("Q77T_all.img", img);
  rec.m_strRscrFileName = WriteRecordFile("Q77T.rc1", {rc1});
  rec.m_strRscr2FileName = WriteRecordFile("Q77T.rc2", {rc2});
  rec.m_strFactoryFSFileName = WriteFile("Q77T.vlf", vlf);
  ctx.job.operation = kOpAllChain;

  NandAllDownloadProc(ctx);

  for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(FlashHolds(FlashPart::Nand, img[i].address, img[i].data));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, img[3].address, 16));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, rc1.address, rc1.data));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, rc2.address, rc2.data));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x5000000, vlf));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Download Finished", "NOTICE"}})) << con.Dump();
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

TEST_F(RateSequenceTest, ReconnectAndNorWorkAfterA921KDownload) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud921K;
  PrepareCalset(3);
  ASSERT_TRUE(NandDownloadJob(ctx, kOpCalset, 0)) << con.Dump();

  // The reconnect speaks at the base rate, then the NOR loader goes up.
  (void)ReconnectForDriverChange(ctx);
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNone);
  EXPECT_EQ(CountLogStartingWith("FAIL"), 0) << con.Dump();

  ImageRecord nor = MakeRecord(0x240000, 5000, 9);
  rec.m_strParamDepFileName = WriteRecordFile("nor_calset.img", {nor});
  rec.m_nParamDepFileSize = static_cast<uint32_t>(nor.data.size() + 8);
  ASSERT_TRUE(NorDownloadJob(ctx, kOpCalset, 0)) << con.Dump();
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, nor.address, nor.data));
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNor);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

TEST_F(RateSequenceTest, FailedTransferStillReturnsTheRate) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud921K;
  sim::Fault refuse;
  refuse.kind = sim::Fault::Kind::RefuseAddress;
  Sim().AddFault(refuse);
  PrepareCalset(4);
  EXPECT_FALSE(NandDownloadJob(ctx, kOpCalset, 0));
  EXPECT_EQ(Sim().HandsetRate(), 115200u);

  // The loader still listens at the base rate: the next job works.
  con.Clear();
  const ImageRecord calset = PrepareCalset(5);
  ASSERT_TRUE(NandDownloadJob(ctx, kOpCalset, 0)) << con.Dump();
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, calset.address, calset.data));
}

}  // namespace
}  // namespace vantrel::test
