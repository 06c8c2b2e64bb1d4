// "DL. Bootloader", "PUSH", "Er. Bootloader", and the NOR paths behind the
// hidden controls (Auto All Download with the image set and calset into NOR,
// the NOR manual item), each pressed in the window.
#include <QAbstractButton>

#include "console/ConsoleText.h"
#include "payloads/Payloads.h"
#include "tests/e2e/WindowSimFixture.h"
#include "tests/support/PayloadBytes.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

const std::string kRule(77, '-');

class BootEraseE2eTest : public WindowSimTest {
 protected:
  std::vector<std::string> ConfirmTitles(size_t mark = 0) const {
    std::vector<std::string> out;
    const auto q = host_.Questions();
    for (size_t i = mark; i < q.size(); ++i)
      if (q[i].type == ScriptedModalHost::Type::Confirm) out.push_back(q[i].text);
    return out;
  }
};

TEST_F(BootEraseE2eTest, BootloaderDownloadWritesTheBootChainAndBoot2) {
  // The operator switches the handset on before pressing the button: the
  // boot stages start with uploads, without waiting for a BOOT byte.
  sim::Options o = Options();
  o.autoPowerOn = false;
  StartHandset(false, o);
  ASSERT_NO_FATAL_FAILURE(SwitchHandsetOn());
  ChooseLink(false);
  ChoosePort(7);
  ChooseBaud(kBaud921K);
  SnapshotAtBox("Download Finished");
  const size_t mark = Log().size();
  Press(ctl::kDlBootloader);

  const auto q = host_.Questions();
  ASSERT_FALSE(q.empty());
  EXPECT_EQ(q[0].type, ScriptedModalHost::Type::Confirm);
  EXPECT_EQ(q[0].text, "Warning!!!!!!!!!!!!!!!!!!!");
  EXPECT_EQ(q[0].lines, (std::vector<std::string>{"* NOTICE *", "In case of first access to NOR Flash,",
                                                  "it is available to download bootloader.", "Are you sure?"}));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Bootloader Download available in UART Comport", "VANTREL Downloader"},
                                       {"Download Finished", "  NOTICE  "}}));
  EXPECT_TRUE(LogHasInOrder({"\n" + kRule + "\n  Bootloader Download mode ",
                             "( COM7  BaudRate : 921k )\n" + kRule + "\n",
                             "  SDRAM initializing...........",
                             "  OK \n",
                             "  FlashLoader download & running...........",
                             "  OK\n",
                             "  Now SEC_BOOT Downloading........ ",
                             "OK\n\n",
                             "  SDRAM initializing...........",
                             "  Now BOOT1a Downloading........ ",
                             "OK\n\n",
                             "  SDRAM initializing...........",
                             "  Now BOOT1b Downloading........ ",
                             "OK\n\n",
                             "\n\n  * NAND Flash Driver Download",
                             "\n  * Boot2 Download",
                             "\n    Now Boot2 Download start!! ( Start address : 0x20000 File Size : 190380 )\n",
                             kSeparator,
                             "    0 x 20000\t Download   ",
                             "\n      Download",
                             "  Completed"},
                            mark));
  EXPECT_EQ(Count("Bootloader Download mode", mark), 1);

  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x0, PayloadBytes(SecBootImage())));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x1000, PayloadBytes(Boot1aImage())));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x4000, PayloadBytes(Boot1bImage())));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x20000, PayloadBytes(Boot2Image())));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x20000 + kBoot2ImageSize, 64));

  // Boot2 counts two ticks of its own: the bar was full when the job ended.
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Snapshots()[0].progress, 100);
  // The link is gone afterwards: the console is back at its start, UART chosen.
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_TRUE(Enabled(ctl::kStart));
  EXPECT_FALSE(Enabled(ctl::kDownload));
  EXPECT_TRUE(Window().ControlAs<QAbstractButton>(ctl::kRadioUart)->isChecked());
  EXPECT_EQ(Text(ctl::kFileName), " ");
  EXPECT_TRUE(HandsetRateBecomes(115200));
}

