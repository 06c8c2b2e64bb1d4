// The Win32 backend of SerialDevice. A COM port is opened through its device
// path ("\\.\COM7": the plain name only reaches COM1 to COM9) with no sharing,
// as a plain handle; reads return at once with what has arrived, so the link
// polls in its 5 ms steps as it does on Linux. Failures are reported as the
// errno values the Linux backend gives, so the operator reads the same causes.
#include <windows.h>
#include <timeapi.h>

#include <cerrno>
#include <chrono>
#include <string>

#include "link/DeviceErrors.h"
#include "link/SerialDevice.h"
#include "platform/Win32.h"

namespace vantrel {
namespace {

using platform::Wide;

// The driver queues the link asks for, each way.
constexpr DWORD kQueueBytes = 4096;
// Waits look at the driver's queue this often: Sleep(1) lasts a millisecond
// while the timer resolution is raised (see Win32Serial::Open).
constexpr int64_t kWaitSliceUs = 1000;

// The cause of a failed open, as the Linux link names it. Another program
// holding the port shows as access denied: COM ports are never shared.
int OpenErrno(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
      return EBUSY;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return ENOTTY;
    default:
      return EIO;
  }
}

// The cause of a failed call on an open port. An unplugged USB adapter fails
// with one of several codes, access denied among them: the device went away.
int IoErrno(DWORD code) {
  switch (code) {
    case ERROR_INVALID_HANDLE:
      return EBADF;
    case ERROR_INVALID_PARAMETER:
      return EINVAL;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
      return ENOMEM;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
      return ENOTTY;
    default:
      return EIO;
  }
}

class Win32Serial final : public SerialDevice {
 public:
  ~Win32Serial() override { Close(); }

  int Open(const std::string& path, std::string* why) override {
    Close();
    HANDLE h = ::CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) return Fail(::GetLastError(), path, why);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb)) {
      ::CloseHandle(h);
      return Fail(ERROR_INVALID_FUNCTION, path, why);
    }
    // Every read returns at once with what the driver holds; writes have no
    // time-out.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    ::SetCommTimeouts(h, &timeouts);
    ::SetupComm(h, kQueueBytes, kQueueBytes);
    h_ = h;
    // The line is left as it was found, as on Linux.
    saved_ = dcb;
    // The waits sleep a millisecond at a time; the default timer makes that
    // up to 16 ms, which an answer would pay on every exchange.
    timerRaised_ = ::timeBeginPeriod(1) == TIMERR_NOERROR;
    Purge();
    return 0;
  }

  void Close() override {
    if (h_ == INVALID_HANDLE_VALUE) return;
    Purge();
    ::SetCommState(h_, &saved_);
    ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    if (timerRaised_) ::timeEndPeriod(1);
    timerRaised_ = false;
  }

  bool IsOpen() const override { return h_ != INVALID_HANDLE_VALUE; }

  int Configure(uint32_t rate) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h_, &dcb)) return IoErrno(::GetLastError());
    dcb.BaudRate = rate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // An error must not stop every later read and write until it is cleared.
    dcb.fAbortOnError = FALSE;
    // The modem lines keep their state, but they do not pace the data.
    if (dcb.fRtsControl == RTS_CONTROL_HANDSHAKE || dcb.fRtsControl == RTS_CONTROL_TOGGLE)
      dcb.fRtsControl = RTS_CONTROL_ENABLE;
    if (dcb.fDtrControl == DTR_CONTROL_HANDSHAKE) dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (!::SetCommState(h_, &dcb)) return IoErrno(::GetLastError());
    Purge();
    return 0;
  }

  uint32_t Rate() override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (h_ == INVALID_HANDLE_VALUE || !::GetCommState(h_, &dcb)) return 0;
    return dcb.BaudRate;
  }

  int SetRate(uint32_t rate) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h_, &dcb)) return IoErrno(::GetLastError());
    dcb.BaudRate = rate;
    if (!::SetCommState(h_, &dcb)) return IoErrno(::GetLastError());
    Purge();
    return 0;
  }

  void Purge() override {
    if (h_ != INVALID_HANDLE_VALUE) ::PurgeComm(h_, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
  }

  void PurgeInput() override {
    if (h_ != INVALID_HANDLE_VALUE) ::PurgeComm(h_, PURGE_RXABORT | PURGE_RXCLEAR);
  }

  size_t OutputPending() override {
    COMSTAT stat{};
    if (!Status(&stat)) return 0;
    return stat.cbOutQue;
  }

  IoCount Write(const uint8_t* data, size_t len) override {
    if (h_ == INVALID_HANDLE_VALUE) return -EBADF;
    DWORD done = 0;
    if (::WriteFile(h_, data, static_cast<DWORD>(len), &done, nullptr)) return static_cast<IoCount>(done);
    return -Failed();
  }

  IoCount Read(uint8_t* buf, size_t len) override {
    if (h_ == INVALID_HANDLE_VALUE) return -EBADF;
    DWORD got = 0;
    if (!::ReadFile(h_, buf, static_cast<DWORD>(len), &got, nullptr)) return -Failed();
    if (got == 0) return -EAGAIN;  // nothing has arrived yet
    return static_cast<IoCount>(got);
  }

  void WaitReadable(int64_t us) override {
    // A plain handle has no wait with a time-out; the driver's input queue is
    // looked at every millisecond instead.
    Wait(us, [this] {
      COMSTAT stat{};
      return !Status(&stat) || stat.cbInQue > 0;
    });
  }

  // Writes wait in WriteFile itself; the link waits here only after a write
  // that moved nothing.
  void WaitWritable(int64_t us) override {
    Wait(us, [] { return false; });
  }

 private:
  static int Fail(DWORD code, const std::string& path, std::string* why) {
    const int err = OpenErrno(code);
    if (why != nullptr) {
      *why = OpenFailureText(err, path);
      if (err == EIO) *why += " (Windows error " + std::to_string(code) + ")";
    }
    return err;
  }

  // The errno value of the call that just failed; the port's error state is
  // cleared, so that the next call can go through.
  int Failed() {
    const DWORD code = ::GetLastError();
    DWORD errors = 0;
    ::ClearCommError(h_, &errors, nullptr);
    return IoErrno(code);
  }

  bool Status(COMSTAT* stat) {
    DWORD errors = 0;
    return h_ != INVALID_HANDLE_VALUE && ::ClearCommError(h_, &errors, stat);
  }

  // Looks at `ready` every millisecond for up to `us` microseconds; the last
  // part of a millisecond, shorter than any sleep, is spent yielding.
  template <typename Ready>
  void Wait(int64_t us, Ready ready) {
    if (h_ == INVALID_HANDLE_VALUE || us <= 0) return;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point until = Clock::now() + std::chrono::microseconds(us);
    for (Clock::duration left = until - Clock::now(); left.count() > 0 && !ready(); left = until - Clock::now()) {
      if (left >= std::chrono::microseconds(kWaitSliceUs)) ::Sleep(kWaitSliceUs / 1000);
      else ::SwitchToThread();
    }
  }

  HANDLE h_ = INVALID_HANDLE_VALUE;
  DCB saved_{};  // the line settings found at open
  bool timerRaised_ = false;
};

}  // namespace

std::unique_ptr<SerialDevice> MakeNativeSerial() { return std::make_unique<Win32Serial>(); }

}  // namespace vantrel
