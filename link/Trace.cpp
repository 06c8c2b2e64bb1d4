#include "link/Trace.h"

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel {
namespace {

void StderrSink(std::string_view text) {
  // One write per line so that lines of different threads do not interleave.
  std::string line(text);
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
}

std::mutex g_sinkMutex;
std::shared_ptr<const TraceSink>& Current() {
  static std::shared_ptr<const TraceSink> sink = std::make_shared<const TraceSink>(StderrSink);
  return sink;
}

}  // namespace

void Trace(std::string_view text) {
  std::shared_ptr<const TraceSink> sink;
  {
    std::lock_guard<std::mutex> lock(g_sinkMutex);
    sink = Current();
  }
  // Called outside the lock: a sink may trace or swap sinks itself.
  (*sink)(text);
}

TraceSink SetTraceSink(TraceSink sink) {
  if (!sink) sink = StderrSink;
  auto next = std::make_shared<const TraceSink>(std::move(sink));
  std::lock_guard<std::mutex> lock(g_sinkMutex);
  TraceSink old = *Current();
  Current() = std::move(next);
  return old;
}

void MuteTraces() {
  SetTraceSink([](std::string_view) {});
}

}  // namespace vantrel
