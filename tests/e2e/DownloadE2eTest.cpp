// DOWNLOAD from the window, item by item, over UART and USB: afterwards the
// handset's NAND holds exactly the selected records of each file at their
// addresses. Two operations in a row at 921K, and the reconnect before NOR
// work after a 921K download.
#include <QCheckBox>

#include "console/ConsoleText.h"
#include "console/IniSettings.h"
#include "tests/e2e/WindowSimFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

// An image package as a build leaves it: the image set in one folder, the
// other images where the tool looks for them once the image set is chosen.
struct Package {
  std::string imgset = "out/Q77T_imgset.img";
  std::string calset = "build/mavo_bin/Q77T_calset.img";
  std::string rsrc1 = "build/tzk_bin/Q77T.rc1";
  std::string rsrc2 = "build/nand_img/Q77T.rc2";
  std::string fs = "build/tzk_bin/Q77T.vlf";

  // Five image-set records; an image set download takes the first three.
  std::vector<ImageRecord> imgsetRecords = {{0x4A0000, Pattern(0x28000, 1)},
                                            {0x700000, Pattern(0x1234, 2)},
                                            {0x900000, Pattern(0x800, 3)},
                                            {0xB00000, Pattern(0x100, 4)},
                                            {0xC00000, Pattern(0x80, 5)}};
  // A calibration set gives its first record only, a resource file too.
  std::vector<ImageRecord> calsetRecords = {{0x240000, Pattern(0x3000, 6)}, {0x260000, Pattern(0x200, 7)}};
  std::vector<ImageRecord> rsrc1Records = {{0x2000000, Pattern(0x21000, 8)}, {0x2100000, Pattern(0x100, 9)}};
  std::vector<ImageRecord> rsrc2Records = {{0x4600000, Pattern(0x5000, 10)}, {0x4700000, Pattern(0x100, 11)}};
  // On the UART the file-system image is one stream for the file-system area.
  std::vector<uint8_t> fsStream = Pattern(0x9001, 12);
};

class DownloadE2eTest : public WindowSimTest {
 protected:
  // Writes the package and chooses the image set (the others follow) and
  // the file-system image, as the operator does with the file buttons.
  void ChoosePackage(bool fsAsRecords = false) {
    paths.imgset = WriteRecordFile(pkg.imgset, pkg.imgsetRecords);
    paths.calset = WriteRecordFile(pkg.calset, pkg.calsetRecords);
    paths.rsrc1 = WriteRecordFile(pkg.rsrc1, pkg.rsrc1Records);
    paths.rsrc2 = WriteRecordFile(pkg.rsrc2, pkg.rsrc2Records);
    paths.fs = fsAsRecords ? WriteRecordFile(pkg.fs, {{0x5100000, pkg.fsStream}}) : WriteFile(pkg.fs, pkg.fsStream);
    ChooseFile(ctl::kImgsetButton, paths.imgset);
    EXPECT_EQ(Text(ctl::kCalsetPath), paths.calset);
    EXPECT_EQ(Text(ctl::kRsrc1Path), paths.rsrc1);
    EXPECT_EQ(Text(ctl::kRsrc2Path), paths.rsrc2);
    ChooseFile(ctl::kFsButton, paths.fs);
    EXPECT_EQ(Text(ctl::kFsPath), paths.fs);
  }

  std::vector<ImageRecord> First(const std::vector<ImageRecord>& records, size_t n) {
    return std::vector<ImageRecord>(records.begin(), records.begin() + static_cast<long>(n));
  }

  ::testing::AssertionResult NotWritten(const std::vector<ImageRecord>& records, size_t from) {
    for (size_t i = from; i < records.size(); ++i) {
      auto erased = FlashErased(FlashPart::Nand, records[i].address, static_cast<uint32_t>(records[i].data.size()));
      if (!erased) return erased << " (record " << i << " is not selected)";
    }
    return ::testing::AssertionSuccess();
  }

  // The progress bar rose step by step to 100 and went back to 0 at the end.
  static ::testing::AssertionResult RoseToFullAndReset(const std::vector<int>& seen, size_t mark) {
    std::vector<int> v(seen.begin() + static_cast<long>(std::min(mark, seen.size())), seen.end());
    std::string text;
    for (int x : v) text += std::to_string(x) + " ";
    if (v.size() < 3 || v.back() != 0) return ::testing::AssertionFailure() << "progress seen: " << text;
    int last = 0;
    bool full = false;
    for (size_t i = 0; i + 1 < v.size(); ++i) {
      if (v[i] < last) return ::testing::AssertionFailure() << "progress went back: " << text;
      last = v[i];
      full = full || v[i] == 100;
    }
    if (!full) return ::testing::AssertionFailure() << "progress never reached 100: " << text;
    return ::testing::AssertionSuccess();
  }

