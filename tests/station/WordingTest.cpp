// The front ends act on what the jobs mean, not on what they say: with the
// completion notices, the block lines and the switch-on line worded anew (a
// translation, a mended text), the exit statuses, the ranges --verify reads
// back, the station's rows and the station log stay what they were.
#include <cstdio>

#include "SimSession.h"
#include "cli/RunRecord.h"
#include "cli/Runner.h"
#include "history/History.h"
#include "station/Board.h"

namespace vantrel::cli {
namespace {

std::string Reworded(std::string text) {
  static const std::pair<std::string, std::string> kWords[] = {
      {"Download Finished", "Herunterladen beendet"}, {" Download   ", " geschrieben "}, {"0 x ", "Block "},
      {"bytes", "Bytes"}, {"Available", "Bereit"}, {"Turn on the target phone", "Telefon einschalten"},
      {"Completed", "fertig"}};
  for (const auto& [from, to] : kWords)
    for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
  return text;
}

// Between the jobs and the command line: every word reworded, every value as it was.
class RewordingConsole final : public Console {
 public:
  explicit RewordingConsole(Console& inner) : in_(inner) {}
  void AppendLog(const std::string& t, LogKind k) override { in_.AppendLog(Reworded(t), k); }
  void AppendLogPlain(const std::string& t) override { in_.AppendLogPlain(Reworded(t)); }
  MsgAnswer MessageBox(const std::string& t, const std::string& c, MsgButtons b) override {
    return in_.MessageBox(Reworded(t), c, b);
  }
  void SetLinkIndicator(const std::string& t, IndicatorKind k) override { in_.SetLinkIndicator(t, k); }
  void SetControlText(int id, const std::string& t) override { in_.SetControlText(id, t); }
  void EnableControl(int id, bool on) override { in_.EnableControl(id, on); }
  void SetProgressRange(int lo, int hi) override { in_.SetProgressRange(lo, hi); }
  void SetProgressPos(int pos) override { in_.SetProgressPos(pos); }
  void ShowItemProgress(int id, ItemFont f) override { in_.ShowItemProgress(id, f); }
  void ShowTicks(int t, int e) override { in_.ShowTicks(t, e); }
  void ShowPercent(int p) override { in_.ShowPercent(p); }
  void ShowPhase(Phase p, ImageItem i) override { in_.ShowPhase(p, i); }
  void ShowPrompt(Prompt p) override { in_.ShowPrompt(p); }
  void ShowWrittenBlock(const FlashRange& b) override { in_.ShowWrittenBlock(b); }
  void ShowFlashId(uint8_t id) override { in_.ShowFlashId(id); }
  void EnterDisconnectedState() override { in_.EnterDisconnectedState(); }
  void EnterReadyState() override { in_.EnterReadyState(); }
  void EnterBusyState() override { in_.EnterBusyState(); }
  void ControlsToRecord() override { in_.ControlsToRecord(); }
  void RecordToControls() override { in_.RecordToControls(); }
  bool Confirm(const std::string& t, const std::vector<std::string>& l) override { return in_.Confirm(t, l); }
  std::optional<std::string> SaveFileDialog(const std::string& n, const std::string& f) override {
    return in_.SaveFileDialog(n, f);
  }
  std::optional<DumpArea> NorDumpDialog() override { return in_.NorDumpDialog(); }
  std::optional<DumpArea> NandDumpDialog() override { return in_.NandDumpDialog(); }

 private:
  Console& in_;
};

class Wording : public CliSession {
 protected:
  struct Run {
    int status = 0;
    std::vector<nlohmann::json> events;
    std::string log;  // every log text, joined
  };

