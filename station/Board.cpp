#include "station/Board.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "cli/ExitStatus.h"
#include "cli/Output.h"
#include "platform/TerminalText.h"

namespace vantrel::station {

namespace {

std::string Str(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end()) return "";
  if (it->is_string()) return it->get<std::string>();
  return it->is_null() ? "" : it->dump();
}

double Num(const nlohmann::json& j, const char* key, double fallback) {
  auto it = j.find(key);
  return it != j.end() && it->is_number() ? it->get<double>() : fallback;
}

std::string Duration(double seconds) {
  if (seconds < 0) return "";
  const long s = std::lround(seconds);
  char buf[32];
  if (s >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  else std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

// Every cell of the table and the lines holds text from outside (a port
// name, a link's target, a file name in an operation, a worker's reason):
// shown escaped, so that nothing in it reaches the terminal as a control.
std::string Fit(const std::string& raw, size_t width) {
  const std::string text = platform::EscapeField(raw);
  if (text.size() <= width) return text + std::string(width - text.size(), ' ');
  return text.substr(0, width - 1) + "~";
}

Prompt PromptOf(const std::string& name) {
  for (Prompt p : {Prompt::SwitchOn, Prompt::PowerCycle})
    if (name == PromptName(p)) return p;
  return Prompt::None;
}

}  // namespace

const char* PromptText(Prompt prompt) {
  switch (prompt) {
    case Prompt::SwitchOn: return "Switch the handset on";
    case Prompt::PowerCycle: return "Switch the handset off and on";
    case Prompt::None: break;
  }
  return "";
}

Board::Board(const std::vector<std::pair<std::string, std::string>>& portsAndDevices, int repeat) : repeat_(repeat) {
  for (const auto& [port, device] : portsAndDevices) {
    Row r;
    r.port = port;
    r.device = device;
    rows_.push_back(r);
  }
}

void Board::BeginRun(size_t i) {
  Row& r = rows_[i];
  ++r.run;
  r.phase = "starting";
  r.prompt = Prompt::None;
  r.percent = -1;
  r.bytesPerSecond = 0;
  r.secondsLeft = -1;
  r.result = repeat_ > 1 ? "run " + std::to_string(r.run) + "/" + std::to_string(repeat_) : "running";
  r.firstFailure.clear();
  r.lastNote.clear();
  r.finished = false;
  r.reportedStatus = -1;
}

Prompt Board::Apply(size_t i, const nlohmann::json& e) {
  Row& r = rows_[i];
  const std::string event = Str(e, "event");
  if (event == "prompt") {
    const Prompt asked = PromptOf(Str(e, "prompt"));
    const bool raised = asked != Prompt::None && asked != r.prompt;
    r.prompt = asked;
    return raised ? asked : Prompt::None;
  }
  // A prompt holds until the operation moves on.
  if (event == "phase" || event == "operation" || event == "exit") r.prompt = Prompt::None;
  if (event == "exit") {
    r.finished = true;
    r.reportedStatus = static_cast<int>(Num(e, "status", -1));
  }
  if (event == "operation") {
    if (Str(e, "phase") == "begin") {
      r.phase = Str(e, "op");
      r.percent = -1;
      r.bytesPerSecond = 0;
      r.secondsLeft = -1;
    } else if (Str(e, "ok") == "false" && r.firstFailure.empty()) {
      r.firstFailure = Str(e, "op") + ": " + Str(e, "reason");
    }
  } else if (event == "phase") {
    r.phase = Str(e, "phase");
    if (r.phase == PhaseName(Phase::Download)) r.phase += " " + Str(e, "item");
    if (r.phase == PhaseName(Phase::Verify)) r.percent = -1;  // the read-back's bar starts again
  } else if (event == "progress") {
    r.percent = static_cast<int>(Num(e, "percent", 0));
    r.bytesPerSecond = Num(e, "bytes_per_second", 0);
    r.secondsLeft = Num(e, "seconds_left", -1);
  } else if (event == "note") {
    r.lastNote = Str(e, "text");
  }
  return Prompt::None;
}

RunResult Board::EndRun(size_t i, const platform::ChildExit& end, const std::string& lastErrLine, bool interrupted) {
  Row& r = rows_[i];
  RunResult res;
  res.port = r.port;
  res.run = r.run;
  res.status = end.status;
  if (!end.exited) res.reason = "the worker ended by " + end.cause;
  // A worker that was cut short never reports a half-written handset as
  // done, and one that never said how its run went did not succeed either.
  const bool reportedOk = r.finished && r.reportedStatus == cli::kExitOk;
  if (res.status != cli::kExitOk || !reportedOk) {
    if (res.status != cli::kExitOk) {
      // A worker stopped by force after Ctrl-C was interrupted, not crashed.
      res.failure = end.exited ? cli::ExitStatusName(res.status) : interrupted ? "interrupted" : "crashed";
    } else {
      // Ended well without saying so: the status it reported, or a plain failure.
      res.status = r.finished && r.reportedStatus > 0 ? r.reportedStatus : cli::kExitFailure;
      res.failure = cli::ExitStatusName(res.status);
      if (!r.finished) res.reason = "the worker exited with status 0 without reporting how its run went";
    }
    if (res.reason.empty()) res.reason = r.firstFailure;
    if (res.reason.empty()) res.reason = r.lastNote;
    if (res.reason.empty()) res.reason = lastErrLine;
    if (res.reason.empty()) res.reason = "exit status " + std::to_string(res.status);
    failures_.push_back(res);
  }
  ++runs_;
  r.prompt = Prompt::None;
  r.percent = -1;
  r.phase = res.failure.empty() ? "done" : r.phase;
  r.result = res.failure.empty() ? "ok" : "FAILED (" + res.failure + ")";
  if (repeat_ > 1) r.result = "run " + std::to_string(r.run) + "/" + std::to_string(repeat_) + " " + r.result;
  return res;
}

std::vector<std::string> Board::Table(int width) const {
  constexpr size_t kPort = 7, kDevice = 15, kPhase = 26, kPercent = 5, kRate = 11, kLeft = 8;
  auto line = [&](const std::string& port, const std::string& device, const std::string& phase,
                  const std::string& pct, const std::string& rate, const std::string& left, const std::string& result) {
    std::string l = Fit(port, kPort) + Fit(device, kDevice) + Fit(phase, kPhase) + Fit(pct, kPercent) +
                    Fit(rate, kRate) + Fit(left, kLeft) + platform::EscapeField(result);
    if (width > 0 && l.size() > static_cast<size_t>(width)) l.resize(static_cast<size_t>(width));
    while (!l.empty() && l.back() == ' ') l.pop_back();
    return l;
  };
  std::vector<std::string> out = {line("PORT", "DEVICE", "PHASE", "%", "RATE", "LEFT", "RESULT")};
  for (const Row& r : rows_) {
    const bool prompting = r.prompt != Prompt::None;
    const bool moving = r.percent >= 0 && !prompting;
    out.push_back(line(r.port, r.device, prompting ? PromptText(r.prompt) : r.phase,
                       moving ? std::to_string(r.percent) + "%" : "",
                       moving && r.bytesPerSecond > 0 ? cli::FormatRate(r.bytesPerSecond) : "",
                       moving ? Duration(r.secondsLeft) : "", r.result));
  }
  return out;
}

std::string Board::Line(size_t i) const {
  const Row& r = rows_[i];
  std::string l = platform::EscapeField(r.port) + ": ";
  if (r.prompt != Prompt::None) return l + PromptText(r.prompt);
  l += platform::EscapeField(r.phase);
  if (r.percent >= 0) {
    l += "  " + std::to_string(r.percent) + "%";
    if (r.bytesPerSecond > 0) l += "  " + cli::FormatRate(r.bytesPerSecond);
    if (r.secondsLeft >= 0) l += "  " + Duration(r.secondsLeft) + " left";
  }
  return l + "  [" + platform::EscapeField(r.result) + "]";
}

std::string Board::ChangeKey(size_t i) const {
  const Row& r = rows_[i];
  return std::string(PromptName(r.prompt)) + r.phase + "|" + r.result + "|" + std::to_string(r.percent < 0 ? -1 : r.percent / 10);
}

std::vector<std::string> Board::Summary() const {
  std::vector<std::string> out;
  const int ok = runs_ - static_cast<int>(failures_.size());
  const char* what = repeat_ > 1 ? "runs" : "handsets";
  if (failures_.empty() && runs_ == static_cast<int>(rows_.size()) * repeat_) {
    out.push_back("all " + std::to_string(runs_) + " " + what + " succeeded");
    return out;
  }
  const int planned = static_cast<int>(rows_.size()) * repeat_;
  out.push_back(std::to_string(ok) + " of " + std::to_string(planned) + " " + what + " succeeded" +
                (runs_ < planned ? " (" + std::to_string(planned - runs_) + " not run)" : ""));
  for (const RunResult& f : failures_) {
    out.push_back(platform::EscapeField(f.port) + (repeat_ > 1 ? " run " + std::to_string(f.run) : "") +
                  " FAILED (" + f.failure + "): " + platform::EscapeField(f.reason));
  }
  return out;
}

}  // namespace vantrel::station
