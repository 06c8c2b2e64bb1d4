// Judging an operation from its outcome: the exit status of the front end
// rests on it.
#include <gtest/gtest.h>

#include "cli/CliConsole.h"
#include "cli/ExitStatus.h"
#include "cli/Outcome.h"

namespace vantrel::cli {
namespace {

TEST(CliOutcome, StatusAndReasonComeFromTheOutcome) {
  auto failed = [](FailureKind kind, Result rc, std::string box = "", std::string port = "") {
    OperationOutcome o;
    o.failure = kind;
    o.result = rc;
    o.message = {std::move(box), ""};
    o.portProblem = std::move(port);
    return o;
  };
  OperationOutcome done;
  done.completed = true;
  done.message = {"Download Finished", "  NOTICE  "};
  struct Case {
    OperationOutcome outcome;
    Refusal refusal;
    int status;
    std::string reason;
  } cases[] = {
      {done, {}, kExitOk, ""},
      {failed(FailureKind::Handset, Result::NoResponse, "Error flashing image set : No response\n"), {}, kExitHandset,
       "Error flashing image set : No response"},
      // Without a box of its own the result code says it, with the port's reason.
      {failed(FailureKind::Port, Result::ComPort, "", "/dev/ttyUSB0: busy"), {}, kExitPort,
       "COM port error (/dev/ttyUSB0: busy)"},
      {failed(FailureKind::File, Result::FileWrite, "Error writing dump file"), {}, kExitFile, "Error writing dump file"},
      // Neither finished nor said why: not done.
      {OperationOutcome{}, {}, kExitHandset, "the operation ended without its completion notice"},
      // The command line's refusal comes before what the job made of it.
      {failed(FailureKind::File, Result::Ok, "File select canceled"),
       {FailureKind::NotConfirmed, "/x.dmp exists and was not overwritten"}, kExitNotConfirmed,
       "/x.dmp exists and was not overwritten"},
      {OperationOutcome{}, {FailureKind::Interrupted, "Are you sure?"}, kExitInterrupted, "Are you sure?"},
  };
  for (const Case& c : cases) {
    const Judgement j = Judge(c.outcome, c.refusal);
    EXPECT_EQ(j.status, c.status) << c.reason;
    EXPECT_EQ(j.reason, c.reason);
  }
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
  void OpEnd(int, int, const std::string&, const Judgement&) override {}
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
  EXPECT_EQ(asked.FirstRefusal().kind, FailureKind::NotConfirmed);

  FixedAsker nobody(std::nullopt);
  CliConsole headless(sink, rec, &nobody, false);
  headless.BeginOperation(op, {});
  EXPECT_EQ(headless.MessageBox("Proceed?", "", MsgButtons::OkCancel), MsgAnswer::Cancel);
  EXPECT_EQ(headless.FirstRefusal().kind, FailureKind::NotConfirmed);
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
  EXPECT_EQ(con.FirstRefusal().kind, FailureKind::NotConfirmed);
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
