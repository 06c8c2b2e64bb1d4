// vantrel-station: the same vantrel-cli operations on many ports at once.
// See StationUsage() for the command line.
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <memory>

#include "cli/ExitStatus.h"
#include "cli/RunRecord.h"
#include "cli/Runner.h"
#include "history/History.h"
#include "jobs/Console.h"
#include "jobs/RunRecord.h"
#include "link/PortList.h"
#include "payloads/Payloads.h"
#include "platform/TerminalText.h"
#include "station/Board.h"
#include "station/StationArgs.h"
#include "station/Worker.h"

namespace {

using namespace vantrel::station;
using vantrel::platform::EscapeField;
using Clock = std::chrono::steady_clock;

constexpr int kExitSomeFailed = 1;
constexpr auto kRedrawPeriod = std::chrono::milliseconds(200);
constexpr const char* kProgram = "vantrel-station";

// The station's own memory and descriptors, for the soak figures.
long ResidentKb() {
  long pages = 0, resident = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

int OpenFds() {
  int n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') ++n;
    closedir(d);
    --n;  // the listing's own descriptor
  }
  return n;
}

class Station {
 public:
  Station(const StationOptions& o, Board& board) : o_(o), board_(board), program_(WorkerProgram(o.cliProgram)) {
    tty_ = !o.json && isatty(STDOUT_FILENO) != 0;
    workers_.resize(board.Size());
    keys_.resize(board.Size());
    runStart_.resize(board.Size());
    runWhen_.resize(board.Size());
  }

  int Run(int signalFd) {
    if (o_.json) {
      nlohmann::json ports = nlohmann::json::array();
      for (size_t i = 0; i < board_.Size(); ++i) ports.push_back(board_.At(i).port);
      Emit({{"event", "station"}, {"program", kProgram}, {"version", vantrel::kWindowTitleSuffix},
            {"ports", ports}, {"repeat", o_.repeat}, {"worker", program_}});
    }
    for (size_t i = 0; i < board_.Size(); ++i) StartRun(i);
    while (AnyRunning()) {
      Show(false);
      std::vector<pollfd> fds = {{signalFd, POLLIN, 0}};
      std::vector<std::pair<size_t, int>> owners;
      for (size_t i = 0; i < workers_.size(); ++i) {
        for (int fd : {workers_[i]->OutFd(), workers_[i]->ErrFd()}) {
          if (fd < 0) continue;
          fds.push_back({fd, POLLIN, 0});
          owners.emplace_back(i, fd);
        }
      }
      if (::poll(fds.data(), fds.size(), tty_ ? static_cast<int>(kRedrawPeriod.count()) : -1) < 0) continue;
      if (fds[0].revents != 0) OnSignal(signalFd);
      for (size_t k = 1; k < fds.size(); ++k) {
        if (fds[k].revents == 0) continue;
        const auto [i, fd] = owners[k - 1];
        std::vector<std::string> lines;
        workers_[i]->Read(fd, lines);
        for (const std::string& line : lines) OnLine(i, line);
        if (workers_[i]->Drained() && workers_[i]->Running()) OnEnd(i);
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
    if (!workers_[i]->Start(program_, args, &error)) {
      RunResult r = board_.EndRun(i, 127 << 8, error, interrupts_ > 0);
      Say(board_.Line(i) + ": " + EscapeField(r.reason));
    }
  }

  void OnSignal(int signalFd) {
    signalfd_siginfo info{};
    if (::read(signalFd, &info, sizeof info) != sizeof info) return;
    ++interrupts_;
    // First: every worker cancels its job as on its own Ctrl-C. Second: the
    // workers stop at once. After that, by force.
    const int forward = interrupts_ <= 2 ? static_cast<int>(info.ssi_signo) : SIGKILL;
    for (const auto& w : workers_)
      if (w) w->Signal(forward);
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

  void OnEnd(size_t i) {
    const int waitStatus = workers_[i]->Reap();
    const bool recorded = board_.At(i).finished;
    RunResult r = board_.EndRun(i, waitStatus, workers_[i]->LastErrLine(), interrupts_ > 0);
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
                               {"station_rss_kb", ResidentKb()}, {"station_fds", OpenFds()}};
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
    winsize ws{};
    const int width = ::ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 20 ? ws.ws_col - 1 : 79;
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
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<std::string> keys_;
  std::vector<Clock::time_point> runStart_;
  std::vector<std::time_t> runWhen_;
  int interrupts_ = 0;
  Clock::time_point start_ = Clock::now();
  Clock::time_point lastDraw_{};
  size_t drawnLines_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  StationParse parsed = ParseStationArguments(std::vector<std::string>(argv + 1, argv + argc));
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
  // to handsets; the signals are read from a descriptor in the main loop.
  ::signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigprocmask(SIG_BLOCK, &set, nullptr);
  const int signalFd = signalfd(-1, &set, SFD_CLOEXEC);
  if (signalFd < 0) {
    std::fprintf(stderr, "%s: signalfd: %s\n", kProgram, std::strerror(errno));
    return vantrel::cli::kExitFailure;
  }
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
  return Station(o, board).Run(signalFd);
}
