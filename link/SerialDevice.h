#pragma once
// The one small interface between the link and the operating system's serial
// device. The POSIX termios backend lives in PosixSerial.cpp; tests and the
// fuzzers can install another factory.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace vantrel {

// Result of one device read or write: bytes moved (>= 0), or -errno.
// A read that returns end-of-file reports -EIO (the device went away).
using IoCount = long;

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;

  // Opens the device exclusively. Returns 0 or an errno value; `why` gets an
  // operator-readable reason on failure (no such device, permission denied and
  // the group that grants it, busy and who holds it).
  [[nodiscard]] virtual int Open(const std::string& path, std::string* why) = 0;
  virtual void Close() = 0;
  virtual bool IsOpen() const = 0;

  // Raw mode, 8 data bits, no parity, one stop bit, no flow control,
  // non-blocking reads, at `rate` bits per second. Returns 0 or errno.
  [[nodiscard]] virtual int Configure(uint32_t rate) = 0;
  // Current line rate in bits per second as the device reports it (0 unknown).
  virtual uint32_t Rate() = 0;
  // Changes the line rate only. Returns 0 or errno.
  [[nodiscard]] virtual int SetRate(uint32_t rate) = 0;
  // Discards everything queued in both directions.
  virtual void Purge() = 0;
  // Discards only what has arrived and not been read; bytes queued for the
  // line still go out. A device without a receive queue has nothing to drop.
  virtual void PurgeInput() {}

  [[nodiscard]] virtual IoCount Write(const uint8_t* data, size_t len) = 0;
  [[nodiscard]] virtual IoCount Read(uint8_t* buf, size_t len) = 0;

  // Block up to `us` microseconds until the device is readable / writable (or
  // has hung up). Spurious early returns are allowed.
  virtual void WaitReadable(int64_t us) = 0;
  virtual void WaitWritable(int64_t us) = 0;

  // Bytes written but not yet sent on the line (0 when the device cannot tell).
  virtual size_t OutputPending() { return 0; }
  // The open device's descriptor, for a wrapper that asks the terminal what
  // reads and writes do not tell (link/SimulatedLine.h); -1: none.
  virtual int NativeHandle() const { return -1; }
};

using SerialFactory = std::function<std::unique_ptr<SerialDevice>()>;

std::unique_ptr<SerialDevice> MakePosixSerial();
// Replaces the factory used by OpenPort; an empty function restores termios.
SerialFactory SetSerialFactory(SerialFactory factory);
std::unique_ptr<SerialDevice> MakeSerialDevice();

}  // namespace vantrel