TEST_F(BootEraseE2eTest, BootloaderDownloadRefusesUsbAndHonoursCancel) {
  StartHandset();
  ChooseLink(/*usb=*/true);
  ChoosePort(7);
  ChooseBaud(kBaud115K);
  const size_t mark = Log().size();
  Press(ctl::kDlBootloader);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Only uart mode available!!!!", "VANTREL Downloader"}}));
  host_.QueueConfirm(false);
  Press(ctl::kDlBootloader);
  EXPECT_EQ(ConfirmTitles().size(), 2u);
  EXPECT_EQ(Boxes().size(), 1u);
  // Neither press changed anything.
  EXPECT_EQ(LogSince(mark), "");
  EXPECT_TRUE(Enabled(ctl::kStart));
  EXPECT_EQ(Sim().StateName(), "off");
}

TEST_F(BootEraseE2eTest, EraseBootloaderThenPushAt921K) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  Sim().WriteNand(0x10000, Pattern(0x40, 1));
  Sim().WriteNand(0x60000, Pattern(0x40, 2));
  Sim().WriteNand(0x80000, Pattern(0x40, 3));
  Sim().WriteNand(0x7FE0000, Pattern(0x40, 4));

  // Cancelled in its warning: nothing happens, the console is ready again.
  host_.QueueConfirm(false);
  size_t mark = Log().size();
  Press(ctl::kErBootloader);
  EXPECT_EQ(ConfirmTitles(), (std::vector<std::string>{"WARNING!!!!!!!!"}));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_TRUE(Enabled(ctl::kDownload));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x10000, Pattern(0x40, 1)));

  // Confirmed: the boot area goes, the rest stays.
  mark = Log().size();
  Press(ctl::kErBootloader);
  EXPECT_TRUE(LogHasInOrder({"\n  * Bootloader area erase", "\n    Open Comport\t\t\t\t> > > ", "OK",
                             "\n    Now NAND All blocks erasing\t\t> > > ", "OK\n"},
                            mark));
  EXPECT_EQ(Count("Set Target Phone BaudRate", mark), 0) << "the boot area erase runs at the boot rate";
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Erase complete", "NOTICE"}}));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x10000, 0x40));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x60000, 0x40));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x80000, Pattern(0x40, 3)));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");

  // PUSH: everything, at the operator's rate, and back to the base rate.
  mark = Log().size();
  const size_t boxes = BoxMark();
  Press(ctl::kPush);
  EXPECT_EQ(ConfirmTitles(boxes), (std::vector<std::string>{"WARNING!!!!!!!!"}));
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND Flash all erase", "\n    Set Target Phone BaudRate\t\t> > > ", "OK",
                             "\n    Now NAND All blocks erasing\t\t> > > ", "OK\n"},
                            mark));
  EXPECT_EQ(BoxesSince(boxes), (std::vector<Box>{{"All Erase complete", "NOTICE"}}));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x80000, 0x40));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x7FE0000, 0x40));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_TRUE(HandsetRateBecomes(115200));
}

