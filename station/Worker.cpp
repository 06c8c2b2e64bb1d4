#include "station/Worker.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace vantrel::station {

namespace {

constexpr size_t kErrKeepBytes = 4096;

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

}  // namespace

Worker::~Worker() {
  if (pid_ > 0) {
    Signal(SIGKILL);
    Reap();
  }
  CloseFd(outFd_);
  CloseFd(errFd_);
}

bool Worker::Start(const std::string& program, const std::vector<std::string>& args, std::string* error) {
  int out[2], err[2];
  if (::pipe2(out, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (::pipe2(err, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    ::close(out[0]);
    ::close(out[1]);
    return false;
  }
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const pid_t parent = ::getpid();
  pid_ = ::fork();
  if (pid_ == 0) {
    // Only the station passes Ctrl-C on: a second copy from the terminal
    // would make the worker stop at once instead of cancelling its job.
    ::setpgid(0, 0);
    // A station that dies (even by SIGKILL) cancels its workers.
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
    const std::string why = "vantrel-station: cannot start " + program + ": " + std::strerror(errno) + "\n";
    (void)!::write(STDERR_FILENO, why.data(), why.size());
    ::_exit(127);
  }
  const int forkErrno = errno;
  ::close(out[1]);
  ::close(err[1]);
  if (pid_ < 0) {
    ::close(out[0]);
    ::close(err[0]);
    *error = std::string("fork: ") + std::strerror(forkErrno);
    return false;
  }
  outFd_ = out[0];
  errFd_ = err[0];
  out_ = platform::LineSplitter(kMaxLineBytes);
  errBuf_.clear();
  return true;
}

bool Worker::Read(int fd, std::vector<std::string>& lines) {
  char buf[16384];
  const ssize_t n = ::read(fd, buf, sizeof buf);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return true;
  const bool isOut = fd == outFd_;
  if (n <= 0) {
    if (isOut) out_.Finish(lines);
    CloseFd(isOut ? outFd_ : errFd_);
    return false;
  }
  if (isOut) {
    out_.Feed(buf, static_cast<size_t>(n), lines);
    return true;
  }
  errBuf_.append(buf, static_cast<size_t>(n));
  if (errBuf_.size() > 2 * kErrKeepBytes) errBuf_.erase(0, errBuf_.size() - kErrKeepBytes);
  return true;
}

int Worker::Reap() {
  int status = 0;
  while (pid_ > 0 && ::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
  }
  pid_ = -1;
  return status;
}

void Worker::Signal(int sig) const {
  if (pid_ > 0) ::kill(pid_, sig);
}

std::string Worker::LastErrLine() const {
  std::string text = errBuf_;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  const size_t nl = text.rfind('\n');
  return nl == std::string::npos ? text : text.substr(nl + 1);
}

}  // namespace vantrel::station
