// The termios backend of SerialDevice. The whole line set-up goes through the
// termios2 ioctls so that any rate can be set (812000 bit/s has no B constant);
// <termios.h> is deliberately not included, its struct clashes with the
// kernel's.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

#include "link/DeviceGroup.h"
#include "link/SerialDevice.h"
#include "platform/TerminalText.h"

namespace vantrel {
namespace {

std::string ErrorText(int err) { return std::strerror(err); }

// Name of the process that has `rdev` open, e.g. "process 1234 (vantrel-sim)";
// empty when none can be seen (other users' processes are hidden from non-root).
std::string FindHolder(dev_t rdev) {
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return {};
  std::string holder;
  while (const dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    if (name[0] < '1' || name[0] > '9') continue;
    const std::string fdDir = std::string("/proc/") + name + "/fd";
    DIR* fds = ::opendir(fdDir.c_str());
    if (fds == nullptr) continue;
    bool found = false;
    while (const dirent* fd = ::readdir(fds)) {
      if (fd->d_name[0] == '.') continue;
      struct stat st;
      if (::stat((fdDir + "/" + fd->d_name).c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == rdev) {
        found = true;
        break;
      }
    }
    ::closedir(fds);
    if (!found) continue;
    std::string comm;
    std::ifstream in(std::string("/proc/") + name + "/comm");
    std::getline(in, comm);
    holder = "process " + std::string(name);
    if (!comm.empty()) holder += " (" + comm + ")";
    if (std::to_string(::getpid()) == name) holder += ", this program";
    break;
  }
  ::closedir(proc);
  return holder;
}

std::string GroupOf(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return {};
  return JoinableGroup(st);
}

std::string Describe(int err, const std::string& path) {
  // The path may come from a link's target: one field of the reason.
  const std::string shown = platform::EscapeField(path);
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return shown + ": no such device (is the cable plugged in and the port mapped?)";
    case EACCES:
    case EPERM: {
      std::string why = shown + ": permission denied";
      const std::string group = GroupOf(path);
      if (!group.empty()) {
        why += "; the device belongs to group '" + group + "' (add the user to it: usermod -aG " + group +
               " $USER, then log in again)";
      }
      return why;
    }
    case EBUSY:
    case EWOULDBLOCK: {
      std::string why = shown + ": busy, in use by another program";
      struct stat st;
      if (::stat(path.c_str(), &st) == 0) {
        const std::string holder = FindHolder(st.st_rdev);
        if (!holder.empty()) why = shown + ": busy, held by " + platform::EscapeField(holder);
      }
      return why;
    }
    case ENOTTY:
      return shown + ": not a serial device";
    default:
      return shown + ": " + ErrorText(err);
  }
}

class PosixSerial final : public SerialDevice {
 public:
  ~PosixSerial() override { Close(); }

