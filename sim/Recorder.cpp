#include "sim/Recorder.h"

#include <cstdarg>

namespace vantrel::sim {

Recorder::Recorder() : start_(std::chrono::steady_clock::now()) {}

Recorder::~Recorder() {
  if (file_ != nullptr) std::fclose(file_);
}

void Recorder::SetFile(const std::string& path) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) std::fclose(file_);
  file_ = path.empty() ? nullptr : std::fopen(path.c_str(), "ae");
}

double Recorder::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

std::string Recorder::Hex(const uint8_t* data, size_t length, size_t max) {
  std::string out;
  char buf[4];
  const size_t shown = length < max ? length : max;
  for (size_t i = 0; i < shown; ++i) {
    std::snprintf(buf, sizeof buf, "%02X", data[i]);
    if (i) out += ' ';
    out += buf;
  }
  if (shown < length) out += " ... (" + std::to_string(length) + " bytes)";
  return out;
}

void Recorder::Exchange(Dir dir, const uint8_t* data, size_t length, uint32_t hostRate, uint32_t handsetRate,
                        const std::string& meaning) {
  char head[96];
  std::snprintf(head, sizeof head, "%9.3f %s ", Seconds(), dir == Dir::HostToHandset ? "host>" : "<hand");
  std::string line = head;
  line += Hex(data, length);
  char rates[64];
  std::snprintf(rates, sizeof rates, "  [host %u, handset %u]  ", hostRate, handsetRate);
  line += rates;
  line += meaning;
  Add(std::move(line));
}

void Recorder::Note(const std::string& text) {
  char head[32];
  std::snprintf(head, sizeof head, "%9.3f  --  ", Seconds());
  Add(head + text);
}

void Recorder::Violation(const std::string& text) {
  char head[32];
  std::snprintf(head, sizeof head, "%9.3f  !!  ", Seconds());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    violations_.push_back(text);
  }
  Add(std::string(head) + "VIOLATION: " + text);
}

void Recorder::Add(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ != nullptr) {
    std::fprintf(file_, "%s\n", line.c_str());
    std::fflush(file_);
  }
  if (echo_) std::fprintf(stderr, "%s\n", line.c_str());
  if (lines_.size() >= kMaxLines) {
    // A long run (a benchmark with small blocks) keeps its most recent half.
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<long>(kMaxLines / 2));
    lines_.insert(lines_.begin(), "(earlier transcript lines dropped)");
    ++generation_;
  }
  lines_.push_back(std::move(line));
  changed_.notify_all();
}

std::vector<std::string> Recorder::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::vector<std::string> Recorder::Violations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return violations_;
}

void Recorder::Turnaround(int64_t atNs, int64_t ns) {
  std::lock_guard<std::mutex> lock(mutex_);
  turnarounds_.emplace_back(atNs, ns);
}

std::vector<std::pair<int64_t, int64_t>> Recorder::Turnarounds() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return turnarounds_;
}

void Recorder::ClearViolations() {
  std::lock_guard<std::mutex> lock(mutex_);
  violations_.clear();
}

bool Recorder::WaitFor(const std::string& text, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  size_t checked = 0;
  uint64_t generation = generation_;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    if (generation != generation_) {
      generation = generation_;
      checked = 0;
    }
    for (; checked < lines_.size(); ++checked) {
      if (lines_[checked].find(text) != std::string::npos) return true;
    }
    if (changed_.wait_until(lock, deadline) == std::cv_status::timeout) {
      for (; checked < lines_.size(); ++checked) {
        if (lines_[checked].find(text) != std::string::npos) return true;
      }
      return false;
    }
  }
}

}  // namespace vantrel::sim
