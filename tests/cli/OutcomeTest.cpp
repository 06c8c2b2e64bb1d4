// Judging an operation from what the jobs showed the operator: the exit
// status of the front end rests on it.
#include <gtest/gtest.h>

#include "cli/CliConsole.h"
#include "cli/ExitStatus.h"
#include "cli/Outcome.h"

namespace vantrel::cli {
namespace {

TEST(CliOutcome, MessagesAreClassifiedByTheirFixedTexts) {
  struct Case {
    const char* text;
    MessageClass cls;
    FailureKind kind;
  } cases[] = {
      {"Download Finished", MessageClass::Success, FailureKind::None},
      {"DUMP Complete", MessageClass::Success, FailureKind::None},
      {"END", MessageClass::Success, FailureKind::None},
      {"Start Address check OK!!\r\nCheck start block Address : 0x20000", MessageClass::Neutral, FailureKind::None},
      {"VLF All Erased. Turn On/Off", MessageClass::Neutral, FailureKind::None},
      {"Please select download item", MessageClass::Failure, FailureKind::Usage},
      {"Dump range invalid", MessageClass::Failure, FailureKind::Usage},
      {"start address -> PROTECT AREA\r\nCheck the start adress!!!!", MessageClass::Failure, FailureKind::Usage},
      {"Only uart mode available!!!!", MessageClass::Failure, FailureKind::Usage},
      {"Check the file location", MessageClass::Failure, FailureKind::File},
      {"File size error", MessageClass::Failure, FailureKind::File},
      {"NAND : Rscr1 file not existed", MessageClass::Failure, FailureKind::File},
      {"Internal Error! (file creation)", MessageClass::Failure, FailureKind::File},
      {"Error flashing image set : File open error\n", MessageClass::Failure, FailureKind::File},
      {"Error flashing image set : COM port error\n", MessageClass::Failure, FailureKind::Port},
      {"Comport error", MessageClass::Failure, FailureKind::Port},
      {"Error flashing image set : No respone at the target phone\n", MessageClass::Failure, FailureKind::Handset},
      {"Timeout : No Response at the target phone", MessageClass::Failure, FailureKind::Handset},
      {"0x77 error 3", MessageClass::Failure, FailureKind::Handset},
  };
  for (const Case& c : cases) {
    MessageMeaning m = ClassifyMessage(c.text);
    EXPECT_EQ(m.cls, c.cls) << c.text;
    EXPECT_EQ(m.kind, c.kind) << c.text;
  }
}

TEST(CliOutcome, DownloadNeedsItsCompletionNotice) {
  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::Download, kItemImgset));
  t.OnLog("\n      Download", std::nullopt);
  t.OnLog("  Completed", LogKind::BlueNote);
  EXPECT_EQ(t.Judge().status, kExitHandset);  // no "Download Finished" yet
  t.OnMessage("Download Finished");
  EXPECT_EQ(t.Judge().status, kExitOk);
  // A chain's notice is a different one.
  t.Begin(ExpectationFor(OpKind::Download, kItemAll));
  t.OnMessage("Download Finished");
  EXPECT_NE(t.Judge().status, kExitOk);
  t.OnMessage("All Download Finished");
  EXPECT_EQ(t.Judge().status, kExitOk);
}

TEST(CliOutcome, AFailureBoxBeforeTheNoticeStillFails) {
  // The bootloader's Boot2 step shows "Download Finished" whatever happened.
  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::Bootloader, -1));
  t.OnMessage("Bootloader Download available in UART Comport");
  t.OnMessage("Error flashing image set : No respone at the target phone\n");
  t.OnMessage("Download Finished");
  Judgement j = t.Judge();
  EXPECT_EQ(j.status, kExitHandset);
  EXPECT_EQ(j.reason, "Error flashing image set : No respone at the target phone");
}

TEST(CliOutcome, RedFailAfterAStepNamesThatStep) {
  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::EraseAll, -1));
  t.OnLog("\n  * NAND Flash all erase", LogKind::Red);
  t.OnLog("\n    Open Comport\t\t\t\t> > > ", std::nullopt);
  t.OnLog("FAIL", LogKind::Red);
  Judgement j = t.Judge();
  EXPECT_EQ(j.status, kExitPort);
  EXPECT_EQ(j.reason, "Open Comport: FAIL");

  t.Begin(ExpectationFor(OpKind::NandDump, -1));
  t.OnLog("\n    Open Comport\t\t\t\t> > > ", std::nullopt);
  t.OnLog("OK", LogKind::BlueNote);
  t.OnLog("\n    Set Target Phone BaudRate\t\t> > > ", std::nullopt);
  t.OnLog("FAIL\n", LogKind::Red);
  EXPECT_EQ(t.Judge().status, kExitHandset);

  // The connect step's own failure to open.
  t.Begin(ExpectationFor(OpKind::Connect, -1));
  t.OnLog("\n     Try to open COM7\t>", LogKind::BlueNote);
  t.OnLog(" Fail\n", LogKind::Red);
  t.OnMessage("Comm Error");
  EXPECT_EQ(t.Judge().status, kExitPort);
}

