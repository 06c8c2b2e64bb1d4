#include "jobs/JobState.h"

namespace vantrel {

std::atomic<uint8_t> g_operation{0};
std::atomic<uint8_t> g_loaderState{0};
std::atomic<int32_t> g_progressTicks{0};
std::atomic<int32_t> g_expectedTicks{0};

namespace {
std::atomic<JobContext*> g_mainContext{nullptr};
thread_local JobContext* t_jobContext = nullptr;
}  // namespace

void SetMainContext(JobContext* context) { g_mainContext.store(context); }
JobContext* MainContext() { return g_mainContext.load(); }

JobContext* CallbackContext() { return t_jobContext != nullptr ? t_jobContext : g_mainContext.load(); }
void SetThreadJobContext(JobContext* context) { t_jobContext = context; }

}  // namespace vantrel
