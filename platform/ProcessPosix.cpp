// The Linux backend of Process.h: fork and exec with pipes, poll over the
// pipes' descriptors and an eventfd for Wake.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/Process.h"

namespace vantrel::platform {

struct ChildProcess::State {
  pid_t pid = -1;
  int fd[2] = {-1, -1};  // by ChildPipe
};

struct ChildWatch::State {
  int wakeFd = -1;
};

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

std::string SystemError(const char* call, int err) { return std::string(call) + ": " + std::strerror(err); }

// Reads the child's exec failure, if any, from the pipe that exec closes.
int ExecErrno(int fd) {
  int err = 0;
  for (;;) {
    const ssize_t n = ::read(fd, &err, sizeof err);
    if (n < 0 && errno == EINTR) continue;
    return n == sizeof err ? err : 0;
  }
}

}  // namespace

ChildProcess::ChildProcess() : s_(std::make_unique<State>()) {}

ChildProcess::~ChildProcess() {
  if (s_->pid > 0) {
    Kill();
    (void)Wait();
  }
  CloseFd(s_->fd[0]);
  CloseFd(s_->fd[1]);
}

bool ChildProcess::Start(const std::string& program, const std::vector<std::string>& args, ChildWatch&,
                         std::string* error) {
  int out[2], err[2], exec[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    *error = SystemError("pipe", errno);
    return false;
  }
  if (::pipe2(err, O_CLOEXEC) != 0 || ::pipe2(exec, O_CLOEXEC) != 0) {
    *error = SystemError("pipe", errno);
    for (int fd : {out[0], out[1], err[0], err[1]}) ::close(fd);
    return false;
  }
  // Everything the child needs is made before fork: between fork and exec
  // it may only make system calls (another thread may hold the heap's lock).
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only the parent passes Ctrl-C on: a second copy from the terminal
    // would make the child stop at once instead of cancelling its work.
    ::setpgid(0, 0);
    // A parent that dies (even by SIGKILL) asks its children to stop.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(127);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGPIPE, SIG_DFL);
    const int in = ::open("/dev/null", O_RDONLY);
    if (in >= 0) ::dup2(in, STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    ::dup2(err[1], STDERR_FILENO);
    ::execvp(program.c_str(), argv.data());
    const int why = errno;
    (void)!::write(exec[1], &why, sizeof why);
    ::_exit(127);
  }
  const int forkErrno = errno;
  ::close(out[1]);
  ::close(err[1]);
  ::close(exec[1]);
  const int execErrno = pid > 0 ? ExecErrno(exec[0]) : 0;
  ::close(exec[0]);
  if (pid < 0 || execErrno != 0) {
    ::close(out[0]);
    ::close(err[0]);
    if (pid > 0) {
      while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }
    *error = pid < 0 ? SystemError("fork", forkErrno)
                     : "cannot start " + program + ": " + std::strerror(execErrno);
    return false;
  }
  ::fcntl(out[0], F_SETFL, O_NONBLOCK);
  ::fcntl(err[0], F_SETFL, O_NONBLOCK);
  s_->pid = pid;
  s_->fd[0] = out[0];
  s_->fd[1] = err[0];
  return true;
}

bool ChildProcess::Running() const { return s_->pid > 0; }

bool ChildProcess::Open(ChildPipe pipe) const { return s_->fd[static_cast<int>(pipe)] >= 0; }

bool ChildProcess::Read(ChildPipe pipe, std::string& data) {
  int& fd = s_->fd[static_cast<int>(pipe)];
  if (fd < 0) return false;
  char buf[16384];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  if (n <= 0) {
    CloseFd(fd);
    return false;
  }
  data.append(buf, static_cast<size_t>(n));
  return true;
}

ChildExit ChildProcess::Wait() {
  int status = 0;
  while (s_->pid > 0 && ::waitpid(s_->pid, &status, 0) < 0 && errno == EINTR) {
  }
  s_->pid = -1;
  if (WIFEXITED(status)) return {true, WEXITSTATUS(status), ""};
  const int sig = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  return {false, 128 + sig, "signal " + std::to_string(sig) + " (" + strsignal(sig) + ")"};
}

void ChildProcess::PassInterrupt() {
  if (s_->pid > 0) ::kill(s_->pid, SIGINT);
}

void ChildProcess::Kill() {
  if (s_->pid > 0) ::kill(s_->pid, SIGKILL);
}

ChildWatch::ChildWatch() : s_(std::make_unique<State>()) {
  s_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

ChildWatch::~ChildWatch() { CloseFd(s_->wakeFd); }

std::vector<std::pair<size_t, ChildPipe>> ChildWatch::Wait(const std::vector<ChildProcess*>& children,
                                                           std::chrono::milliseconds timeout) {
  std::vector<pollfd> fds = {{s_->wakeFd, POLLIN, 0}};
  std::vector<std::pair<size_t, ChildPipe>> owners;
  for (size_t i = 0; i < children.size(); ++i) {
    if (children[i] == nullptr) continue;
    for (ChildPipe pipe : {ChildPipe::Out, ChildPipe::Err}) {
      const int fd = children[i]->s_->fd[static_cast<int>(pipe)];
      if (fd < 0) continue;
      fds.push_back({fd, POLLIN, 0});
      owners.emplace_back(i, pipe);
    }
  }
  std::vector<std::pair<size_t, ChildPipe>> ready;
  const int ms = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
  if (::poll(fds.data(), fds.size(), ms) <= 0) return ready;
  if (fds[0].revents != 0) {
    uint64_t count = 0;
    (void)!::read(s_->wakeFd, &count, sizeof count);
  }
  for (size_t k = 1; k < fds.size(); ++k)
    if (fds[k].revents != 0) ready.push_back(owners[k - 1]);
  return ready;
}

void ChildWatch::Wake() {
  const uint64_t one = 1;
  (void)!::write(s_->wakeFd, &one, sizeof one);
}

std::string OwnFolder() {
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return ".";
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

std::string ProgramIn(const std::string& folder, const std::string& name) {
  const std::string path = folder + "/" + name;
  return ::access(path.c_str(), X_OK) == 0 ? path : "";
}

long ResidentKb() {
  long pages = 0, resident = -1;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
    std::fclose(f);
  }
  return resident < 0 ? -1 : resident * (::sysconf(_SC_PAGESIZE) / 1024);
}

int OpenHandles() {
  int n = -1;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    n = 0;
    while (dirent* e = ::readdir(d))
      if (e->d_name[0] != '.') ++n;
    ::closedir(d);
    --n;  // the listing's own descriptor
  }
  return n;
}

}  // namespace vantrel::platform
