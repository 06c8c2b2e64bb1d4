// Tick counting, the progress callbacks and the flash-region indicator.
#include <gtest/gtest.h>

#include <cstdio>

#include "jobs/ControlIds.h"
#include "jobs/GatedConsole.h"
#include "jobs/Jobs.h"
#include "tests/jobs/JobsFixture.h"

namespace vantrel::test {
namespace {

TEST(TickCountTest, NorBlocksUseParameterStepsAtTheTop) {
  EXPECT_EQ(CountNorBlocks(0x4A0000, 0x20000), 1u);
  EXPECT_EQ(CountNorBlocks(0x36E0000, 0x20000), 4u);  // above 0x1FE0000 every step is 0x8000
  EXPECT_EQ(CountNorBlocks(0x1FC0000, 0x40000), 5u);  // one main block, then four parameter blocks
  EXPECT_EQ(CountNorBlocks(0x4A0000, 0x20001), 2u);
  EXPECT_EQ(CountNorBlocks(0x4B0000, 0x20000), 1u);  // stepped from where it starts, not aligned
  EXPECT_EQ(CountNorBlocks(0x100000, 0), 0u);
  // A range whose end wraps past 4 GiB counts nothing; one that ends just
  // below it finishes instead of wrapping the cursor.
  EXPECT_EQ(CountNorBlocks(0xFFFF0000, 0x20000), 0u);
  EXPECT_EQ(CountNorBlocks(0xFFFF0000, 0xFFFF), 2u);
}

TEST(TickCountTest, NandBlocksRoundUp) {
  EXPECT_EQ(CountNandBlocks(0x4A0000, 0x20001), 2u);
  EXPECT_EQ(CountNandBlocks(0x4A0000, 0x20000), 1u);
  EXPECT_EQ(CountNandBlocks(0, 0), 0u);
  EXPECT_EQ(CountNandBlocks(0, 0xFFFFFFFF), 0x8000u);
}

using ProgressCallbackTest = JobsFixture;

TEST_F(ProgressCallbackTest, BlockLinesTicksAndPercentage) {
  ctx.job.expectedTicks = 4;
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4A0000, 131072));
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0, 1024));
  ProgressCallBackFunc(ctx, ProgressEvent::Erased(0x20000, 2048));
  ProgressCallBackFunc(ctx, ProgressEvent::Erased(0, 4096));
  EXPECT_EQ(con.Log(),
            "    0 x 4A0000\t Download   131072 bytes\t. . . .  "
            "    0 x 0\t\t Download   1024 bytes\t. . . .  "
            "\r\n    0 x 20000\t Erase   2048 bytes\t. . . .    OK "
            "\r\n    0 x 0\t\t Erase   4096 bytes\t. . . .    OK ");
  EXPECT_EQ(ctx.job.progressTicks, 4);
  EXPECT_EQ(rec.m_nProgress, 100);
  EXPECT_EQ(con.ProgressPos(), 100);
  EXPECT_EQ(con.ControlText(ctl::kTickCount), " 4 / 4 ");
  EXPECT_EQ(con.ControlText(ctl::kStatusCaption), "100");
}

TEST_F(ProgressCallbackTest, PercentageTruncatesAndClampsAt100) {
  ctx.job.expectedTicks = 3;
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4A0000, 1));
  EXPECT_EQ(rec.m_nProgress, 33);
  ctx.job.progressTicks = 7;  // the expected count was too small
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4A0000, 1));
  EXPECT_EQ(rec.m_nProgress, 100);
  EXPECT_EQ(con.ControlText(ctl::kTickCount), " 8 / 3 ");
}

TEST_F(ProgressCallbackTest, TicksWithoutAnExpectedCountLeaveThePercentage) {
  rec.m_nProgress = 42;
  ctx.job.expectedTicks = 0;
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x20000, 512));
  EXPECT_EQ(rec.m_nProgress, 42);
  EXPECT_EQ(ctx.job.progressTicks, 1);
  EXPECT_EQ(con.ControlText(ctl::kTickCount), " 1 / 0 ");
  EXPECT_EQ(con.Log(), "    0 x 20000\t Download   512 bytes\t. . . .  ");
}

