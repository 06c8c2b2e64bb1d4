#pragma once
// Runs the operations of one command line against one port, in order, in
// this process: each through the same operation handlers as the window's
// buttons, judged by what the jobs report, and verified on request.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/Args.h"
#include "cli/CliConsole.h"
#include "cli/Output.h"
#include "cli/ProgressMeter.h"

namespace vantrel {
class OperationControl;
struct JobContext;
}

namespace vantrel::cli {

// Which COM name reaches the device, and which device that is.
struct PortChoice {
  int comNumber = 0;       // 1..50
  std::string comName;     // "COM7"
  std::string device;      // the device path the COM name leads to
  bool overridden = false; // a device path given directly (mapped for this process only)
};
// "COM7" (any case) or a device path. False with `error` for anything else.
bool ChoosePort(const std::string& port, PortChoice& out, std::string& error);

// A file an operation reads, with the operator's name for it ("image set").
struct InputFile {
  const char* what;
  std::string path;
};
// The files that an operation sends to the handset (none for the others).
std::vector<InputFile> OperationInputs(const Options& options, const Operation& op);

class Runner {
 public:
  Runner(const Options& options, EventSink& sink, Asker* asker);
  // Returns the exit status.
  int Run();
  // From the signal watcher: cancels the running job or read-back. Returns
  // false when nothing can be cancelled (the caller then exits at once).
  bool Interrupt();
  // Puts a console of `wrap`'s making between the jobs and the command
  // line's own (tests that change what the jobs say).
  using ConsoleWrap = std::function<std::unique_ptr<Console>(Console& inner)>;
  void WrapJobConsole(ConsoleWrap wrap) { wrap_ = std::move(wrap); }

 private:
  enum class Phase { Idle, Job, Verify };
  Judgement RunOne(OperationControl& control, CliConsole& console, OperationRecord& rec, const Operation& op);
  Judgement RunInfo(const Operation& op);
  Judgement Verify(JobContext& ctx, OperationRecord& rec, const Operation& op,
                   const std::vector<ImageTransfer>& transfers);
  void Dispatch(OperationControl& control, const Operation& op);
  void WaitForJob(OperationControl& control);
  ControlValues ControlsFor(const Operation& op) const;
  Judgement CheckInputs(const Operation& op) const;

  const Options& o_;
  EventSink& sink_;
  Asker* asker_;
  PortChoice port_;
  std::atomic<bool> interrupted_{false};
  std::atomic<Phase> phase_{Phase::Idle};
  std::mutex mu_;
  std::condition_variable cv_;
  bool jobEnded_ = false;  // the running job has returned (under mu_)
  ProgressMeter* meter_ = nullptr;
  ConsoleWrap wrap_;
};

}  // namespace vantrel::cli
