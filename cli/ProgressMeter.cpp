#include "cli/ProgressMeter.h"

#include <algorithm>

namespace vantrel::cli {

namespace {
constexpr double kRateWindowSeconds = 3.0;
}

void RateEstimator::Reset() {
  window_.clear();
  firstProgressAt_ = -1;
  now_ = 0;
  fraction_ = 0;
}

void RateEstimator::Add(double seconds, uint64_t bytes, double fraction) {
  now_ = seconds;
  fraction_ = std::clamp(fraction, 0.0, 1.0);
  if (fraction_ > 0 && firstProgressAt_ < 0) firstProgressAt_ = seconds;
  window_.push_back({seconds, bytes});
  while (window_.size() > 2 && window_.front().t < seconds - kRateWindowSeconds) window_.pop_front();
}

double RateEstimator::BytesPerSecond() const {
  if (window_.size() < 2) return 0;
  double dt = window_.back().t - window_.front().t;
  if (dt <= 0) return 0;
  return static_cast<double>(window_.back().bytes - window_.front().bytes) / dt;
}

double RateEstimator::SecondsLeft() const {
  if (firstProgressAt_ < 0 || fraction_ <= 0) return -1;
  if (fraction_ >= 1) return 0;
  // Scale the time so far by what is left. The time so far includes the
  // operation's set-up (port, rate change), so the estimate errs on the long
  // side at first and settles as the transfer goes on.
  if (now_ <= 0) return -1;
  return std::max(0.0, now_ / fraction_ * (1 - fraction_));
}

ProgressMeter::ProgressMeter(EventSink& sink, Reader read, std::chrono::milliseconds period)
    : sink_(sink), read_(std::move(read)), period_(period) {
  thread_ = std::thread([this] { Loop(); });
}

ProgressMeter::~ProgressMeter() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    quit_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void ProgressMeter::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  running_ = true;
  began_ = std::chrono::steady_clock::now();
  rate_.Reset();
  last_ = ProgressSample{};
  shown_ = false;
}

void ProgressMeter::Stop() {
  bool shown;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (running_) {
      // One last reading so that the final percentage is reported.
      double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
      Sample(t);
    }
    running_ = false;
    shown = shown_;
    shown_ = false;
  }
  if (shown) sink_.ProgressEnd();
}

void ProgressMeter::Sample(double seconds) {
  ProgressSample s = read_();
  double fraction = s.expected > 0 ? static_cast<double>(s.ticks) / s.expected : s.percent / 100.0;
  rate_.Add(seconds, s.bytes, fraction);
  s.bytesPerSecond = rate_.BytesPerSecond();
  s.secondsLeft = rate_.SecondsLeft();
  // Nothing to show until the transfer has started moving.
  if (s.percent <= 0 && s.ticks <= 0) return;
  bool changed = s.percent != last_.percent || s.ticks != last_.ticks || s.bytes != last_.bytes;
  if (!changed && shown_) return;
  last_ = s;
  shown_ = true;
  sink_.Progress(s);
}

void ProgressMeter::Loop() {
  std::unique_lock<std::mutex> lock(mu_);
  while (!quit_) {
    cv_.wait_for(lock, period_);
    if (quit_) break;
    if (!running_) continue;
    double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    Sample(t);
  }
}

}  // namespace vantrel::cli
