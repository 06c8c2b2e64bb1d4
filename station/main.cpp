// vantrel-station: the same vantrel-cli operations on many ports at once.
// See StationUsage() for the command line.
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <memory>
#include <utility>

#include "cli/ExitStatus.h"
#include "cli/RunRecord.h"
#include "cli/Runner.h"
#include "history/History.h"
#include "jobs/Console.h"
#include "jobs/RunRecord.h"
#include "link/PortList.h"
#include "payloads/Payloads.h"
#include "platform/Host.h"
#include "platform/Interrupt.h"
#include "platform/Process.h"
#include "platform/Terminal.h"
#include "platform/TerminalText.h"
#include "station/Board.h"
#include "station/StationArgs.h"
#include "station/Worker.h"

namespace {

using namespace vantrel::station;
using vantrel::platform::ChildExit;
using vantrel::platform::ChildPipe;
using vantrel::platform::EscapeField;
using Clock = std::chrono::steady_clock;

constexpr int kExitSomeFailed = 1;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(200);
constexpr const char* kProgram = "vantrel-station";

class Station {
 public:
  // `watch` wakes when `interrupts` counts one more (the watcher's thread).
  Station(const StationOptions& o, Board& board, vantrel::platform::ChildWatch& watch,
          const std::atomic<int>& interrupts)
      : o_(o), board_(board), program_(WorkerProgram(o.cliProgram)), watch_(watch), pendingInterrupts_(interrupts) {
    tty_ = !o.json && vantrel::platform::UseTerminalSequences(stdout);
    workers_.resize(board.Size());
    keys_.resize(board.Size());
    runStart_.resize(board.Size());
    runWhen_.resize(board.Size());
  }

  int Run() {
    if (o_.json) {
      nlohmann::json ports = nlohmann::json::array();
      for (size_t i = 0; i < board_.Size(); ++i) ports.push_back(board_.At(i).port);
      Emit({{"event", "station"}, {"program", kProgram}, {"version", vantrel::kWindowTitleSuffix},
            {"ports", ports}, {"repeat", o_.repeat}, {"worker", program_}});
    }
    for (size_t i = 0; i < board_.Size(); ++i) StartRun(i);
    while (AnyRunning() || !failedStarts_.empty()) {
      // A worker that could not start ends its run as one that found no
      // program (status 127), here rather than inside the start, since the
      // end starts the port's next run.
      for (auto& [i, error] : std::exchange(failedStarts_, {})) OnEnd(i, ChildExit{true, 127, ""}, error);
      if (!AnyRunning()) continue;
      Show(false);
      std::vector<vantrel::platform::ChildProcess*> children;
      for (const auto& w : workers_) children.push_back(w ? w->Child() : nullptr);
      const auto ready = watch_.Wait(children, tty_ ? kRedrawPeriod : std::chrono::milliseconds(-1));
      while (takenInterrupts_ < pendingInterrupts_.load()) OnInterrupt();
      for (const auto& [i, pipe] : ready) {
        std::vector<std::string> lines;
        workers_[i]->Read(pipe, lines);
        for (const std::string& line : lines) OnLine(i, line);
        if (workers_[i]->Drained() && workers_[i]->Running()) OnEnd(i, workers_[i]->Reap(), workers_[i]->LastErrLine());
      }
    }
    Show(true);
    const std::vector<std::string> summary = board_.Summary();
    const int status = interrupts_ > 0 ? vantrel::cli::kExitInterrupted
                       : board_.Failures().empty() ? vantrel::cli::kExitOk
                                                   : kExitSomeFailed;
    if (o_.json) {
      nlohmann::json failures = nlohmann::json::array();
      for (const RunResult& f : board_.Failures())
        failures.push_back({{"port", f.port}, {"run", f.run}, {"status", f.status}, {"failure", f.failure},
                            {"reason", f.reason}});
      Emit({{"event", "summary"}, {"ok", status == 0}, {"status", status}, {"runs", board_.Runs()},
            {"failed", board_.Failures().size()}, {"failures", failures}, {"text", summary.front()}});
    } else {
      for (const std::string& line : summary) std::printf("%s: %s\n", kProgram, line.c_str());
      std::fflush(stdout);
    }
    return status;
  }

