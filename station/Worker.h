#pragma once
// One vantrel-cli run as a child process: its own process group (a Ctrl-C on
// the terminal reaches the station alone, which passes it on once), standard
// input from /dev/null (a worker never waits for an answer), and its JSON
// events read line by line from a pipe.
#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Lines.h"

namespace vantrel::station {

class Worker {
 public:
  // An event is a few hundred bytes; a line longer than this is no event.
  static constexpr size_t kMaxLineBytes = 1u << 20;

  Worker() = default;
  ~Worker();  // kills and reaps a worker that still runs
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  // Starts `program args...`. False with `error` when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error);
  bool Running() const { return pid_ > 0; }
  // Descriptors to poll (-1 once that pipe has closed).
  int OutFd() const { return outFd_; }
  int ErrFd() const { return errFd_; }
  // Reads what `fd` has; complete standard output lines are appended to
  // `lines`. False once the pipe has closed. The two pipes close in either
  // order: what standard output still holds is read to its end all the same.
  bool Read(int fd, std::vector<std::string>& lines);
  // Standard output lines longer than kMaxLineBytes, dropped, and their bytes.
  size_t DroppedLines() const { return out_.DroppedLines(); }
  uint64_t DroppedBytes() const { return out_.DroppedBytes(); }
  // Both pipes closed: waits for the process and returns its wait status.
  bool Drained() const { return outFd_ < 0 && errFd_ < 0; }
  int Reap();
  void Signal(int sig) const;
  // The last line the worker wrote on standard error (a reason of last resort).
  std::string LastErrLine() const;

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  platform::LineSplitter out_{kMaxLineBytes};
  std::string errBuf_;
};

}  // namespace vantrel::station