TEST_F(ProgressCallbackTest, ErrorReportsLogTheirTextAndMoveNoCounter) {
  ctx.job.expectedTicks = 10;
  ProgressCallBackFunc(ctx, ProgressEvent::Fault(ProgressFault::Checksum, 0x5A, false));
  ProgressCallBackFunc(ctx, ProgressEvent::Fault(ProgressFault::ChecksumError, 0, false));
  ProgressCallBackFunc(ctx, ProgressEvent::Fault(ProgressFault::RangeEnd));
  for (uint32_t code : {3u, 4u, 5u, 6u, 9u}) {
    ProgressCallBackFunc(ctx, ProgressEvent::Fault(static_cast<ProgressFault>(code), 0, false));
  }
  std::vector<std::pair<int, std::string>> want = {
      {-1, " checksum : "}, {4, "0x5A\n"},
      {-1, " checksum "},   {4, " Error\n"},
      {-1, "\n"},           {4, " Fail -> Resend data\n"},
      {4, " Sync error\n"}, {4, " Invalid ACK received\n"},
      {4, " Not response at the target phone\n"}, {4, " Unknown error\n"}};
  EXPECT_EQ(con.LogEntries(), want);
  EXPECT_EQ(ctx.job.progressTicks, 0);
  EXPECT_EQ(rec.m_nProgress, 0);
  EXPECT_FALSE(con.ProgressPos().has_value());
}

TEST_F(ProgressCallbackTest, ChunkCallsOnlyEnableCancel) {
  ProgressCallBackFunc(ctx, ProgressEvent::Piece(1024));
  EXPECT_EQ(con.Log(), "");
  EXPECT_EQ(ctx.job.progressTicks, 0);
  EXPECT_EQ(con.Enabled(ctl::kCancel), true);
}

TEST_F(ProgressCallbackTest, RegionFontsAlternateOnlyWhileTheNandLoaderRuns) {
  ctx.job.expectedTicks = 10;
  ctx.job.loaderState = kLoaderNand;
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4A0000, 0x20000));
  EXPECT_EQ(con.Font(ctl::kImgsetButton), ItemFont::Done);  // tick 1: phase 1
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4C0000, 0x20000));
  EXPECT_EQ(con.Font(ctl::kImgsetButton), ItemFont::Active);  // tick 2: phase 0
  const size_t fonts = con.Calls(CallType::ItemFont).size();
  ctx.job.loaderState = kLoaderNor;
  ProgressCallBackFunc(ctx, ProgressEvent::Written(0x4E0000, 0x20000));
  EXPECT_EQ(con.Calls(CallType::ItemFont).size(), fonts);
}

TEST_F(ProgressCallbackTest, FlashRegionTable) {
  ShowFlashRegion(ctx, kLoaderNand, 0, 0x3700000);
  EXPECT_EQ(con.Font(ctl::kRsrc1Button), ItemFont::Active);
  ShowFlashRegion(ctx, kLoaderNand, 1, 0xAC0000);  // inside the image-set range too: Rsrc2 is tested first
  EXPECT_EQ(con.Font(ctl::kRsrc2Button), ItemFont::Done);
  ShowFlashRegion(ctx, kLoaderNand, 1, 0x27FFFF);
  EXPECT_EQ(con.Font(ctl::kCalsetButton), ItemFont::Done);
  ShowFlashRegion(ctx, kLoaderNand, 0, 0xCC0000);
  EXPECT_EQ(con.Font(ctl::kImgsetButton), ItemFont::Active);
  const size_t n = con.Count();
  ShowFlashRegion(ctx, kLoaderNand, 2, 0x4A0000);    // no such phase
  ShowFlashRegion(ctx, kLoaderNand, 0, 0x100000);    // outside every range
  ShowFlashRegion(ctx, kLoaderNand, 0, 0x4FBFFFF);   // end of the Rsrc1 range is open
  ShowFlashRegion(ctx, kLoaderNone, 0, 0x4A0000);
  EXPECT_EQ(con.Count(), n);
}

