// Erase and format jobs: what they erase, what they leave, their boxes and
// the console state they end in.
#include <string>
#include <utility>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "tests/flashjobs/FlashJobsFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

class EraseFormatTest : public FlashJobsTest {};

TEST_F(EraseFormatTest, NandAllEraseAt921K) {
  StartHandset();
  Connect();
  Sim().WriteNand(0x10, {1, 2, 3, 4});
  Sim().WriteNand(0x4A0000, {5, 6, 7});

  ASSERT_TRUE(NandEraseJob(ctx, kOpNandEraseAll)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x10, 4));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x4A0000, 3));
  // Cancel works while the erase runs, not only once it is over.
  const auto calls = con.Calls();
  size_t cancelOn = calls.size(), erasing = calls.size();
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].type == CallType::Enable && calls[i].id == ctl::kCancel && calls[i].value == 1 && cancelOn == calls.size())
      cancelOn = i;
    if (calls[i].text.find("Now NAND All blocks erasing") != std::string::npos) erasing = i;
  }
  EXPECT_LT(cancelOn, erasing) << con.Dump();
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * NAND Flash all erase"},
                             {-1, "\n    Open Comport\t\t\t\t> > > "},
                             {3, "OK"},
                             {-1, "\n    Set Target Phone BaudRate\t\t> > > "},
                             {3, "OK"},
                             {-1, "\n    Now NAND All blocks erasing\t\t> > > "},
                             {3, "OK\n"}}));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Erase complete", "NOTICE"}}));
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(con.Enabled(ctl::kCancel), std::optional<bool>(true));
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNand);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
  EXPECT_FALSE(rec.m_pLink);
}

TEST_F(EraseFormatTest, BootAreaEraseLeavesTheRestAndRaisesNothing) {
  StartHandset();
  Connect();
  Sim().WriteNand(0x10, {1, 2, 3, 4});
  Sim().WriteNand(0x100000, {5, 6, 7});

  ASSERT_TRUE(NandEraseJob(ctx, kOpBootAreaErase)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x10, 4));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x100000, {5, 6, 7}));
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * Bootloader area erase"}, {3, "OK"}, {3, "OK\n"}}));
  EXPECT_EQ(CountLogStartingWith("\n    Set Target Phone BaudRate"), 0);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Erase complete", "NOTICE"}}));
}

TEST_F(EraseFormatTest, EraseUnderAutoAllShowsNoNotice) {
  StartHandset();
  Connect();
  rec.m_bAutoAllDownload = 1;
  ASSERT_TRUE(NandEraseJob(ctx, kOpNandEraseAll)) << con.Dump();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(con.LastState(), "Ready");
}

TEST_F(EraseFormatTest, NandEraseOverUsbStillOpensAtTheBaseRateAndSetsTheRate) {
  StartHandset(/*usb=*/true);
  Connect();
  rec.m_nBaudRate = kBaud460K;
  Sim().WriteNand(0x4A0000, {5, 6, 7});
  ASSERT_TRUE(NandEraseJob(ctx, kOpNandEraseAll)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x4A0000, 3));
  EXPECT_EQ(CountLogStartingWith("\n    Set Target Phone BaudRate"), 1);
}

TEST_F(EraseFormatTest, NorFileSystemFormatAt460K) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud460K;
  Sim().WriteNor(0x1E90000, std::vector<uint8_t>(256, 0x22));
  Sim().WriteNor(0x1E90000 + 0x20000, {9, 9});

  ASSERT_TRUE(NorFormatJob(ctx, kOpNorVlfFormat)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nor, 0x1E90000, 256));
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, 0x1E90000 + 0x20000, {9, 9}));
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * VLF FORMAT "},
                             {-1, "\n    Open Comport\t\t\t\t> > > "},
                             {3, "OK"},
                             {-1, "\n    Set Target Phone BaudRate\t\t> > > "},
                             {3, "OK"},
                             {-1, "\n    VLF Format start!!\n"},
                             {-1, kSeparator},
                             {-1, "\n      Format"},
                             {3, "  Completed!!!\n\n"}}));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"VLF Format complete", "NOTICE"}}));
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(con.Enabled(ctl::kCancel), std::optional<bool>(true));
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNor);
  // The session end restarts the handset into normal operation.
  EXPECT_EQ(Sim().StateName(), "off") << [&] { std::string t; for (auto& l : Sim().Transcript()) t += l + "\n"; return t; }();
}

TEST_F(EraseFormatTest, NorBootloaderErase) {
  StartHandset();
  Connect();
  rec.m_nBaudRate = kBaud115K;
  Sim().WriteNor(0x100, {1, 2, 3});
  Sim().WriteNor(0x20000, {4, 5});
  ASSERT_TRUE(NorFormatJob(ctx, kOpBootAreaErase)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nor, 0x100, 3));
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, 0x20000, {4, 5}));
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * Bootloader erase"}, {-1, "\n    Now erasing start!!\n"}, {-1, "\n      Erase"},
                             {3, "  Completed!!!\n\n"}}));
  EXPECT_EQ(CountLogStartingWith("\n    Set Target Phone BaudRate"), 0);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Erase complete", "NOTICE"}}));
}

TEST_F(EraseFormatTest, VlfFormatCancelledDoesNothing) {
  con.QueueConfirm(false);
  EXPECT_FALSE(VlfFormatJob(ctx));
  EXPECT_TRUE(con.Log().empty());
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(con.States(), std::vector<std::string>{"Ready"});
  ASSERT_EQ(con.Calls(CallType::Confirm).size(), 1u);
  const ConsoleCall confirm = con.Calls(CallType::Confirm)[0];
  EXPECT_EQ(confirm.text, "WARNING!!!");
  EXPECT_EQ(confirm.lines, (std::vector<std::string>{"VLF Area will be erased", "Are You SURE?"}));
}

TEST_F(EraseFormatTest, VlfFormatThatFailedDoesNotClaimTheAreaErased) {
  ctx.job.loaderState = kLoaderNand;  // no loader upload before the rate check
  rec.m_nBaudRate = 3;
  con.QueueConfirm(true);
  EXPECT_FALSE(VlfFormatJob(ctx));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"BaudRate Error", "VANTREL Downloader"},
                                       {"Turn On/Off the target phone!!!", "  NOTICE  "}}));
  EXPECT_EQ(con.LastState(), "Ready");
}

TEST_F(EraseFormatTest, VlfFormatAcceptedErasesTheFileSystemArea) {
  StartHandset();
  Connect();
  Sim().WriteNand(0x5000000, std::vector<uint8_t>(128, 0x33));
  Sim().WriteNand(0x4A0000, {1, 2, 3});
  con.QueueConfirm(true);

  ASSERT_TRUE(VlfFormatJob(ctx)) << con.Dump();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x5000000, 128));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x4A0000, {1, 2, 3}));
  EXPECT_TRUE(LogHasInOrder({{4, "\n  * VLF Format"},
                             {-1, "\n    Open Comport\t\t\t\t> > > "},
                             {3, "OK"},
                             {3, "OK"},
                             {-1, "\n    Now NAND VLF Format Setting\t\t> > > "},
                             {3, "OK\n"}}));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"VLF All Erased. Turn On/Off", "  NOTICE  "}}));
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNand);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

}  // namespace
}  // namespace vantrel::test
