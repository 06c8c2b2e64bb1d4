// The bootloader download: three boot stages, each from the boot ROM through
// the boot-image flash driver, then Boot2 at 0x20000 through the NAND loader.
#include <string>
#include <utility>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/ThreadProcs.h"
#include "link/ResultCodes.h"
#include "payloads/Payloads.h"
#include "tests/flashjobs/FlashJobsFixture.h"
#include "tests/support/PayloadBytes.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

const std::string kRule(77, '-');

class BootloaderTest : public FlashJobsTest {
 protected:
  // The operator switches the handset on before pressing the button; the
  // boot stages start with raw uploads, without waiting for a BOOT byte.
  void StartSwitchedOn() {
    sim::Options o = sim::TestOptions();
    o.autoPowerOn = false;
    StartHandset(false, o);
    Sim().PowerOn();
  }
};

TEST_F(BootloaderTest, ChainWritesTheThreeStagesAndBoot2) {
  StartSwitchedOn();
  rec.m_nBaudRate = kBaud921K;
  rec.m_nComPort = 6;

  BootloaderDownloadProc(ctx);

  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x0, PayloadBytes(SecBootImage())));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x1000, PayloadBytes(Boot1aImage())));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x4000, PayloadBytes(Boot1bImage())));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x20000, PayloadBytes(Boot2Image())));

  EXPECT_TRUE(LogHasInOrder({
      {3, "\n" + kRule + "\n  Bootloader Download mode "},
      {3, "( COM7  BaudRate : 921k )\n" + kRule + "\n"},
      {-1, "  SDRAM initializing..........."},
      {1, "  OK \n"},
      {-1, "  FlashLoader download & running..........."},
      {1, "  OK\n"},
      {-1, "  Now SEC_BOOT Downloading........ "},
      {3, "OK\n\n"},
      {-1, "  SDRAM initializing..........."},
      {-1, "  Now BOOT1a Downloading........ "},
      {3, "OK\n\n"},
      {-1, "  Now BOOT1b Downloading........ "},
      {3, "OK\n\n"},
      {4, "\n  * Boot2 Download"},
      {-1, "\n    Now Boot2 Download start!! ( Start address : 0x20000 File Size : 190380 )\n"},
      {3, "  Completed"},
  }));
  EXPECT_EQ(CountLogStartingWith("\n" + kRule + "\n  Bootloader Download mode "), 1) << "only SEC_BOOT announces";
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Bootloader Download available in UART Comport", "VANTREL Downloader"},
                                       {"Download Finished", "  NOTICE  "}}));
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(rec.m_nLinkMode, LinkMode::Uart);
  EXPECT_EQ(rec.m_strManualNandImage, "boot2");
  EXPECT_EQ(con.ControlText(ctl::kFileName), "boot2.img");
  EXPECT_EQ(con.ControlText(ctl::kFileSize), "190380 bytes");
  EXPECT_EQ(ctx.job.loaderState.load(), kLoaderNone);
  EXPECT_EQ(Sim().HandsetRate(), 115200u) << "Boot2 raised the rate and must bring it back";
}

TEST_F(BootloaderTest, BaudChoiceOutsideTheListAnnouncesTwiceAndStopsAtTheFlashDriver) {
  rec.m_nBaudRate = 3;
  StartSwitchedOn();
  EXPECT_FALSE(BootStageDownloadJob(ctx, 'q'));
  const std::string announcement = "\n" + kRule + "\n  Bootloader Download mode ";
  EXPECT_EQ(CountLogStartingWith(announcement), 2);
  EXPECT_TRUE(LogHasInOrder({{4, "FAIL\n"}, {4, "\n  Turn On/Off the target phone!!!\n"}}));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Bootloader Download available in UART Comport", "VANTREL Downloader"},
                                       {ResultText(Result::InvalidValue), "Downloading Failure"}}));
  EXPECT_EQ(con.LastState(), "Disconnected");
}

TEST_F(BootloaderTest, LaterStagesShowNoNoticeAndNoAnnouncement) {
  StartSwitchedOn();
  ASSERT_TRUE(BootStageDownloadJob(ctx, 'r')) << con.Dump();
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(CountLogStartingWith("\n" + kRule), 0);
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x1000, PayloadBytes(Boot1aImage())));
}

}  // namespace
}  // namespace vantrel::test