 private:
  bool AnyRunning() const {
    for (const auto& w : workers_)
      if (w && w->Running()) return true;
    return false;
  }

  double Seconds() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }

  void Emit(const nlohmann::json& j) {
    std::string text = j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text += '\n';
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
  }

  void Say(const std::string& line) {
    if (o_.json || tty_) return;
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  }

  void StartRun(size_t i) {
    board_.BeginRun(i);
    runStart_[i] = Clock::now();
    runWhen_[i] = std::time(nullptr);
    workers_[i] = std::make_unique<Worker>();
    std::vector<std::string> args = {"--json", "--port", board_.At(i).port};
    args.insert(args.end(), o_.cliArgs.begin(), o_.cliArgs.end());
    std::string error;
    if (!workers_[i]->Start(program_, args, watch_, &error)) failedStarts_.emplace_back(i, error);
  }

  void OnInterrupt() {
    ++takenInterrupts_;
    ++interrupts_;
    // First: every worker cancels its job as on its own Ctrl-C. Second: the
    // workers stop at once. After that, by force.
    for (const auto& w : workers_) {
      if (!w) continue;
      if (interrupts_ <= 2) w->PassInterrupt();
      else w->Kill();
    }
    if (!o_.json)
      std::fprintf(stderr, "%s: %s\n", kProgram,
                   interrupts_ == 1 ? "cancelling every port; Ctrl-C again stops the workers at once"
                                    : "stopping the workers");
  }

  void OnLine(size_t i, const std::string& line) {
    nlohmann::json e = vantrel::history::ParseJsonLine(line);
    if (e.is_discarded() || !e.is_object()) e = {{"event", "output"}, {"text", line}};
    const vantrel::Prompt raised = board_.Apply(i, e);
    if (!o_.json) return;
    e["port"] = board_.At(i).port;
    e["run"] = board_.At(i).run;
    e["t"] = static_cast<double>(static_cast<int64_t>(Seconds() * 1000)) / 1000;
    // The station tells of a prompt once, when the port begins to wait, in
    // the operator's words; the worker's own prompt events end there.
    if (e.value("event", nlohmann::json()) != "prompt") {
      Emit(e);
    } else if (raised != vantrel::Prompt::None) {
      e["text"] = PromptText(raised);
      Emit(e);
    }
  }

  void OnEnd(size_t i, const ChildExit& end, const std::string& lastErrLine) {
    const bool recorded = board_.At(i).finished;
    RunResult r = board_.EndRun(i, end, lastErrLine, interrupts_ > 0);
    // A worker that crashed or was stopped by force could not write its own
    // record; the log must still show that this handset's run failed.
    if (!recorded) RecordLostRun(i, r);
    // Output lines over the cap were dropped; whoever reads the run must
    // know that some of the worker's events never arrived.
    const size_t droppedLines = workers_[i]->DroppedLines();
    const uint64_t droppedBytes = workers_[i]->DroppedBytes();
    if (o_.json) {
      nlohmann::json worker = {{"event", "worker"}, {"port", r.port}, {"run", r.run}, {"status", r.status},
                               {"failure", r.failure}, {"reason", r.reason}, {"t", Seconds()},
                               {"station_rss_kb", vantrel::platform::ResidentKb()},
                               {"station_fds", vantrel::platform::OpenHandles()}};
      if (droppedLines > 0) {
        worker["dropped_lines"] = droppedLines;
        worker["dropped_bytes"] = droppedBytes;
      }
      Emit(worker);
    }
    if (droppedLines > 0)
      Say(EscapeField(r.port) + ": dropped " + std::to_string(droppedLines) +
          " output line(s) of the worker longer than " + std::to_string(Worker::kMaxLineBytes >> 20) + " MiB (" +
          std::to_string(droppedBytes) + " bytes)");
    if (!r.failure.empty()) Say(board_.Line(i) + ": " + EscapeField(r.reason));
    else Say(board_.Line(i));
    keys_[i] = board_.ChangeKey(i);
    if (interrupts_ == 0 && board_.At(i).run < o_.repeat) StartRun(i);
  }

