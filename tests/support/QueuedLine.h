#pragma once
// A serial device without hardware whose written bytes wait in a queue: the
// line takes 512 bytes of it between two looks at the pending output, unless
// it is stuck; a purge discards it. The handset's `answers` wait to be read
// (an input purge drops them) and `onWrite` may add to them. The journal
// records the purges (with what was still queued) and the close.
#include <cerrno>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "link/SerialDevice.h"

namespace vantrel::test {

struct LineJournal {
  std::vector<std::string> calls;
  size_t pending = 0;
  bool stuck = false;
  std::deque<uint8_t> answers;
  std::function<void(const uint8_t* data, size_t len)> onWrite;
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
  void Purge() override {
    j_.calls.push_back("purge with " + std::to_string(j_.pending) + " queued");
    j_.pending = 0;
  }
  void PurgeInput() override { j_.answers.clear(); }
  IoCount Write(const uint8_t* data, size_t len) override {
    if (j_.onWrite) j_.onWrite(data, len);
    j_.pending += len;
    return static_cast<IoCount>(len);
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    size_t n = 0;
    for (; n < len && !j_.answers.empty(); ++n) {
      buf[n] = j_.answers.front();
      j_.answers.pop_front();
    }
    return n == 0 ? -EAGAIN : static_cast<IoCount>(n);
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