  Package pkg;
  Package paths;
};

TEST_F(DownloadE2eTest, ImageSetThenCalsetAt921KThenTheReconnectBeforeNorWork) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  ChoosePackage();

  // --- Image set ---
  ChooseItem(ctl::kRadioItem5);
  SnapshotAtBox("Download Finished");
  size_t mark = Log().size();
  size_t progressMark = ProgressSeen().size();
  Press(ctl::kDownload);

  EXPECT_TRUE(NandHoldsExactly(First(pkg.imgsetRecords, 3)));
  EXPECT_TRUE(NotWritten(pkg.imgsetRecords, 3));
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Imgset Download",
                             "\n    Open Comport\t\t\t\t> > > ",
                             "OK",
                             "\n    Set Target Phone BaudRate\t\t> > > ",
                             "OK",
                             "\n    imgset Download start!!\n",
                             kSeparator,
                             "\n",
                             "    0 x 4A0000\t Download   131072 bytes\t. . . .  ",
                             " checksum : ",
                             "    0 x 4C0000\t Download   32768 bytes\t. . . .  ",
                             "    0 x 700000\t Download   4660 bytes\t. . . .  ",
                             "    0 x 900000\t Download   2048 bytes\t. . . .  ",
                             "\n      Download",
                             "  Completed",
                             " ( Elapsed Time : ",
                             "s)\n"},
                            mark));
  EXPECT_EQ(Count("Download   ", mark), 4);
  EXPECT_EQ(ColourOf("\n  * NAND : Imgset Download"), kRed);
  EXPECT_EQ(ColourOf("  Completed"), kBlue);
  EXPECT_EQ(ColourOf(" ( Elapsed Time : "), kRed);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Download Finished", "  NOTICE  "}}));
  // While the box was up the job had not yet given the controls back.
  ASSERT_EQ(Snapshots().size(), 1u);
  const WindowSnapshot& atEnd = Snapshots()[0];
  EXPECT_EQ(atEnd.title, " 100% Done...   " + kTitleSuffix);
  EXPECT_EQ(atEnd.progress, 100);
  EXPECT_EQ(atEnd.status, "100");
  EXPECT_FALSE(atEnd.start);
  EXPECT_FALSE(atEnd.download);
  EXPECT_TRUE(atEnd.cancel);
  EXPECT_TRUE(RoseToFullAndReset(ProgressSeen(), progressMark));
  // Afterwards: ready again, counted and remembered, the date sent, the
  // handset back at the base rate for whatever comes next.
  WindowSnapshot after = Snapshot();
  EXPECT_EQ(after.title, kUartTitle);
  EXPECT_EQ(after.status, "Ready");
  EXPECT_EQ(after.progress, 0);
  EXPECT_TRUE(after.download);
  EXPECT_FALSE(after.cancel);
  EXPECT_EQ(Text(ctl::kDownloadCounter), "1");
  EXPECT_EQ(IniSettings(IniSettings::DefaultPath()).ReadInt("FennikDL", "m_nDownloadNum", -1), 1);
  EXPECT_EQ(Sim().LastDownloadDate(), console::TodayText());
  EXPECT_TRUE(HandsetRateBecomes(115200));

  // --- Calset, the second operation at 921K ---
  ChooseItem(ctl::kRadioItem6);
  mark = Log().size();
  size_t boxes = BoxMark();
  Press(ctl::kDownload);
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Calset Download", "\n    Set Target Phone BaudRate\t\t> > > ", "OK",
                             "\n    Now calset Download start!!\n", "    0 x 240000\t Download   12288 bytes",
                             "\n      Download", "  Completed"},
                            mark));
  EXPECT_EQ(BoxesSince(boxes), (std::vector<Box>{{"Download Finished", "  NOTICE  "}}));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.calsetRecords, 1)));
  EXPECT_TRUE(NotWritten(pkg.calsetRecords, 1));
  EXPECT_EQ(Text(ctl::kDownloadCounter), "2");
  EXPECT_TRUE(HandsetRateBecomes(115200));

  // --- NOR work: the NAND loader is told to give way first ---
  Sim().WriteNor(0x1E90000, Pattern(0x100, 13));
  Sim().WriteNor(0x1E90000 + 0x20000 * 4, Pattern(0x10, 14));  // past the file-system range
  mark = Log().size();
  boxes = BoxMark();
  Press(ctl::kNorAllErase);
  const auto questions = host_.Questions();
  ASSERT_GT(questions.size(), boxes);
  EXPECT_EQ(questions[boxes].type, ScriptedModalHost::Type::Confirm);
  EXPECT_EQ(questions[boxes].text, "WARNING!!!!!!!!");
  EXPECT_TRUE(LogHasInOrder({"\n   * Reconnecting (Flash Driver Change)", "\n    Open Comport\t\t\t\t> > > ", "OK",
                             "\n    Now Reconnecting\t\t\t> > > ", "OK", "\n\n  * NOR Flash Driver Download",
                             "\n     NOR Flash driver Downloading\t\t> > > ", "OK\n", "\n  * VLF FORMAT ",
                             "\n    VLF Format start!!\n", "\n      Format", "  Completed!!!\n\n"},
                            mark));
  EXPECT_EQ(BoxesSince(boxes), (std::vector<Box>{{"VLF Format complete", "NOTICE"}}));
  EXPECT_TRUE(FlashErased(FlashPart::Nor, 0x1E90000, 0x100));
  EXPECT_TRUE(FlashHolds(FlashPart::Nor, 0x1E90000 + 0x20000 * 4, Pattern(0x10, 14)));
  EXPECT_EQ(Text(ctl::kNorIdBox), "NQ4410TB 256");
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  // The images written before are untouched.
  EXPECT_TRUE(NandHoldsExactly(First(pkg.imgsetRecords, 3)));
}

