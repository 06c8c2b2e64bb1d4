#pragma once
// The simulator's transcript (one line per event) and its list of the host's
// protocol violations. Written by the handset's thread, read by anyone.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::sim {

class Recorder {
 public:
  enum class Dir { HostToHandset, HandsetToHost, Note };

  Recorder();
  ~Recorder();

  void SetFile(const std::string& path);  // append lines there too
  void SetEcho(bool echo) { echo_ = echo; }

  // An exchange: the bytes, both rates, and what they mean to the handset.
  void Exchange(Dir dir, const uint8_t* data, size_t length, uint32_t hostRate, uint32_t handsetRate,
                const std::string& meaning);
  void Note(const std::string& text);
  // A protocol violation by the host; also goes to the transcript.
  void Violation(const std::string& text);

  // The host's answer turnaround: its next bytes arrived at `atNs` (steady
  // clock, which is CLOCK_MONOTONIC and so comparable across processes), `ns`
  // after the handset's answer went out.
  void Turnaround(int64_t atNs, int64_t ns);
  std::vector<std::pair<int64_t, int64_t>> Turnarounds() const;

  std::vector<std::string> Lines() const;
  std::vector<std::string> Violations() const;
  void ClearViolations();
  bool WaitFor(const std::string& text, int timeoutMs) const;

  // "FF FF 00 16 ..." with at most `max` bytes shown.
  static std::string Hex(const uint8_t* data, size_t length, size_t max = 16);

 private:
  void Add(std::string line);
  double Seconds() const;

  static constexpr size_t kMaxLines = 200000;

  const std::chrono::steady_clock::time_point start_;
  uint64_t generation_ = 0;  // bumped when old lines are dropped
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::vector<std::string> violations_;
  std::vector<std::pair<int64_t, int64_t>> turnarounds_;
  std::FILE* file_ = nullptr;
  bool echo_ = false;
};

}  // namespace vantrel::sim
