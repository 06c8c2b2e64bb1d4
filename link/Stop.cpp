#include "link/Stop.h"

#include <chrono>

namespace vantrel::stop {
namespace {

thread_local Source* t_bound = nullptr;

}  // namespace

void Source::Request() {
  {
    // Taking the gate waits for a device write in progress, so that once we
    // return no write can start: the link checks the flag under the gate.
    std::lock_guard<std::mutex> gate(gate_);
    std::lock_guard<std::mutex> lock(wakeMutex_);
    requested_.store(true);
  }
  wake_.notify_all();
}

void Source::Clear() {
  std::lock_guard<std::mutex> lock(wakeMutex_);
  requested_.store(false);
}

void Source::SleepFor(long long us) {
  if (us <= 0) return;
  std::unique_lock<std::mutex> lock(wakeMutex_);
  wake_.wait_for(lock, std::chrono::microseconds(us), [this] { return requested_.load(); });
}

Source& Current() {
  static Source process;
  return t_bound != nullptr ? *t_bound : process;
}

Scope::Scope(Source& source) : previous_(t_bound) { t_bound = &source; }

Scope::~Scope() { t_bound = previous_; }

}  // namespace vantrel::stop
