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

MsgAnswer QuietConsole::MessageBox(const std::string& text, const std::string&, MsgButtons) {
  std::lock_guard<std::mutex> lock(mu_);
  messages_.push_back(text);
  return MsgAnswer::Ok;
}

void QuietConsole::SetState(const char* state) {
  std::lock_guard<std::mutex> lock(mu_);
  state_ = state;
}

std::string QuietConsole::Log() const {
  std::lock_guard<std::mutex> lock(mu_);
  return log_;
}

std::vector<std::string> QuietConsole::Messages() const {
  std::lock_guard<std::mutex> lock(mu_);
  return messages_;
}

std::string QuietConsole::State() const {
  std::lock_guard<std::mutex> lock(mu_);
  return state_;
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
