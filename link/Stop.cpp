#include "link/Stop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>

namespace vantrel::stop {
namespace {

std::atomic<bool> g_requested{false};
std::mutex g_wakeMutex;
std::condition_variable g_wake;

}  // namespace

std::mutex& Gate() {
  static std::mutex gate;
  return gate;
}

void Request() {
  {
    // Taking the gate waits for a device write in progress, so that once we
    // return no write can start: the link checks the flag under the gate.
    std::lock_guard<std::mutex> gate(Gate());
    std::lock_guard<std::mutex> lock(g_wakeMutex);
    g_requested.store(true);
  }
  g_wake.notify_all();
}

void Clear() {
  std::lock_guard<std::mutex> lock(g_wakeMutex);
  g_requested.store(false);
}

bool Requested() { return g_requested.load(); }

void SleepFor(long long us) {
  if (us <= 0) return;
  std::unique_lock<std::mutex> lock(g_wakeMutex);
  g_wake.wait_for(lock, std::chrono::microseconds(us), [] { return g_requested.load(); });
}

}  // namespace vantrel::stop
