#include "link/Timing.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <mutex>

#include "link/Stop.h"

namespace vantrel::timing {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<double> g_pauseScale{1.0};
std::atomic<double> g_pollScale{1.0};
// Nominal time that scaling took out of pauses and polls, in microseconds.
std::atomic<int64_t> g_removedUs{0};

const Clock::time_point g_start = Clock::now();

std::mutex g_recordMutex;
bool g_recording = false;
std::vector<PauseEvent> g_pauses;
uint64_t g_polls = 0;
std::function<void(const PauseEvent&)> g_observer;
std::function<void()> g_gate;

double Sanitized(double scale) { return scale > 0.0 ? scale : 0.0; }

}  // namespace

void SetPauseScale(double scale) { g_pauseScale.store(Sanitized(scale)); }
void SetPollScale(double scale) { g_pollScale.store(Sanitized(scale)); }
double PauseScale() { return g_pauseScale.load(); }
double PollScale() { return g_pollScale.load(); }

void Pause(unsigned ms, std::string_view tag) {
  std::function<void(const PauseEvent&)> observer;
  std::function<void()> gate;
  {
    std::lock_guard<std::mutex> lock(g_recordMutex);
    if (g_recording) g_pauses.push_back(PauseEvent{ms, std::string(tag)});
    observer = g_observer;
    gate = g_gate;
  }
  if (observer) observer(PauseEvent{ms, std::string(tag)});
  const int64_t nominalUs = static_cast<int64_t>(ms) * 1000;
  const int64_t realUs = static_cast<int64_t>(static_cast<double>(nominalUs) * g_pauseScale.load());
  g_removedUs.fetch_add(nominalUs - realUs);
  if (stop::Requested()) return;
  stop::SleepFor(realUs);
  if (gate && !stop::Requested()) gate();
}

// The transfers' poll interval: recorded polls are counted in these.
constexpr unsigned kPollCountUnitMs = 5;

void PollStep(unsigned ms, const std::function<void(int64_t real_us)>& wait) {
  {
    std::lock_guard<std::mutex> lock(g_recordMutex);
    // A step that waits for several polls at once counts as that many.
    if (g_recording) g_polls += std::max(1u, ms / kPollCountUnitMs);
  }
  const int64_t nominalUs = static_cast<int64_t>(ms) * 1000;
  const int64_t realUs = static_cast<int64_t>(static_cast<double>(nominalUs) * g_pollScale.load());
  g_removedUs.fetch_add(nominalUs - realUs);
  if (stop::Requested()) return;
  if (wait) {
    wait(realUs);
  } else {
    stop::SleepFor(realUs);
  }
}

uint64_t NowMs() {
  const int64_t realUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - g_start).count();
  return static_cast<uint64_t>((realUs + g_removedUs.load()) / 1000);
}

void StartRecording() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  g_recording = true;
}

void StopRecording() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  g_recording = false;
}

std::vector<PauseEvent> RecordedPauses() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  return g_pauses;
}

uint64_t RecordedPollCount() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  return g_polls;
}

void ObservePauses(std::function<void(const PauseEvent&)> observer) {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  g_observer = std::move(observer);
}

void GatePauses(std::function<void()> gate) {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  g_gate = std::move(gate);
}

void ClearRecording() {
  std::lock_guard<std::mutex> lock(g_recordMutex);
  g_pauses.clear();
  g_polls = 0;
}

}  // namespace vantrel::timing
