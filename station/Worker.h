#pragma once
// One vantrel-cli run as a child process (platform/Process.h): a Ctrl-C on
// the terminal reaches the station, which passes it on once; standard input
// reads nothing (a worker never waits for an answer), and its JSON events
// are read line by line from its standard output.
#include <string>
#include <vector>

#include "platform/Lines.h"
#include "platform/Process.h"

namespace vantrel::station {

class Worker {
 public:
  // An event is a few hundred bytes; a line longer than this is no event.
  static constexpr size_t kMaxLineBytes = 1u << 20;

  // Starts `program args...`; its output wakes `watch`. False with `error`
  // when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args, platform::ChildWatch& watch,
             std::string* error);
  bool Running() const { return child_.Running(); }
  platform::ChildProcess* Child() { return &child_; }
  // Reads what the pipe has; complete standard output lines are appended to
  // `lines`. The two pipes close in either order: what standard output
  // still holds is read to its end all the same.
  void Read(platform::ChildPipe pipe, std::vector<std::string>& lines);
  // Standard output lines longer than kMaxLineBytes, dropped, and their bytes.
  size_t DroppedLines() const { return out_.DroppedLines(); }
  uint64_t DroppedBytes() const { return out_.DroppedBytes(); }
  // Both pipes closed: the worker can be waited for.
  bool Drained() const {
    return !child_.Open(platform::ChildPipe::Out) && !child_.Open(platform::ChildPipe::Err);
  }
  platform::ChildExit Reap() { return child_.Wait(); }
  void PassInterrupt() { child_.PassInterrupt(); }
  void Kill() { child_.Kill(); }
  // The last line the worker wrote on standard error (a reason of last resort).
  std::string LastErrLine() const;

 private:
  platform::ChildProcess child_;  // killed and waited for when the worker goes
  platform::LineSplitter out_{kMaxLineBytes};
  std::string errBuf_;
};

}  // namespace vantrel::station
