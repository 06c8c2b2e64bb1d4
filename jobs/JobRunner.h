#pragma once
// Runs one operation at a time on its own worker thread.
//
// The job gets a copy of the window's context whose console is gated: Stop()
// (Cancel) closes the gate and requests the job state's cooperative stop,
// so the job writes nothing more to the console or the handset and unwinds on
// its own thread, closing its own links and files. The thread is joined by
// the next Start(), by Join() or by the destructor, never freed from under
// the job.
#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "jobs/JobState.h"
#include "jobs/Outcome.h"

namespace vantrel {

class GatedConsole;

using ThreadProc = int (*)(JobContext&);
// A thread procedure, or a step list around one.
using JobBody = std::function<int(JobContext&)>;

// How a job ended, for whoever keeps a record of the runs.
struct JobEnd {
  bool stopped = false;  // Cancel stopped it
  OperationOutcome outcome;
};
// Called on the job's thread once the job has returned, before Running()
// turns false: whoever waits for the job finds the hook's work done.
using JobEndHook = std::function<void(const JobEnd&)>;

enum class JobPriority {
  Highest,       // every operation but one
  TimeCritical,  // the raw read-back exchange
};

class JobRunner {
 public:
  explicit JobRunner(JobContext& window);
  ~JobRunner();  // Stop() and Join()
  JobRunner(const JobRunner&) = delete;
  JobRunner& operator=(const JobRunner&) = delete;

  // Makes way for the next operation: joins the previous job's thread when
  // it has ended or was stopped, and clears the stop request so that the
  // link works again. Returns false (and does nothing) while a job that was
  // not stopped still runs.
  bool Prepare();
  // Prepare(), then starts `proc` on a new thread. False when Prepare() is.
  bool Start(JobBody proc, JobPriority priority = JobPriority::Highest, JobEndHook onEnd = {});

  bool Running() const { return running_.load(); }
  // Closes the job's console gate and requests the stop. Returns at once;
  // the job ends on its own thread.
  void Stop();
  // Blocks until the job's thread has ended (no-op without one).
  void Join();
  // Exit code of the last finished thread procedure.
  int LastExitCode() const { return exitCode_.load(); }

 private:
  JobContext& window_;
  std::thread thread_;
  std::unique_ptr<GatedConsole> gate_;
  std::unique_ptr<JobContext> jobContext_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{false};
  std::atomic<int> exitCode_{0};
};

// Raises the calling thread's priority where the platform allows it; does
// nothing where it does not (an unprivileged process may not raise it).
void RaiseThreadPriority(JobPriority priority);

}  // namespace vantrel