  int Open(const std::string& path, std::string* why) override {
    Close();
    // Only a character device can be a serial line. A port name may lead
    // anywhere (a link to a file, a folder, a FIFO): such a path is not even
    // opened, and what the open finds is checked again before the line is
    // configured or written.
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && !S_ISCHR(st.st_mode)) return Fail(ENOTTY, path, why);
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return Fail(errno, path, why);
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) {
      ::close(fd);
      return Fail(ENOTTY, path, why);
    }
    struct termios2 tio;
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
      ::close(fd);
      return Fail(ENOTTY, path, why);
    }
    // TIOCEXCL refuses further opens by other users; root passes it, so the
    // advisory lock is what really keeps a second instance out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int err = errno;
      ::close(fd);
      return Fail(err == EWOULDBLOCK ? EBUSY : err, path, why);
    }
    ::ioctl(fd, TIOCEXCL);
    fd_ = fd;
    hungUp_ = false;
    // The line is left as it was found: another program (a terminal, a modem
    // manager, the next run of this one) may rely on the settings it had.
    saved_ = tio;
    setLowLatency_ = false;
    RequestLowLatency();
    Purge();
    return 0;
  }

  void Close() override {
    if (fd_ < 0) return;
    Purge();
    ::ioctl(fd_, TCSETS2, &saved_);
    DropLowLatency();
    // Exclusivity belongs to the terminal, not to this descriptor: another
    // holder of the line (the handset simulator keeps the far end open) would
    // otherwise leave it set and refuse our next open.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
    fd_ = -1;
  }

  bool IsOpen() const override { return fd_ >= 0; }
  int NativeHandle() const override { return fd_; }

  int Configure(uint32_t rate) override {
    struct termios2 tio;
    if (::ioctl(fd_, TCGETS2, &tio) != 0) return errno;
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF |
                                          IXANY | INPCK | IUCLC | IMAXBEL);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    // With O_NONBLOCK and VMIN 1 an empty read fails with EAGAIN, so a read
    // of 0 bytes means end-of-file: the device went away.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    SetSpeed(tio, rate);
    if (::ioctl(fd_, TCSETS2, &tio) != 0) return errno;
    Purge();
    return 0;
  }

  uint32_t Rate() override {
    struct termios2 tio;
    if (fd_ < 0 || ::ioctl(fd_, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
  }

  int SetRate(uint32_t rate) override {
    struct termios2 tio;
    if (::ioctl(fd_, TCGETS2, &tio) != 0) return errno;
    SetSpeed(tio, rate);
    if (::ioctl(fd_, TCSETS2, &tio) != 0) return errno;
    Purge();
    return 0;
  }

  void Purge() override {
    if (fd_ >= 0) ::ioctl(fd_, TCFLSH, TCIOFLUSH);
  }

  void PurgeInput() override {
    if (fd_ >= 0) ::ioctl(fd_, TCFLSH, TCIFLUSH);
  }

  size_t OutputPending() override {
    int pending = 0;
    if (fd_ < 0 || ::ioctl(fd_, TIOCOUTQ, &pending) != 0 || pending < 0) return 0;
    return static_cast<size_t>(pending);
  }

  IoCount Write(const uint8_t* data, size_t len) override {
    if (fd_ < 0) return -EBADF;
    const ssize_t n = ::write(fd_, data, len);
    if (n >= 0) return n;
    const int err = Normalized(errno);
    if (err == EAGAIN && hungUp_) return -EIO;
    return -err;
  }

  IoCount Read(uint8_t* buf, size_t len) override {
    if (fd_ < 0) return -EBADF;
    const ssize_t n = ::read(fd_, buf, len);
    if (n > 0) return n;
    if (n == 0) return -EIO;  // end-of-file: hung up or unplugged
    const int err = Normalized(errno);
    // A hangup seen by poll with nothing left to read is the end of the line.
    if (err == EAGAIN && hungUp_) return -EIO;
    return -err;
  }

  void WaitReadable(int64_t us) override { Wait(POLLIN, us); }
  void WaitWritable(int64_t us) override { Wait(POLLOUT, us); }

 private:
  static int Normalized(int err) { return err == EWOULDBLOCK ? EAGAIN : err; }

  static void SetSpeed(struct termios2& tio, uint32_t rate) {
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tcflag_t code = 0;
    switch (rate) {
      case 115200: code = B115200; break;
      case 460800: code = B460800; break;
      case 921600: code = B921600; break;
      default: code = BOTHER; break;
    }
    // Input follows output (the input field stays 0).
    tio.c_cflag |= code;
    tio.c_ispeed = rate;
    tio.c_ospeed = rate;
  }

  static int Fail(int err, const std::string& path, std::string* why) {
    if (why != nullptr) *why = Describe(err, path);
    return err;
  }

  void RequestLowLatency() {
    // USB serial adapters otherwise hold single answer bytes for several
    // milliseconds. Pseudo-terminals and many drivers do not offer it.
    struct serial_struct ss;
    std::memset(&ss, 0, sizeof ss);
    if (::ioctl(fd_, TIOCGSERIAL, &ss) != 0) return;
    if (ss.flags & ASYNC_LOW_LATENCY) return;
    ss.flags |= ASYNC_LOW_LATENCY;
    setLowLatency_ = ::ioctl(fd_, TIOCSSERIAL, &ss) == 0;
  }

  void DropLowLatency() {
    if (!setLowLatency_) return;
    setLowLatency_ = false;
    struct serial_struct ss;
    std::memset(&ss, 0, sizeof ss);
    if (::ioctl(fd_, TIOCGSERIAL, &ss) != 0) return;
    ss.flags &= ~ASYNC_LOW_LATENCY;
    ::ioctl(fd_, TIOCSSERIAL, &ss);
  }

  void Wait(short events, int64_t us) {
    if (fd_ < 0 || us <= 0) return;
    pollfd p{fd_, events, 0};
    timespec ts{static_cast<time_t>(us / 1000000), static_cast<long>((us % 1000000) * 1000)};
    if (::ppoll(&p, 1, &ts, nullptr) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) hungUp_ = true;
  }

  int fd_ = -1;
  bool hungUp_ = false;
  struct termios2 saved_ {};   // the line settings found at open
  bool setLowLatency_ = false;  // low latency was switched on here
};

std::mutex g_factoryMutex;
SerialFactory& Factory() {
  static SerialFactory factory;
  return factory;
}

}  // namespace

std::unique_ptr<SerialDevice> MakePosixSerial() { return std::make_unique<PosixSerial>(); }

SerialFactory SetSerialFactory(SerialFactory factory) {
  std::lock_guard<std::mutex> lock(g_factoryMutex);
  SerialFactory old = std::move(Factory());
  Factory() = std::move(factory);
  return old;
}

std::unique_ptr<SerialDevice> MakeSerialDevice() {
  SerialFactory factory;
  {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    factory = Factory();
  }
  return factory ? factory() : MakePosixSerial();
}

}  // namespace vantrel
