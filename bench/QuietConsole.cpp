#include "bench/QuietConsole.h"

namespace vantrel::bench {

void QuietConsole::AppendLog(const std::string& text, LogKind kind) {
  if (kind == LogKind::Scratch) return;
  std::lock_guard<std::mutex> lock(mu_);
  log_ += text;
}

void QuietConsole::AppendLogPlain(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  log_ += text;
}

std::string QuietConsole::LogTail(size_t lines) const {
  std::lock_guard<std::mutex> lock(mu_);
  size_t pos = log_.size();
  for (size_t i = 0; i <= lines && pos > 0; ++i) {
    const size_t nl = log_.rfind('\n', pos - 1);
    if (nl == std::string::npos) {
      pos = 0;
      break;
    }
    pos = nl;
  }
  return log_.substr(pos);
}

}  // namespace vantrel::bench