TEST_F(DownloadE2eTest, ResourcesFileSystemAndManualImageAt460K) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud460K));
  ChoosePackage();

  ChooseItem(ctl::kRadioItem0);  // Rsrc1
  size_t mark = Log().size();
  Press(ctl::kDownload);
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Rsrc1 Download", "\n    Now Rsrc1 Download start!!\n",
                             "    0 x 2000000\t Download   131072 bytes", "    0 x 2020000\t Download   4096 bytes",
                             "  Completed"},
                            mark));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.rsrc1Records, 1)));
  EXPECT_TRUE(NotWritten(pkg.rsrc1Records, 1));

  ChooseItem(ctl::kRadioItem2);  // Rsrc2
  mark = Log().size();
  Press(ctl::kDownload);
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Rsrc2 Download", "\n    Now Rsrc2 Download start!!\n",
                             "    0 x 4600000\t Download   20480 bytes", "  Completed"},
                            mark));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.rsrc2Records, 1)));
  EXPECT_TRUE(NotWritten(pkg.rsrc2Records, 1));

  ChooseItem(ctl::kRadioItem3);  // File System
  mark = Log().size();
  Press(ctl::kDownload);
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : VLF Format & Download", "\n    Now VLF Download start!!\n",
                             " Download   36865 bytes", "  Completed"},
                            mark));
  EXPECT_TRUE(NandHoldsExactly({{0x5000000, pkg.fsStream}}));

  // The manual image goes to the block the typed address lies in.
  const std::vector<uint8_t> manual = Pattern(0x14321, 15);
  ChooseFile(ctl::kNandChFile, WriteFile("manual/boot_extra.img", manual));
  TypeInto(ctl::kNandStartAddress, "12345F");
  ChooseItem(ctl::kRadioItem10);
  mark = Log().size();
  size_t boxes = BoxMark();
  Press(ctl::kDownload);
  EXPECT_EQ(BoxesSince(boxes),
            (std::vector<Box>{{"Start Address check OK!!\r\nCheck start block Address : 0x120000", "VANTREL Downloader"},
                              {"Download Finished", "  NOTICE  "}}));
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Manual Download",
                             "\n    Now Manual Download start!!( Start address : 0x120000 File Size : 82721 )\n",
                             kSeparator, "  Completed"},
                            mark));
  EXPECT_TRUE(NandHoldsExactly({{0x120000, manual}}));

  // Every item was counted; each ended in the ready state.
  EXPECT_EQ(Text(ctl::kDownloadCounter), "4");
  EXPECT_EQ(IniSettings(IniSettings::DefaultPath()).ReadInt("FennikDL", "m_nDownloadNum", -1), 4);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_EQ(Snapshot().title, kUartTitle);
  EXPECT_EQ(Count("Download Finished"), 0) << "the box text never goes to the log";
  EXPECT_TRUE(HandsetRateBecomes(115200));
}