  // One vantrel-cli run in this process, with its jobs' words reworded: the
  // JSON events it prints and the record it leaves.
  Run RunReworded(int com, std::initializer_list<std::string> more) {
    std::vector<std::string> args = Cli(com, {"--json", "--yes"});
    args.insert(args.end(), more);
    ParseResult parsed = ParseArguments(args);
    EXPECT_TRUE(parsed.ok) << parsed.error;
    char* text = nullptr;
    size_t size = 0;
    std::FILE* out = open_memstream(&text, &size);
    Run run;
    {
      JsonSink json(out);
      RecordingSink recorder(json, parsed.options, history::HistoryPath());
      Runner runner(parsed.options, recorder, nullptr);
      runner.WrapJobConsole([](Console& inner) { return std::make_unique<RewordingConsole>(inner); });
      run.status = runner.Run();
    }
    std::fclose(out);
    std::stringstream lines(std::string(text, size));
    std::free(text);
    for (std::string line; std::getline(lines, line);) {
      run.events.push_back(nlohmann::json::parse(line));
      if (run.events.back()["event"] == "log") run.log += run.events.back()["text"].get<std::string>();
    }
    return run;
  }

  // The station's row for a worker that printed `events` and ended with
  // `status`; `prompts` counts the times the port began to wait for its handset.
  static station::RunResult StationRow(const Run& run, int* prompts = nullptr) {
    station::Board board({{"COM7", "/dev/null"}}, 1);
    board.BeginRun(0);
    for (const auto& e : run.events)
      if (board.Apply(0, e) == Prompt::SwitchOn && prompts != nullptr) ++*prompts;
    return board.EndRun(0, {true, run.status, ""}, "", false);
  }
};

TEST_F(Wording, NewWordsLeaveStatusesRangesStationAndLogAsTheyWere) {
  START_SIM_OR_SKIP(sim, 7);
  sim::Fault flip;
  ASSERT_TRUE(sim::Fault::Parse("flip:nand:0x4C0123:3", &flip, nullptr));
  StartSim(8)->AddFault(flip);
  const auto recs = DemoRecords(3);
  const std::string img = Scratch("demo.img");
  WriteRecordFile(img, recs);

  const Run ok = RunReworded(7, {"--verify", "connect", "download", "imgset", img});
  ASSERT_EQ(ok.status, kExitOk) << ok.log;
  // The words did change.
  EXPECT_NE(ok.log.find("Block 4A0000\t geschrieben 131072 Bytes"), std::string::npos) << ok.log;
  EXPECT_EQ(ok.log.find("Available"), std::string::npos);
  // --verify read back what the download wrote: every byte of the three records.
  const auto verify = std::find_if(ok.events.begin(), ok.events.end(), [](auto& e) { return e["event"] == "verify"; });
  ASSERT_NE(verify, ok.events.end());
  EXPECT_EQ((*verify)["match"], true);
  EXPECT_EQ((*verify)["bytes"], 0x29000);
  int prompts = 0;
  EXPECT_EQ(StationRow(ok, &prompts).status, kExitOk);
  EXPECT_EQ(prompts, 1);  // the connect's "switch the handset on"

  // A bit the flash stores wrongly: found at its address, as before.
  const Run bad = RunReworded(8, {"--verify", "connect", "download", "imgset", img});
  EXPECT_EQ(bad.status, kExitVerify);
  const station::RunResult row = StationRow(bad);
  EXPECT_EQ(row.failure, "verify");
  EXPECT_NE(row.reason.find("at address 0x4C0123"), std::string::npos) << row.reason;

  // The station log: the result, and the ranges the download wrote.
  const auto records = history::ReadRecords().records;
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0]["result"], "ok");
  EXPECT_EQ(records[0]["flash_id"], "0xB1");
  const nlohmann::json written = records[0]["operations"][1]["written"];
  EXPECT_EQ(written, nlohmann::json::parse(R"([{"region":"NAND","address":"0x4A0000","length":155648},
                                               {"region":"NAND","address":"0x500000","length":12288}])"));
  EXPECT_EQ(records[1]["result"], "verify");
  EXPECT_EQ(records[1]["operations"][1]["written"], written);
}

}  // namespace
}  // namespace vantrel::cli
