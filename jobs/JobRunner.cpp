#include "jobs/JobRunner.h"

#include "jobs/GatedConsole.h"
#include "link/Stop.h"
#include "platform/Host.h"

namespace vantrel {

void RaiseThreadPriority(JobPriority priority) {
  platform::RaiseThisThread(priority == JobPriority::TimeCritical ? platform::ThreadPriority::TimeCritical
                                                                  : platform::ThreadPriority::Highest);
}

JobRunner::JobRunner(JobContext& window) : window_(window) {}

JobRunner::~JobRunner() {
  Stop();
  Join();
}

bool JobRunner::Prepare() {
  if (running_.load() && !stopped_.load()) return false;
  const bool wasStopped = stopped_.load() && thread_.joinable();
  Join();
  // A job stopped in the middle may have finished a step after Cancel had
  // cleared the loader state; what runs on the handset is unknown now.
  if (wasStopped) window_.job.loaderState = kLoaderNone;
  window_.job.stop.Clear();
  stopped_.store(false);
  return true;
}

bool JobRunner::Start(JobBody proc, JobPriority priority, JobEndHook onEnd) {
  if (!Prepare()) return false;
  gate_ = std::make_unique<GatedConsole>(window_.con);
  jobContext_ = std::make_unique<JobContext>(JobContext{window_.rec, *gate_, window_.settings, window_.session, window_.job});
  running_.store(true);
  JobContext* ctx = jobContext_.get();
  thread_ = std::thread([this, proc = std::move(proc), priority, ctx, onEnd = std::move(onEnd)] {
    const stop::Scope answersTo(ctx->job.stop);
    RaiseThreadPriority(priority);
    const int code = proc(*ctx);
    const bool stopped = stopped_.load();
    if (stopped) ctx->job.outcome.Interrupt();
    if (onEnd) onEnd(JobEnd{stopped, ctx->job.outcome.Snapshot()});
    exitCode_.store(code);
    running_.store(false);
  });
  return true;
}

void JobRunner::Stop() {
  if (!running_.load()) return;
  stopped_.store(true);
  // The gate first: a job that notices the stop says nothing on its way out.
  if (gate_) gate_->Close();
  window_.job.stop.Request();
}

void JobRunner::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace vantrel