TEST_F(DownloadE2eTest, AllDownloadErasesAndWritesEveryImage) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  ChoosePackage();
  SetCheck(ctl::kChkCalset, true);  // the chain writes the calibration set too
  // Whatever the handset held before is gone after the chain.
  Sim().WriteNand(0x10000, Pattern(0x40, 16));
  Sim().WriteNand(0x7000000, Pattern(0x40, 17));

  ChooseItem(ctl::kRadioItem7);
  SnapshotAtBox("All Download Finished");
  const size_t mark = Log().size();
  const size_t progressMark = ProgressSeen().size();
  Press(ctl::kDownload);

  EXPECT_TRUE(LogHasInOrder({"\n  * NAND Flash all erase", "\n    Now NAND All blocks erasing\t\t> > > ", "OK\n",
                             "\n  * NAND : Imgset Download", "  Completed", "\n  * NAND : Calset Download",
                             "  Completed", "\n  * NAND : Rsrc1 Download", "  Completed", "\n  * NAND : Rsrc2 Download",
                             "  Completed", "\n  * NAND : VLF Format & Download", "  Completed",
                             "\n  * TOTAL Elapsed Time : "},
                            mark));
  // The chained steps show no box of their own.
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"All Download Finished", "NOTICE"}}));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x10000, 0x40));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x7000000, 0x40));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.imgsetRecords, 3)));
  EXPECT_TRUE(NotWritten(pkg.imgsetRecords, 3));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.calsetRecords, 1)));
  EXPECT_TRUE(NotWritten(pkg.calsetRecords, 1));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.rsrc1Records, 1)));
  EXPECT_TRUE(NandHoldsExactly(First(pkg.rsrc2Records, 1)));
  EXPECT_TRUE(NandHoldsExactly({{0x5000000, pkg.fsStream}}));

  // The file-system step, the last of the chain, has already given the
  // controls back when the final box comes.
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Snapshots()[0].status, "Ready");
  // One count for the whole chain; ready at the end, at the base rate.
  EXPECT_EQ(Text(ctl::kDownloadCounter), "1");
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_TRUE(Enabled(ctl::kDownload));
  const std::vector<int>& seen = ProgressSeen();
  ASSERT_GT(seen.size(), progressMark);
  EXPECT_EQ(seen.back(), 0);
  EXPECT_TRUE(HandsetRateBecomes(115200));
}

TEST_F(DownloadE2eTest, ItemsOverUsb) {
  StartHandset(/*usb=*/true);
  ASSERT_NO_FATAL_FAILURE(Connect(/*usb=*/true, kBaud921K));
  // Over USB the file-system image is a record file like the others.
  ChoosePackage(/*fsAsRecords=*/true);

  ChooseItem(ctl::kRadioItem5);
  size_t mark = Log().size();
  Press(ctl::kDownload);
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Imgset Download", "\n    Open Comport\t\t\t\t> > > ", "OK",
                             "\n    imgset Download start!!\n", "  Completed"},
                            mark));
  // No rate change on USB.
  EXPECT_EQ(Count("Set Target Phone BaudRate", mark), 0);
  EXPECT_TRUE(NandHoldsExactly(First(pkg.imgsetRecords, 3)));
  EXPECT_TRUE(NotWritten(pkg.imgsetRecords, 3));
  EXPECT_EQ(Sim().LastDownloadDate(), console::TodayText());

  ChooseItem(ctl::kRadioItem3);
  Press(ctl::kDownload);
  EXPECT_TRUE(NandHoldsExactly({{0x5100000, pkg.fsStream}}));

  const std::vector<uint8_t> manual = Pattern(0x3000, 18);
  ChooseFile(ctl::kNandChFile, WriteFile("manual/usb.img", manual));
  TypeInto(ctl::kNandStartAddress, "3000000");
  ChooseItem(ctl::kRadioItem10);
  Press(ctl::kDownload);
  EXPECT_TRUE(NandHoldsExactly({{0x3000000, manual}}));

  EXPECT_EQ(Count("Download Failed"), 0);
  EXPECT_EQ(Boxes().back(), (Box{"Download Finished", "  NOTICE  "}));
  EXPECT_EQ(Snapshot().title, kUsbTitle);
  EXPECT_EQ(Text(ctl::kDownloadCounter), "3");
}

}  // namespace
}  // namespace vantrel::test