TEST(CliOutcome, UnknownFlashTypeDoesNotFailTheConnect) {
  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::Connect, -1));
  t.OnLog("     Flash Type Checking\t\t\t> > > ", std::nullopt);
  t.OnLog("device_id=0 FAIL\n", LogKind::Red);
  t.OnLog("     Flash type Checking\t\t\t> > > ", std::nullopt);
  t.OnLog("FAIL\n", LogKind::Red);
  t.OnLog("Available\n\n", LogKind::BlueNote);
  EXPECT_EQ(t.Judge().status, kExitOk);
}

TEST(CliOutcome, FormatsAreJudgedByTheirOkLine) {
  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::VlfFormat, -1));
  t.OnLog("\n    Open Comport\t\t\t\t> > > ", std::nullopt);
  t.OnLog("OK", LogKind::BlueNote);  // the port, not the format
  t.OnMessage("VLF All Erased. Turn On/Off");
  EXPECT_NE(t.Judge().status, kExitOk);
  t.OnLog("\n    Now NAND VLF Format Setting\t\t> > > ", std::nullopt);
  t.OnLog("OK\n", LogKind::BlueNote);
  EXPECT_EQ(t.Judge().status, kExitOk);
}

TEST(CliOutcome, NothingShownMeansNoSuccess) {
  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::NorDump, -1));
  Judgement j = t.Judge();
  EXPECT_EQ(j.status, kExitHandset);
  EXPECT_FALSE(j.reason.empty());
  t.Begin(ExpectationFor(OpKind::Disconnect, -1));
  EXPECT_EQ(t.Judge().status, kExitOk);
}

TEST(CliOutcome, BlockLinesGiveTheWrittenRanges) {
  WrittenRange r;
  ASSERT_TRUE(ParseBlockLine("    0 x 4A0000\t Download   131072 bytes\t. . . .  ", r));
  EXPECT_EQ(r.address, 0x4A0000u);
  EXPECT_EQ(r.length, 131072u);
  ASSERT_TRUE(ParseBlockLine("    0 x 0\t\t Download   2048 bytes\t. . . .  ", r));
  EXPECT_EQ(r.address, 0u);
  EXPECT_EQ(r.length, 2048u);
  EXPECT_FALSE(ParseBlockLine("\r\n    0 x 1E90000\t Erase   131072 bytes\t. . . .    OK ", r));
  EXPECT_FALSE(ParseBlockLine(" checksum : ", r));

  OutcomeTracker t;
  t.Begin(ExpectationFor(OpKind::Download, kItemImgset));
  t.OnLog("\n  * NAND : Imgset Download", LogKind::Red);
  t.OnLog("    0 x 4A0000\t Download   131072 bytes\t. . . .  ", std::nullopt);
  t.OnLog(" checksum : ", std::nullopt);
  t.OnLog("0x1F\n", LogKind::Red);
  t.OnLog("    0 x 4C0000\t Download   4096 bytes\t. . . .  ", std::nullopt);
  auto w = t.Written();
  ASSERT_EQ(w.size(), 2u);
  EXPECT_EQ(w[1].address, 0x4C0000u);
  EXPECT_EQ(w[1].length, 4096u);
  EXPECT_EQ(w[0].section, "NAND : Imgset Download");
  EXPECT_EQ(w[1].section, "NAND : Imgset Download");
}

// The console answers confirmations from --yes or the terminal, and refuses
// them without either; a refusal is its own kind of failure.
class FixedAsker : public Asker {
 public:
  explicit FixedAsker(std::optional<bool> a) : answer(a) {}
  std::optional<bool> Ask(const std::string& q) override {
    asked.push_back(q);
    return answer;
  }
  std::optional<bool> answer;
  std::vector<std::string> asked;
};

class NullSink : public EventSink {
 public:
  void Log(const std::string&, std::optional<LogKind>) override {}
  void Indicator(const std::string&, int) override {}
  void Control(int, const std::string&) override {}
  void State(const char*) override {}
  void Message(const std::string&, const std::string&, const char*) override {}
  void Confirm(const std::string&, const std::vector<std::string>&, bool, const char*) override {}
  void Dialog(const std::string& d, const std::string& a) override { dialogs.push_back(d + "=" + a); }
  void Progress(const ProgressSample&) override {}
  void ProgressEnd() override {}
  void Note(const std::string& n) override { notes.push_back(n); }
  void OpBegin(int, int, const std::string&) override {}
  void OpEnd(int, int, const std::string&, int, const std::string&) override {}
  void Verify(const std::string&, bool, uint32_t, int64_t, const std::string&) override {}
  void Trace(const std::string&) override {}
  void Info(const std::string&, uint64_t, uint32_t) override {}
  void Finish(int, int, int) override {}
  std::vector<std::string> notes, dialogs;
};

