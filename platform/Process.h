#pragma once
// Child programs whose standard output and error come back on pipes, and one
// wait over all of them. A child reads nothing from standard input (it never
// waits for an answer) and does not outlive its parent: on Linux it is asked
// to stop (SIGTERM) when the parent dies, even by SIGKILL; on Windows it runs
// inside a job object that ends it with the parent's last handle.
// One implementation per platform (ProcessPosix.cpp, ProcessWin32.cpp); the
// interface carries no system types.
#include <chrono>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::platform {

// How a child ended.
struct ChildExit {
  bool exited = true;  // it ended by itself: `status` is its exit status
  int status = 0;      // else 128 + the number of the signal that stopped it, as a shell counts
  std::string cause;   // when it did not exit: "signal 9 (Killed)", "exception 0xC0000005", ...
};

enum class ChildPipe { Out, Err };

class ChildWatch;

class ChildProcess {
 public:
  ChildProcess();
  ~ChildProcess();  // a child that still runs is killed and waited for
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program args...` (looked up on PATH when it names no folder);
  // its output wakes `watch`, which must outlive the child. False with
  // `error` when it cannot be started.
  bool Start(const std::string& program, const std::vector<std::string>& args, ChildWatch& watch,
             std::string* error);
  bool Running() const;
  // Appends what the pipe holds now to `data`, without waiting. False once
  // the pipe has closed and everything it carried was taken.
  bool Read(ChildPipe pipe, std::string& data);
  bool Open(ChildPipe pipe) const;
  // Waits for the child to end. Its pipes close first, normally.
  ChildExit Wait();
  // Passes an interrupt the parent was given (Interrupt.h) on to the child,
  // which cancels as on its own Ctrl-C. On Windows a child in the parent's
  // console was given the console's Ctrl-C already, so nothing is sent.
  void PassInterrupt();
  // Ends the child at once.
  void Kill();

  struct State;

 private:
  friend class ChildWatch;
  std::unique_ptr<State> s_;
};

// One wait for output from any of several children, or for Wake.
class ChildWatch {
 public:
  ChildWatch();
  ~ChildWatch();
  ChildWatch(const ChildWatch&) = delete;
  ChildWatch& operator=(const ChildWatch&) = delete;

  // Waits until a pipe of one of `children` (null entries are skipped) has
  // bytes or has closed, Wake was called, or `timeout` passed (no limit when
  // negative). Returns the pipes to read, by index into `children`.
  std::vector<std::pair<size_t, ChildPipe>> Wait(const std::vector<ChildProcess*>& children,
                                                 std::chrono::milliseconds timeout);
  // Ends a Wait under way, or the next one; safe from any thread.
  void Wake();

  struct State;

 private:
  friend class ChildProcess;
  std::unique_ptr<State> s_;
};

// The folder that holds this program ("." when unknown), and the program
// `name` in `folder` ("name.exe" on Windows) when one is there ("" if not).
std::string OwnFolder();
std::string ProgramIn(const std::string& folder, const std::string& name);

// This process's own footprint, for soak figures: resident memory in KiB,
// and the descriptors (Windows: handles) it holds open. -1 when unknown.
long ResidentKb();
int OpenHandles();

}  // namespace vantrel::platform
