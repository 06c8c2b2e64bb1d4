#include "bench/SimProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace vantrel::bench {
namespace {

constexpr int kStartTimeoutMs = 5000;

std::string ReadAll(int fd) {
  std::string out;
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      out.append(buf, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return out;
  }
}

}  // namespace

std::string DefaultSimProgram() {
  if (const char* env = std::getenv("VANTREL_SIM"); env != nullptr && *env != '\0') return env;
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return "vantrel-sim";
  std::string dir(self, static_cast<size_t>(n));
  dir = dir.substr(0, dir.rfind('/'));         // <build>/bench
  dir = dir.substr(0, dir.rfind('/'));         // <build>
  return dir + "/sim/vantrel-sim";
}

SimProcess::~SimProcess() { Stop(); }

double SimProcess::CpuSeconds() const {
  if (pid_ <= 0) return 0;
  std::FILE* f = std::fopen(("/proc/" + std::to_string(pid_) + "/stat").c_str(), "r");
  if (f == nullptr) return 0;
  char text[1024] = {};
  const size_t n = std::fread(text, 1, sizeof text - 1, f);
  std::fclose(f);
  // After the command name in parentheses: state, then fields 4 to 13, then utime and stime.
  const char* p = std::strrchr(text, ')');
  unsigned long long utime = 0, stime = 0;
  if (n == 0 || p == nullptr ||
      std::sscanf(p + 1, " %*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &utime, &stime) != 2)
    return 0;
  return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

bool SimProcess::Start(const std::string& program, const std::vector<std::string>& args, std::string* error) {
  int out[2];
  int err[2];
  if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ < 0) {
    *error = std::string("fork: ") + std::strerror(errno);
    return false;
  }
  if (pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];

  // The first line names the device: "COM7 -> /dev/pts/5".
  std::string line;
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
  while (line.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{outFd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    char c;
    const ssize_t n = ::read(outFd_, &c, 1);
    if (n <= 0) break;
    line += c;
  }
  const size_t arrow = line.find(" -> ");
  if (arrow == std::string::npos) {
    Stop();
    *error = "the simulator did not start (" + program + "): " + line + err_;
    return false;
  }
  device_ = line.substr(arrow + 4);
  while (!device_.empty() && (device_.back() == '\n' || device_.back() == '\r')) device_.pop_back();
  return true;
}

int SimProcess::Stop() {
  if (pid_ <= 0) return -1;
  ::kill(pid_, SIGTERM);
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  if (errFd_ >= 0) {
    err_ += ReadAll(errFd_);
    ::close(errFd_);
    errFd_ = -1;
  }
  if (outFd_ >= 0) {
    ::close(outFd_);
    outFd_ = -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vantrel::bench
