#pragma once
// Runs the real vantrel-cli program as a child process and collects its
// exit status, standard output and standard error.
#include <signal.h>

#include <functional>
#include <string>
#include <vector>

namespace vantrel::cli::test {

struct CliResult {
  int status = -1;  // exit status; 128 + signal when killed
  std::string out;
  std::string err;
  bool timedOut = false;
};

class CliProcess {
 public:
  // Starts `program args...` with standard input from `stdinPath`.
  CliProcess(const std::string& program, const std::vector<std::string>& args,
             const std::string& stdinPath = "/dev/null");
  ~CliProcess();
  CliProcess(const CliProcess&) = delete;
  CliProcess& operator=(const CliProcess&) = delete;

  // Reads both outputs until the program ends or `timeoutMs` passed (then
  // kills it).
  CliResult Finish(int timeoutMs = 120000);
  // Reads output until standard error contains `text` (true) or the time is up.
  bool WaitForErr(const std::string& text, int timeoutMs);
  // Reads output until `done` holds for what came so far (true) or the time is up.
  bool WaitUntil(const std::function<bool(const CliResult&)>& done, int timeoutMs);
  void Signal(int sig);
  // Closes our end of the program's standard output (a reader going away).
  void CloseOutput();
  int Pid() const { return pid_; }

 private:
  bool Pump(int timeoutMs);  // false once both pipes are closed

  int pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  CliResult result_;
};

// One call: start, finish.
CliResult RunCli(const std::vector<std::string>& args, int timeoutMs = 120000);

// The program under test.
const char* CliProgram();

}  // namespace vantrel::cli::test
