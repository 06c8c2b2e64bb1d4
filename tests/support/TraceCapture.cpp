#include "tests/support/TraceCapture.h"

namespace vantrel::test {

TraceCapture::TraceCapture() {
  previous_ = SetTraceSink([this](std::string_view text) {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.emplace_back(text);
  });
}

TraceCapture::~TraceCapture() { SetTraceSink(previous_); }

std::vector<std::string> TraceCapture::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

std::string TraceCapture::Text() const {
  std::string out;
  for (const auto& line : Lines()) out += line + "\n";
  return out;
}

bool TraceCapture::Contains(const std::string& piece) const { return Text().find(piece) != std::string::npos; }

}  // namespace vantrel::test
