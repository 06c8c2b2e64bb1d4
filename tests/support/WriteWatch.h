#pragma once
// Counts the host's writes to serial devices opened while it lives, from the
// moment it is armed: the proof that nothing reaches the handset after Cancel
// or before a refusal. With the simulator, create it after the simulator has
// started (it wraps the simulator's own wrapping) and let it go before the
// simulator stops.
#include <atomic>

#include "link/SerialDevice.h"

namespace vantrel::test {

class WriteWatch {
 public:
  WriteWatch();
  ~WriteWatch();
  WriteWatch(const WriteWatch&) = delete;
  WriteWatch& operator=(const WriteWatch&) = delete;

  void Arm() { armed_ = true; }
  void Disarm() { armed_ = false; }
  // Write calls (whatever they moved) since the first Arm().
  int WritesSinceArmed() const { return writes_.load(); }

 private:
  class Device;
  SerialFactory previous_;
  std::atomic<bool> armed_{false};
  std::atomic<int> writes_{0};
};

}  // namespace vantrel::test