TEST_F(BootEraseE2eTest, AutoAllDownloadWritesImageSetAndCalsetIntoNor) {
  StartHandset();
  const std::vector<ImageRecord> imgset = {{0x4A0000, Pattern(0x22000, 1)}, {0x800000, Pattern(0x300, 2)}};
  const std::vector<ImageRecord> calset = {{0x240000, Pattern(0x900, 3)}};
  const std::vector<ImageRecord> rsrc1 = {{0x2000000, Pattern(0x1800, 4)}};
  const std::vector<ImageRecord> rsrc2 = {{0x4600000, Pattern(0x1100, 5)}};
  const std::vector<uint8_t> fs = Pattern(0x2345, 6);
  ChooseFile(ctl::kImgsetButton, WriteRecordFile("out/Q77T_imgset.img", imgset));
  WriteRecordFile("build/mavo_bin/Q77T_calset.img", calset);
  WriteRecordFile("build/tzk_bin/Q77T.rc1", rsrc1);
  WriteRecordFile("build/nand_img/Q77T.rc2", rsrc2);
  WriteFile("build/tzk_bin/Q77T.vlf", fs);
  // Hidden boxes: the whole chain from START, calibration set included.
  SetCheck(ctl::kChkAutoAll, true);
  SetCheck(ctl::kChkCalsetDefault, true);
  ChooseLink(false);
  ChoosePort(7);
  ChooseBaud(kBaud460K);
  const size_t mark = Log().size();
  Press(ctl::kStart);

  EXPECT_TRUE(LogHasInOrder({"\n  * Connecting to target phone", "Available\n\n", "\n\n  * NOR Flash Driver Download",
                             "\n  * NOR : Imgset Download", "\n    imgset Download start!!\n", "  Completed",
                             "  ( Elapsed Time : ", "\n  * NOR : Calset Download",
                             "\n    Now W5K1_calset Downloading start!!\n", "  Completed",
                             "\n   * Reconnecting (Flash Driver Change)", "\n\n  * NAND Flash Driver Download",
                             "\n  * NAND Flash all erase", "\n  * NAND : Rsrc1 Download", "  Completed",
                             "\n  * NAND : Rsrc2 Download", "  Completed", "\n  * NAND : VLF Format & Download",
                             "  Completed", "\n  * TOTAL Elapsed Time : "},
                            mark));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Download Finished", "NOTICE"}}));
  for (const auto& r : imgset) EXPECT_TRUE(FlashHolds(FlashPart::Nor, r.address, r.data));
  for (const auto& r : calset) EXPECT_TRUE(FlashHolds(FlashPart::Nor, r.address, r.data));
  EXPECT_TRUE(FlashErased(FlashPart::Nor, 0x4A0000 + 0x22000, 64));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x4A0000, 64)) << "the image set goes to NOR only";
  EXPECT_TRUE(NandHoldsExactly(rsrc1));
  EXPECT_TRUE(NandHoldsExactly(rsrc2));
  EXPECT_TRUE(NandHoldsExactly({{0x5000000, fs}}));
  EXPECT_EQ(Sim().LastDownloadDate(), console::TodayText());
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_TRUE(HandsetRateBecomes(115200));
}

TEST_F(BootEraseE2eTest, NorManualItemWritesAtTheTypedAddress) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  const std::vector<uint8_t> manual = Pattern(0x23456, 7);
  ChooseFile(ctl::kNorChFile, WriteFile("manual/nor.img", manual));
  TypeInto(ctl::kNorStartAddress, "1A0000");
  ChooseItem(ctl::kRadioItem9);  // hidden NOR manual item
  const size_t mark = Log().size();
  Press(ctl::kDownload);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Start Address check OK!!\r\nCheck start block Address : 0x1a0000",
                                        "VANTREL Downloader"},
                                       {"Download Finished", "  NOTICE  "}}));
  EXPECT_TRUE(LogHasInOrder({"\n\n  * NOR Flash Driver Download", "\n  * NOR : Manual Download",
                             "\n    Set Target Phone BaudRate\t\t> > > ", "OK",
                             "\n    Now Manual Download start!!( Start address : 0x1a0000 File Size : 144470\n",
                             kSeparator, "\n      Download", "  Completed", "  ( Elapsed Time : "},
                            mark));
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, 0x1A0000, manual));
  EXPECT_TRUE(FlashErased(FlashPart::Nor, 0x1A0000 + 0x23456, 64));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x1A0000, 64));
  EXPECT_EQ(Text(ctl::kNorIdBox), "NQ4410TB 256");
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  // The NOR job returns the handset to the base rate itself.
  EXPECT_TRUE(HandsetRateBecomes(115200));
}

}  // namespace
}  // namespace vantrel::test
