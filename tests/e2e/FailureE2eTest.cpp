// What the operator meets when things go wrong in the middle: a handset
// that falls silent during a transfer, a refused address, a file that
// vanished after it was chosen, Cancel during a download, and closing the
// window while a job runs.
#include <QCoreApplication>
#include <QProgressBar>

#include <chrono>
#include <filesystem>
#include <thread>

#include "history/History.h"
#include "jobs/JobState.h"
#include "jobs/Outcome.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "maintenance/OperationControl.h"
#include "tests/e2e/WindowSimFixture.h"

namespace vantrel::test {
namespace {

using sim::Fault;
using sim::FlashPart;

const std::string kCanceled = "  CANCELED\n\n  Turn Off the target phone!!!!!\n";

sim::Fault MakeFault(Fault::Kind kind, uint32_t occurrence, const std::string& event = "") {
  Fault f;
  f.kind = kind;
  f.occurrence = occurrence;
  f.event = event;
  return f;
}

class FailureE2eTest : public WindowSimTest {};

TEST_F(FailureE2eTest, HandsetFallsSilentInMidTransfer) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  // Three blocks of file, so three ticks are expected.
  const std::vector<ImageRecord> records = {{0x4600000, Pattern(0x60000 - 8, 1)}};
  const std::string rsrc2 = WriteRecordFile("res/Q77T.rc2", records);
  ChooseFile(ctl::kRsrc2Button, rsrc2);
  ChooseItem(ctl::kRadioItem2);
  timing::SetPollScale(0.25);  // the silence is what is waited for
  // The first block goes through; the handset never asks for the second.
  Sim().AddFault(MakeFault(Fault::Kind::Silence, 2, "block-request"));
  const std::string failure = std::string("Error flashing image set : ") + ResultText(Result::NoResponse) + "\n";
  SnapshotAtBox(failure);
  const size_t mark = Log().size();
  Press(ctl::kDownload);

  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Rsrc2 Download", "    0 x 4600000\t Download   131072 bytes",
                             " checksum : ", " Not response at the target phone\n", "\n      Download", "  Failed",
                             " ( Elapsed Time : "},
                            mark));
  EXPECT_EQ(Count("  Completed", mark), 0);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{failure, "VANTREL Downloader"}}));
  // What the window showed while the box was up: one block of three.
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Snapshots()[0].progress, 33);
  EXPECT_EQ(Snapshots()[0].ticks, " 1 / 3 ");
  EXPECT_EQ(Snapshots()[0].title, " 33% Done...   " + kTitleSuffix);
  // Afterwards the console is ready for the next try; the try was counted.
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_EQ(Snapshot().progress, 0);
  EXPECT_EQ(Snapshot().title, kUartTitle);
  EXPECT_EQ(Text(ctl::kDownloadCounter), "1");
  EXPECT_TRUE(Enabled(ctl::kDownload));
  EXPECT_FALSE(Enabled(ctl::kCancel));
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, 0x4600000, std::vector<uint8_t>(records[0].data.begin(),
                                                                           records[0].data.begin() + 0x20000)));
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x4620000, 0x40000 - 8));
  // The station log has a line per job: the connect that worked, then the
  // download with its file and the failure in the box's own words.
  const history::Contents runs = history::ReadRecords();
  EXPECT_EQ(runs.damaged, 0);
  ASSERT_EQ(runs.records.size(), 2u);
  EXPECT_EQ(runs.records[0]["operations"][0]["op"], "connect");
  EXPECT_EQ(runs.records[0]["result"], "ok");
  const nlohmann::json& run = runs.records[1];
  EXPECT_EQ(run["port"], "COM7");
  EXPECT_EQ(run["result"], "failure");
  EXPECT_EQ(run["reason"], TrimBlanks(failure));
  EXPECT_TRUE(run["flash_id"].is_string());
  EXPECT_EQ(run["tool_version"], kTitleSuffix);
  const nlohmann::json& file = run["operations"][0]["files"][0];
  EXPECT_EQ(file["path"], rsrc2);
  EXPECT_EQ(file["size"], std::filesystem::file_size(rsrc2));
  EXPECT_EQ(file["checksum"].get<std::string>().size(), 10u);
  TakeViolations();  // the handset stopped listening properly, on purpose
}

