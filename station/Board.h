#pragma once
// What the station knows about each port, kept from the workers' JSON
// events: the row of the live table, the result of every run, and the
// summary. Output-free, so that the table and the summary can be checked
// without a terminal.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "jobs/Outcome.h"
#include "platform/Process.h"

namespace vantrel::station {

// The operator's words for a prompt ("Switch the handset on").
const char* PromptText(Prompt prompt);

struct RunResult {
  std::string port;
  int run = 0;
  int status = 0;        // the worker's exit status (128 + signal when killed); when it exited with 0
                         // without reporting success, the status it reported, else 1
  std::string failure;   // "handset", "verify", ... ("" for success)
  std::string reason;
};

struct Row {
  std::string port;
  std::string device;
  std::string phase = "waiting";
  Prompt prompt = Prompt::None;  // what the operator is to do with this handset now
  int percent = -1;      // -1: no progress yet in this operation
  double bytesPerSecond = 0;
  double secondsLeft = -1;
  std::string result = "waiting";
  int run = 0;
  // Of the running worker.
  std::string firstFailure;
  std::string lastNote;
  bool finished = false;  // the worker's final event came: it wrote its own record
  int reportedStatus = -1;  // the status that event gave
};

class Board {
 public:
  Board(const std::vector<std::pair<std::string, std::string>>& portsAndDevices, int repeat);

  size_t Size() const { return rows_.size(); }
  const Row& At(size_t i) const { return rows_[i]; }
  void BeginRun(size_t i);
  // Takes one worker event. Returns the prompt the port begins to wait for
  // with it (None when it does not begin to wait).
  Prompt Apply(size_t i, const nlohmann::json& event);
  // The run's worker ended as `end` says. It succeeded only
  // when the worker's exit event said so and its exit status agrees: a
  // program that ends well without that event never ran the operations.
  RunResult EndRun(size_t i, const platform::ChildExit& end, const std::string& lastErrLine, bool interrupted);

  // The table, one line per port under a header, each at most `width` columns.
  std::vector<std::string> Table(int width) const;
  // A row as one line, for output that is not a terminal.
  std::string Line(size_t i) const;
  // What a line-per-change display compares: the row's phase and result, and
  // its percentage in steps of ten.
  std::string ChangeKey(size_t i) const;

  int Runs() const { return runs_; }
  const std::vector<RunResult>& Failures() const { return failures_; }
  // "all 3 handsets succeeded" or a count and one line per failure.
  std::vector<std::string> Summary() const;

 private:
  std::vector<Row> rows_;
  int repeat_;
  int runs_ = 0;
  std::vector<RunResult> failures_;
};

}  // namespace vantrel::station
