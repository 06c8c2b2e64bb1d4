#include "tests/support/PtyPair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace vantrel::test {

PtyPair::PtyPair() {
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) throw std::runtime_error("posix_openpt failed");
  if (::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
    ::close(master_);
    throw std::runtime_error("grantpt/unlockpt failed");
  }
  char name[128];
  if (::ptsname_r(master_, name, sizeof name) != 0) {
    ::close(master_);
    throw std::runtime_error("ptsname failed");
  }
  slavePath_ = name;
  ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
}

PtyPair::~PtyPair() {
  if (heldSlave_ >= 0) ::close(heldSlave_);
  CloseMaster();
}

bool PtyPair::Write(const std::string& bytes) { return Write(std::vector<uint8_t>(bytes.begin(), bytes.end())); }

bool PtyPair::Write(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
    pollfd p{master_, POLLOUT, 0};
    if (::poll(&p, 1, 2000) <= 0) return false;
  }
  return true;
}

std::vector<uint8_t> PtyPair::Read(size_t count, int timeoutMs) {
  std::vector<uint8_t> out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < count && master_ >= 0) {
    uint8_t buf[4096];
    const size_t want = std::min(sizeof buf, count - out.size());
    const ssize_t n = ::read(master_, buf, want);
    if (n > 0) {
      out.insert(out.end(), buf, buf + n);
      continue;
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0) break;
    if (n < 0 && errno != EAGAIN && errno != EINTR && errno != EIO) break;
    // EIO: no slave is open at the moment; wait for one.
    pollfd p{master_, POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 10)));
  }
  return out;
}

std::vector<uint8_t> PtyPair::Drain(int quietMs) {
  std::vector<uint8_t> out;
  for (;;) {
    auto more = Read(1 << 20, quietMs);
    if (more.empty()) return out;
    out.insert(out.end(), more.begin(), more.end());
  }
}

void PtyPair::CloseMaster() {
  if (master_ >= 0) ::close(master_);
  master_ = -1;
}

int PtyPair::HoldSlave() {
  if (heldSlave_ < 0) heldSlave_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  return heldSlave_;
}

}  // namespace vantrel::test