TEST_F(FailureE2eTest, RefusedAddressThenTheSameItemAgain) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud460K));
  const std::vector<ImageRecord> records = {{0x240000, Pattern(0x1800, 2)}};
  ChooseFile(ctl::kCalsetButton, WriteRecordFile("cal/Q77T_calset.img", records));
  ChooseItem(ctl::kRadioItem6);
  Sim().AddFault(MakeFault(Fault::Kind::RefuseAddress, 1));
  const size_t mark = Log().size();
  Press(ctl::kDownload);
  const std::string failure = std::string("Error flashing image set : ") + ResultText(Result::InvalidAddress) + "\n";
  EXPECT_EQ(Boxes(), (std::vector<Box>{{failure, "VANTREL Downloader"}}));
  EXPECT_TRUE(LogHasInOrder({"\n  * NAND : Calset Download", "\n      Download", "  Failed"}, mark));
  EXPECT_EQ(Count("Download   ", mark), 0);
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x240000, 0x1800));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");

  // The loader is still in step: the next press writes the image.
  Sim().ClearFaults();
  Press(ctl::kDownload);
  EXPECT_EQ(Boxes().back(), (Box{"Download Finished", "  NOTICE  "}));
  EXPECT_TRUE(NandHoldsExactly(records));
  EXPECT_EQ(Text(ctl::kDownloadCounter), "2");
}

TEST_F(FailureE2eTest, FileThatVanishedAfterItWasChosen) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud115K));
  const std::string path = WriteRecordFile("out/Q77T_imgset.img", {{0x4A0000, Pattern(0x100, 3)}});
  ChooseFile(ctl::kImgsetButton, path);
  EXPECT_EQ(Text(ctl::kImgsetPath), path);
  std::filesystem::remove(path);
  ChooseItem(ctl::kRadioItem5);
  const size_t mark = Log().size();
  WriteWatch line;
  line.Arm();
  Press(ctl::kDownload);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Check the file location", "VANTREL Downloader"},
                                       {"Verify a path of Imgset file", "VANTREL Downloader"}}));
  EXPECT_EQ(LogSince(mark), "");
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  EXPECT_TRUE(Enabled(ctl::kDownload));
  EXPECT_EQ(Text(ctl::kDownloadCounter), "0") << "a refused press is not counted";
  EXPECT_EQ(line.WritesSinceArmed(), 0) << "nothing went to the handset";

  // The same happens to a manual image that went away.
  const std::string manual = WriteFile("manual/m.img", Pattern(0x100, 4));
  ChooseFile(ctl::kNandChFile, manual);
  std::filesystem::remove(manual);
  TypeInto(ctl::kNandStartAddress, "100000");
  ChooseItem(ctl::kRadioItem10);
  const size_t boxes = BoxMark();
  Press(ctl::kDownload);
  EXPECT_EQ(BoxesSince(boxes), (std::vector<Box>{{"Check the file location", "VANTREL Downloader"}}));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
}

TEST_F(FailureE2eTest, DownloadChecksRefuseBeforeAnythingIsSent) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud115K));
  WriteWatch line;
  line.Arm();
  const size_t mark = Log().size();
  const auto pressExpecting = [&](const std::vector<Box>& boxes) {
    const size_t at = BoxMark();
    Press(ctl::kDownload);
    EXPECT_EQ(BoxesSince(at), boxes);
    EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
    EXPECT_TRUE(Enabled(ctl::kDownload));
  };
  // No item chosen.
  pressExpecting({{"Please select download item", "VANTREL Downloader"}});
  // A calibration set one byte over its limit.
  ChooseFile(ctl::kCalsetButton, WriteFile("cal/big_calset.img", std::vector<uint8_t>(131072, 1)));
  ChooseItem(ctl::kRadioItem6);
  pressExpecting({{"File size error", "VANTREL Downloader"}});
  // A manual image aimed below the protected area: the address is rounded
  // down to its block first.
  ChooseFile(ctl::kNandChFile, WriteFile("manual/m.img", Pattern(0x100, 9)));
  TypeInto(ctl::kNandStartAddress, "1FFFF");
  ChooseItem(ctl::kRadioItem10);
  pressExpecting({{"start address -> PROTECT AREA\r\nCheck the start adress!!!!", "VANTREL Downloader"}});
  // ... and one that would run past the end of the flash.
  ChooseFile(ctl::kNandChFile, WriteFile("manual/big.img", Pattern(0x80000, 10)));
  TypeInto(ctl::kNandStartAddress, "7E40000");
  pressExpecting({{"Image file size too big", "VANTREL Downloader"}});

  EXPECT_EQ(LogSince(mark), "");
  EXPECT_EQ(Text(ctl::kDownloadCounter), "0");
  EXPECT_EQ(line.WritesSinceArmed(), 0) << "nothing went to the handset";
}

