#pragma once
// Reads the jobs' progress counters on a timer and reports them to the sink:
// the transfer itself never waits for the terminal, and a block that takes a
// second costs no more output than one that takes a millisecond.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "cli/Output.h"

namespace vantrel::cli {

// Rate and time left from successive readings of a running transfer.
class RateEstimator {
 public:
  void Reset();
  // `seconds` since the operation began; `bytes` moved so far; `fraction` done (0..1).
  void Add(double seconds, uint64_t bytes, double fraction);
  double BytesPerSecond() const;
  // Negative while there is not enough to go on.
  double SecondsLeft() const;

 private:
  struct Reading {
    double t;
    uint64_t bytes;
  };
  std::deque<Reading> window_;  // the last few seconds
  double firstProgressAt_ = -1;
  double now_ = 0;
  double fraction_ = 0;
};

class ProgressMeter {
 public:
  // `read` fills percent, ticks, expected and bytes (since Start).
  using Reader = std::function<ProgressSample()>;
  ProgressMeter(EventSink& sink, Reader read, std::chrono::milliseconds period);
  ~ProgressMeter();
  ProgressMeter(const ProgressMeter&) = delete;
  ProgressMeter& operator=(const ProgressMeter&) = delete;

  void Start();
  void Stop();

 private:
  void Loop();
  void Sample(double seconds);

  EventSink& sink_;
  Reader read_;
  std::chrono::milliseconds period_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool running_ = false;
  bool quit_ = false;
  std::chrono::steady_clock::time_point began_;
  RateEstimator rate_;
  ProgressSample last_;
  bool shown_ = false;
  std::thread thread_;
};

}  // namespace vantrel::cli
