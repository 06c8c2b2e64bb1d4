#include "station/Worker.h"

namespace vantrel::station {

namespace {

constexpr size_t kErrKeepBytes = 4096;

}  // namespace

bool Worker::Start(const std::string& program, const std::vector<std::string>& args, platform::ChildWatch& watch,
                   std::string* error) {
  out_ = platform::LineSplitter(kMaxLineBytes);
  errBuf_.clear();
  return child_.Start(program, args, watch, error);
}

void Worker::Read(platform::ChildPipe pipe, std::vector<std::string>& lines) {
  std::string data;
  const bool open = child_.Read(pipe, data);
  if (pipe == platform::ChildPipe::Out) {
    const size_t before = lines.size();
    out_.Feed(data.data(), data.size(), lines);
    if (!open) out_.Finish(lines);
    // A Windows program's standard output in text mode ends its lines "\r\n".
    for (size_t k = before; k < lines.size(); ++k)
      if (!lines[k].empty() && lines[k].back() == '\r') lines[k].pop_back();
    return;
  }
  errBuf_ += data;
  if (errBuf_.size() > 2 * kErrKeepBytes) errBuf_.erase(0, errBuf_.size() - kErrKeepBytes);
}

std::string Worker::LastErrLine() const {
  std::string text = errBuf_;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const size_t nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

}  // namespace vantrel::station
