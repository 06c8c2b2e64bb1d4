#pragma once
// Collects the developer traces while it lives and restores the previous sink.
#include <mutex>
#include <string>
#include <vector>

#include "link/Trace.h"

namespace vantrel::test {

class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::string> Lines() const;
  // All lines joined by newlines.
  std::string Text() const;
  bool Contains(const std::string& piece) const;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  TraceSink previous_;
};

}  // namespace vantrel::test