  void RecordLostRun(size_t i, const RunResult& r) {
    vantrel::RunFacts facts;
    facts.when = runWhen_[i];
    facts.port = r.port;
    facts.device = board_.At(i).device;
    facts.adapterSerial = vantrel::AdapterSerialOf(facts.device);
    facts.result = r.failure;
    facts.status = r.status;
    facts.reason = r.reason;
    facts.seconds = std::chrono::duration<double>(Clock::now() - runStart_[i]).count();
    const nlohmann::json record = vantrel::BuildRunRecord(facts);
    if (vantrel::platform::FileError e = vantrel::history::AppendRecord(record); e && !o_.json)
      std::fprintf(stderr, "%s: cannot add %s's run to the station log: %s\n", kProgram, EscapeField(r.port).c_str(),
                   vantrel::platform::FileErrorText(e).c_str());
  }

  // The table on a terminal (redrawn in place), else a line per changed row.
  void Show(bool final) {
    if (o_.json) return;
    if (!tty_) {
      for (size_t i = 0; i < board_.Size(); ++i) {
        std::string key = board_.ChangeKey(i);
        if (key == keys_[i]) continue;
        keys_[i] = key;
        Say(board_.Line(i));
      }
      return;
    }
    if (!final && Clock::now() - lastDraw_ < kRedrawPeriod) return;
    lastDraw_ = Clock::now();
    const int columns = vantrel::platform::TerminalColumns(stdout);
    const int width = columns > 20 ? columns - 1 : 79;
    const std::vector<std::string> lines = board_.Table(width);
    std::string out;
    if (drawnLines_ > 0) out += "\033[" + std::to_string(drawnLines_) + "F";
    for (const std::string& l : lines) out += "\033[K" + l + "\n";
    std::fputs(out.c_str(), stdout);
    std::fflush(stdout);
    drawnLines_ = lines.size();
  }

  const StationOptions& o_;
  Board& board_;
  std::string program_;
  bool tty_ = false;
  vantrel::platform::ChildWatch& watch_;  // outlives the workers
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::pair<size_t, std::string>> failedStarts_;  // and why
  std::vector<std::string> keys_;
  std::vector<Clock::time_point> runStart_;
  std::vector<std::time_t> runWhen_;
  int interrupts_ = 0;
  const std::atomic<int>& pendingInterrupts_;
  int takenInterrupts_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDraw_{};
  size_t drawnLines_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  vantrel::platform::WriteUtf8ToTheConsole();
  StationParse parsed = ParseStationArguments(vantrel::platform::ProgramArguments(argc, argv));
  if (!parsed.ok) {
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgram, EscapeField(parsed.error).c_str(), kProgram);
    return vantrel::cli::kExitUsage;
  }
  const StationOptions& o = parsed.options;
  if (o.help) {
    std::fputs(StationUsage().c_str(), stdout);
    return 0;
  }
  if (o.version) {
    std::printf("%s %s\n", kProgram, vantrel::kWindowTitleSuffix);
    return 0;
  }
  // A reader that goes away must not stop the station while workers write
  // to handsets. Interrupts are counted on the watcher's thread and wake the
  // main loop's wait; one that comes before the workers start is taken when
  // they have. (The watcher outlives main: what it uses does too.)
  vantrel::platform::IgnoreClosedPipes();
  static vantrel::platform::ChildWatch watch;
  static std::atomic<int> interrupts{0};
  vantrel::platform::CatchInterrupts([] {
    ++interrupts;
    watch.Wake();
  });
  // The workers look for their payload folder as this program does (same
  // environment, same folder, same option); a run whose worker could not
  // write its own record is recorded with the set it was given.
  vantrel::UsePayloads(vantrel::FindPayloads(vantrel::PayloadSearch::FromEnvironment(o.payloadDir)));
  std::vector<std::pair<std::string, std::string>> rows;
  for (const std::string& port : o.ports) {
    vantrel::cli::PortChoice choice;
    std::string error;
    (void)vantrel::cli::ChoosePort(port, choice, error);
    rows.emplace_back(port, choice.device);
  }
  Board board(rows, o.repeat);
  return Station(o, board, watch, interrupts).Run();
}