TEST_F(FailureE2eTest, CancelInTheMiddleOfADownloadThenStartAgain) {
  sim::Options o = Options();
  o.blockSize = 0x10000;  // many blocks, each paced by the UART session
  StartHandset(false, o);
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  const std::vector<ImageRecord> big = {{0x2000000, Pattern(0x400000, 5)}};  // 64 blocks
  ChooseFile(ctl::kRsrc1Button, WriteRecordFile("res/Q77T.rc1", big));
  ChooseItem(ctl::kRadioItem0);
  timing::SetPauseScale(0.05);  // about 50 ms per block
  WriteWatch line;

  CDownloaderDlg& w = Window();
  ASSERT_TRUE(w.Click(ctl::kDownload));
  auto* bar = w.ControlAs<QProgressBar>(ctl::kProgressBar);
  ASSERT_TRUE(PumpUntil([&] { return bar->value() > 0 && w.Control(ctl::kCancel)->isEnabled(); }))
      << "the download never got going";
  // The job goes on talking while the window is busy elsewhere; what it said
  // meanwhile waits in the window's queue when the operator presses Cancel.
  std::this_thread::sleep_for(std::chrono::milliseconds(150));
  ASSERT_TRUE(w.Operations().JobRunning());
  ASSERT_TRUE(w.Click(ctl::kCancel));
  line.Arm();
  const std::string atCancel = Log();

  // Cancel's own words, twice, then the disconnected state.
  const std::string help =
      "\n * How to use Download Mode\n    1. Turn off the target phone!!!\n    2. Select COM Port(USB or UART) , "
      "Baud Rate.\n    3. Push the Start Button.\n    4. Turn on the target phone!!!\n";
  ASSERT_GE(atCancel.size(), 2 * kCanceled.size() + help.size());
  EXPECT_EQ(atCancel.substr(atCancel.size() - 2 * kCanceled.size() - help.size()), kCanceled + kCanceled + help);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_EQ(bar->value(), 0);
  EXPECT_FALSE(Enabled(ctl::kCancel));
  EXPECT_TRUE(Enabled(ctl::kStart));

  // Nothing more from the stopped job: not in the log, not on the bar, not
  // in a box, not on the line.
  const size_t progressAtCancel = ProgressSeen().size();
  WaitIdle();
  PumpUntil([] { return false; }, 200);
  EXPECT_EQ(Log(), atCancel);
  EXPECT_EQ(ProgressSeen().size(), progressAtCancel);
  EXPECT_EQ(bar->value(), 0);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(line.WritesSinceArmed(), 0);
  EXPECT_EQ(Snapshot().title, kOffTitle);
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x2000000 + 0x3F0000, 0x10000)) << "the last block never came";

  // The operator switches the handset off and starts again; the handset
  // comes on when the port opens, and the same download goes through.
  ASSERT_NO_FATAL_FAILURE(SwitchHandsetOff());
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  const std::vector<ImageRecord> small = {{0x2600000, Pattern(0x18000, 6)}};
  ChooseFile(ctl::kRsrc1Button, WriteRecordFile("res/Q77T_2.rc1", small));
  Press(ctl::kDownload);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Download Finished", "  NOTICE  "}}));
  EXPECT_TRUE(NandHoldsExactly(small));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
  TakeViolations();  // the stopped transfer left the handset mid-block
}

TEST_F(FailureE2eTest, ClosingTheWindowDuringADownloadStopsTheJob) {
  sim::Options o = Options();
  o.blockSize = 0x10000;
  StartHandset(false, o);
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  ChooseFile(ctl::kRsrc1Button, WriteRecordFile("res/Q77T.rc1", {{0x2000000, Pattern(0x400000, 7)}}));
  ChooseItem(ctl::kRadioItem0);
  timing::SetPauseScale(0.05);
  WriteWatch line;
  CDownloaderDlg& w = Window();
  ASSERT_TRUE(w.Click(ctl::kDownload));
  auto* bar = w.ControlAs<QProgressBar>(ctl::kProgressBar);
  ASSERT_TRUE(PumpUntil([&] { return bar->value() > 0; }));
  win_.reset();  // the window goes away with the job in mid-block
  line.Arm();
  QCoreApplication::processEvents();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(line.WritesSinceArmed(), 0);
  EXPECT_TRUE(FlashErased(FlashPart::Nand, 0x2000000 + 0x3F0000, 0x10000));
  TakeViolations();
}

}  // namespace
}  // namespace vantrel::test