using DumpCallbackTest = JobsFixture;

TEST_F(DumpCallbackTest, LinesAdvanceTheDumpAddressAndDoNotClamp) {
  ctx.job.operation = kOpNandDump;
  ctx.job.expectedTicks = 1;
  rec.m_nDumpAddress = 0;
  DumpProgressCallBackFunc(ctx, 1, 0x100000);
  EXPECT_EQ(rec.m_nDumpAddress, 0x20000u);
  DumpProgressCallBackFunc(ctx, 1, 0x120000);
  EXPECT_EQ(rec.m_nDumpAddress, 0x40000u);
  DumpProgressCallBackFunc(ctx, 0, 0x140000);  // a chunk: nothing but Cancel
  std::vector<std::pair<int, std::string>> want = {{-1, "   0x0000 : \t"},
                                                   {3, "   Dump   >>>   OK"},
                                                   {-1, "\n   0x120000 : \t"},
                                                   {3, "   Dump   >>>   OK"}};
  EXPECT_EQ(con.LogEntries(), want);
  EXPECT_EQ(rec.m_nProgress, 200);
  EXPECT_EQ(con.ControlText(ctl::kTickCount), " 2 / 1 ");

  ctx.job.operation = kOpVlf;  // not a dump: the address stays
  DumpProgressCallBackFunc(ctx, 1, 0x140000);
  EXPECT_EQ(rec.m_nDumpAddress, 0x40000u);
}

TEST_F(DumpCallbackTest, DataGoesToTheDumpFile) {
  uint8_t data[3] = {1, 2, 3};
  EXPECT_FALSE(DumpDataCallBackFunc(ctx, data, 3));  // no file open
  rec.m_dumpFile = std::tmpfile();
  ASSERT_NE(rec.m_dumpFile, nullptr);
  EXPECT_TRUE(DumpDataCallBackFunc(ctx, data, 3));
  EXPECT_EQ(std::ftell(rec.m_dumpFile), 3);
  std::fclose(rec.m_dumpFile);
  rec.m_dumpFile = nullptr;
}

TEST(GatedConsoleTest, DropsEverythingOnceClosedAndEnablesCancelOncePerState) {
  RecordingConsole inner;
  GatedConsole gate(inner);
  gate.EnableCancelOnce();
  gate.EnableCancelOnce();
  EXPECT_EQ(inner.EnableCount(ctl::kCancel, true), 1);
  gate.EnterReadyState();  // disables Cancel
  gate.EnableCancelOnce();
  gate.EnableCancelOnce();
  EXPECT_EQ(inner.EnableCount(ctl::kCancel, true), 2);
  gate.EnableControl(ctl::kCancel, false);
  gate.EnableCancelOnce();
  EXPECT_EQ(inner.EnableCount(ctl::kCancel, true), 3);

  gate.Close();
  const size_t n = inner.Count();
  gate.AppendLog("x", LogKind::Red);
  gate.SetProgressPos(5);
  gate.EnterReadyState();
  EXPECT_FALSE(gate.RunOpen([] {}));
  EXPECT_FALSE(gate.Confirm("t", {}));
  EXPECT_EQ(gate.MessageBox("m", "", MsgButtons::OkCancel), MsgAnswer::Cancel);
  EXPECT_FALSE(gate.NandDumpDialog().has_value());
  EXPECT_FALSE(gate.SaveFileDialog("a", "b").has_value());
  EXPECT_EQ(inner.Count(), n);
}

}  // namespace
}  // namespace vantrel::test
