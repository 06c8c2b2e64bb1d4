#include "CliProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string_view>

extern char** environ;

namespace vantrel::cli::test {

const char* CliProgram() { return VANTREL_CLI_PROGRAM; }

namespace {

// The program looks for handset payloads in the user's and the machine's
// data folders; under test it must find none, whatever is installed, and
// send the built-in set the simulator knows. The user's data folder is the
// test's scratch one where the test made it (the run records go there, and
// it holds no payloads); never the operator's own.
std::vector<std::string> TestEnvironment() {
  std::vector<std::string> env;
  std::string dataHome = "/nonexistent/vantrel-test-data";
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string_view v(*e);
    if (v.starts_with("XDG_DATA_HOME=") && v.find("/vantrel-test-") != std::string_view::npos)
      dataHome = std::string(v.substr(14));
    if (v.starts_with("VANTREL_PAYLOAD_DIR=") || v.starts_with("XDG_DATA_HOME=") || v.starts_with("XDG_DATA_DIRS="))
      continue;
    env.emplace_back(v);
  }
  env.push_back("XDG_DATA_HOME=" + dataHome);
  env.push_back("XDG_DATA_DIRS=/nonexistent/vantrel-test-data");
  return env;
}

}  // namespace

CliProcess::CliProcess(const std::string& program, const std::vector<std::string>& args,
                       const std::string& stdinPath) {
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 0, stdinPath.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&fa, out[1], 1);
  posix_spawn_file_actions_adddup2(&fa, err[1], 2);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  // The child starts with the default signal mask and dispositions.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  std::vector<std::string> env = TestEnvironment();
  std::vector<char*> envp;
  for (auto& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  int rc = posix_spawn(&pid_, program.c_str(), &fa, &attr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  close(out[1]);
  close(err[1]);
  outFd_ = out[0];
  errFd_ = err[0];
  if (rc != 0) {
    pid_ = -1;
    throw std::runtime_error("cannot start " + program);
  }
}

CliProcess::~CliProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int st;
    waitpid(pid_, &st, 0);
  }
  if (outFd_ >= 0) close(outFd_);
  if (errFd_ >= 0) close(errFd_);
}

bool CliProcess::Pump(int timeoutMs) {
  pollfd fds[2];
  int n = 0;
  if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
  if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
  if (n == 0) return false;
  if (poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
  for (int i = 0; i < n; ++i) {
    if (fds[i].revents == 0) continue;
    char buf[65536];
    ssize_t got = read(fds[i].fd, buf, sizeof buf);
    std::string& dst = fds[i].fd == outFd_ ? result_.out : result_.err;
    if (got > 0) {
      dst.append(buf, static_cast<size_t>(got));
    } else {
      if (fds[i].fd == outFd_) outFd_ = -1;
      else errFd_ = -1;
      close(fds[i].fd);
    }
  }
  return true;
}

bool CliProcess::WaitForErr(const std::string& text, int timeoutMs) {
  return WaitUntil([&](const CliResult& r) { return r.err.find(text) != std::string::npos; }, timeoutMs);
}

bool CliProcess::WaitUntil(const std::function<bool(const CliResult&)>& done, int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done(result_)) {
    if (std::chrono::steady_clock::now() > end) return false;
    if (!Pump(50)) return done(result_);
  }
  return true;
}

void CliProcess::CloseOutput() {
  if (outFd_ >= 0) close(outFd_);
  outFd_ = -1;
}

void CliProcess::Signal(int sig) {
  if (pid_ > 0) kill(pid_, sig);
}

CliResult CliProcess::Finish(int timeoutMs) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (Pump(50)) {
    if (std::chrono::steady_clock::now() > end) {
      result_.timedOut = true;
      kill(pid_, SIGKILL);
      break;
    }
  }
  int st = 0;
  waitpid(pid_, &st, 0);
  pid_ = -1;
  result_.status = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
  return result_;
}

CliResult RunCli(const std::vector<std::string>& args, int timeoutMs) {
  CliProcess p(CliProgram(), args);
  return p.Finish(timeoutMs);
}

}  // namespace vantrel::cli::test
