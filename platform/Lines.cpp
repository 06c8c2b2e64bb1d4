#include "platform/Lines.h"

#include <cstring>

namespace vantrel::platform {

void LineSplitter::Feed(const char* data, size_t n, std::vector<std::string>& lines) {
  while (n > 0) {
    const char* nl = static_cast<const char*>(std::memchr(data, '\n', n));
    const size_t piece = nl != nullptr ? static_cast<size_t>(nl - data) : n;
    if (dropping_) {
      droppedBytes_ += piece;
    } else if (partial_.size() + piece > max_) {
      dropping_ = true;
      ++droppedLines_;
      droppedBytes_ += partial_.size() + piece;
      std::string().swap(partial_);
    } else {
      partial_.append(data, piece);
    }
    if (nl == nullptr) return;
    if (!dropping_) lines.push_back(std::move(partial_));
    partial_.clear();
    dropping_ = false;
    data += piece + 1;
    n -= piece + 1;
  }
}

void LineSplitter::Finish(std::vector<std::string>& lines) {
  if (!dropping_ && !partial_.empty()) lines.push_back(std::move(partial_));
  partial_.clear();
  dropping_ = false;
}

}  // namespace vantrel::platform