TEST(CliConsoleTest, ConfirmationsByYesTerminalOrNobody) {
  OperationRecord rec;
  NullSink sink;
  Operation op;
  op.kind = OpKind::EraseAll;

  CliConsole yes(sink, rec, nullptr, true);
  yes.BeginOperation(op, {});
  EXPECT_TRUE(yes.Confirm("WARNING!!!!!!!!", {"All NAND flash data are erased.", "Are you sure?"}));

  FixedAsker no(false);
  CliConsole asked(sink, rec, &no, false);
  asked.BeginOperation(op, {});
  EXPECT_FALSE(asked.Confirm("WARNING!!!!!!!!", {"All NAND flash data are erased.", "Are you sure?"}));
  ASSERT_EQ(no.asked.size(), 1u);
  EXPECT_EQ(no.asked[0], "WARNING!!!!!!!! All NAND flash data are erased. Are you sure?");
  EXPECT_EQ(asked.Tracker().Judge().status, kExitNotConfirmed);

  FixedAsker nobody(std::nullopt);
  CliConsole headless(sink, rec, &nobody, false);
  headless.BeginOperation(op, {});
  EXPECT_EQ(headless.MessageBox("Proceed?", "", MsgButtons::OkCancel), MsgAnswer::Cancel);
  EXPECT_EQ(headless.Tracker().Judge().status, kExitNotConfirmed);
  ASSERT_EQ(sink.notes.size(), 1u);
  EXPECT_NE(sink.notes[0].find("--yes"), std::string::npos);
}

TEST(CliConsoleTest, DialogsAreAnsweredFromTheOperation) {
  OperationRecord rec;
  NullSink sink;
  CliConsole con(sink, rec, nullptr, false);
  Operation op;
  op.kind = OpKind::NandErase;
  op.from = 0xAC0000;
  op.to = 0xCBFFFF;
  con.BeginOperation(op, {});
  auto area = con.NandDumpDialog();
  ASSERT_TRUE(area);
  EXPECT_EQ(area->from, 0xAC0000u);
  EXPECT_EQ(area->to, 0xCBFFFFu);
  EXPECT_EQ(area->erase, 1);
  EXPECT_FALSE(con.NorDumpDialog());  // not this operation's dialog

  op.kind = OpKind::NorDump;
  op.file = "";
  con.BeginOperation(op, {});
  EXPECT_EQ(con.SaveFileDialog("nordump0x20000_0x1eaffff.dmp", "All Files (*.*)|*.*||").value_or(""),
            "nordump0x20000_0x1eaffff.dmp");
  op.file = "/definitely/not/here.dmp";
  con.BeginOperation(op, {});
  EXPECT_EQ(con.SaveFileDialog("x.dmp", "").value_or(""), "/definitely/not/here.dmp");

  // An existing file is not overwritten without a confirmation.
  op.file = "/";
  con.BeginOperation(op, {});
  EXPECT_FALSE(con.SaveFileDialog("x.dmp", ""));
  EXPECT_EQ(con.Tracker().Judge().status, kExitNotConfirmed);
}

TEST(CliConsoleTest, ControlsFillTheRecordWithMeasuredSizes) {
  OperationRecord rec;
  NullSink sink;
  CliConsole con(sink, rec, nullptr, false);
  ControlValues c;
  c.comPort = 6;
  c.baudIndex = 2;
  c.commType = 1;
  c.downloadItem = kItemFs;
  c.fs = VANTREL_CLI_MANPAGE;  // any readable file
  c.fsChosen = 1;
  c.imgset = "/no/such/file.img";
  Operation op;
  op.kind = OpKind::Download;
  con.BeginOperation(op, c);
  EXPECT_EQ(rec.m_nComPort, 6);
  EXPECT_EQ(rec.m_nBaudRate, 2);
  EXPECT_EQ(rec.m_nCommType, 1);
  EXPECT_EQ(rec.m_nDownloadItem, kItemFs);
  EXPECT_EQ(rec.m_strOgmPath, VANTREL_CLI_MANPAGE);
  EXPECT_EQ(rec.m_strFactoryFSFileName, VANTREL_CLI_MANPAGE);
  EXPECT_GT(rec.m_nOgmSize, 0u);
  EXPECT_EQ(rec.m_bFsChosen, 1);
  EXPECT_EQ(rec.m_nImageFileSize, 0u);  // a missing file measures 0
  // A job's change survives the window's copy-back-and-forth.
  rec.m_strManualNandImage = "boot2";
  con.RecordToControls();
  con.ControlsToRecord();
  EXPECT_EQ(rec.m_strManualNandImage, "boot2");
}

}  // namespace
}  // namespace vantrel::cli
