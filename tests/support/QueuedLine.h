#pragma once
// A serial device without hardware whose written bytes wait in a queue: the
// line takes 512 bytes of it between two looks at the pending output, unless
// it is stuck. `incoming` bytes (0x5A each) wait to be read. The journal
// records the purges (with what was still queued) and the close.
#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "link/SerialDevice.h"

namespace vantrel::test {

struct LineJournal {
  std::vector<std::string> calls;
  size_t pending = 0;
  bool stuck = false;
  size_t incoming = 0;
};

class QueuedLine final : public SerialDevice {
 public:
  explicit QueuedLine(LineJournal& j) : j_(j) {}
  int Open(const std::string&, std::string*) override {
    open_ = true;
    return 0;
  }
  void Close() override {
    open_ = false;
    j_.calls.push_back("close");
  }
  bool IsOpen() const override { return open_; }
  int Configure(uint32_t) override { return 0; }
  uint32_t Rate() override { return 115200; }
  int SetRate(uint32_t) override { return 0; }
  void Purge() override { j_.calls.push_back("purge with " + std::to_string(j_.pending) + " queued"); }
  IoCount Write(const uint8_t*, size_t len) override {
    j_.pending += len;
    return static_cast<IoCount>(len);
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    const size_t n = len < j_.incoming ? len : j_.incoming;
    if (n == 0) return -EAGAIN;
    std::memset(buf, 0x5A, n);
    j_.incoming -= n;
    return static_cast<IoCount>(n);
  }
  void WaitReadable(int64_t) override {}
  void WaitWritable(int64_t) override {}
  size_t OutputPending() override {
    const size_t now = j_.pending;
    if (!j_.stuck) j_.pending = j_.pending > 512 ? j_.pending - 512 : 0;
    return now;
  }

 private:
  LineJournal& j_;
  bool open_ = false;
};

}  // namespace vantrel::test
