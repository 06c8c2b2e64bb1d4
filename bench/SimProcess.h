#pragma once
// The handset simulator as a separate process, so that its work is not
// charged to the tool whose time and CPU a benchmark measures.
#include <sys/types.h>

#include <string>
#include <vector>

namespace vantrel::bench {

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();  // Stop()
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts `program` with `args` and waits for its "COMn -> /dev/pts/N" line.
  // False (with a reason in `error`) when it did not come up.
  bool Start(const std::string& program, const std::vector<std::string>& args, std::string* error);
  // SIGTERM and wait; returns the exit status (or -1). What the simulator
  // printed on standard error is kept in StdErr().
  int Stop();
  const std::string& DevicePath() const { return device_; }
  // User and system seconds the simulator has used so far (0 once stopped).
  double CpuSeconds() const;
  const std::string& StdErr() const { return err_; }

 private:
  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string device_;
  std::string err_;
};

// The simulator program next to this benchmark in the build tree
// (<build>/sim/vantrel-sim), or the value of VANTREL_SIM when it is set.
std::string DefaultSimProgram();

}  // namespace vantrel::bench
