#pragma once
// A serial device without hardware whose written bytes wait in a queue: the
// line takes 512 bytes of it between two looks at the pending output, unless
// it is stuck; a purge discards it. The handset's `answers` wait to be read
// (handed out in order whatever the host wrote; an input purge drops them)
// and `onWrite` may add to them. Everything the host wrote is kept; the open
// or a chosen write can fail as on a missing or vanished device, and a chosen
// rate can be one the driver does not take. The journal
// records the purges (with what was still queued) and the close.
#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/SerialDevice.h"
#include "tests/support/SerialFactoryScope.h"

namespace vantrel::test {

struct LineJournal {
  std::vector<std::string> calls;
  size_t pending = 0;
  bool stuck = false;
  std::deque<uint8_t> answers;
  std::vector<uint8_t> written;
  std::function<void(const uint8_t* data, size_t len)> onWrite;
  int openError = 0;
  int failWrite = 0;  // the n-th write (1-based) fails as a vanished device does
  int writes = 0;
  uint32_t refusedRate = 0;  // the driver does not take this rate: it reads back as 38400
  uint32_t rate = 0;
};

class QueuedLine final : public SerialDevice {
 public:
  explicit QueuedLine(LineJournal& j) : j_(j) {}
  // Shares the journal, for devices the link may keep after the test's scope.
  explicit QueuedLine(std::shared_ptr<LineJournal> j) : keep_(std::move(j)), j_(*keep_) {}
  int Open(const std::string&, std::string* why) override {
    if (j_.openError != 0 && why != nullptr) *why = "scripted";
    open_ = j_.openError == 0;
    return j_.openError;
  }
  void Close() override {
    open_ = false;
    j_.calls.push_back("close");
  }
  bool IsOpen() const override { return open_; }
  int Configure(uint32_t rate) override { return SetRate(rate); }
  uint32_t Rate() override { return j_.rate; }
  int SetRate(uint32_t rate) override {
    j_.rate = rate == j_.refusedRate ? 38400 : rate;
    return 0;
  }
  void Purge() override {
    j_.calls.push_back("purge with " + std::to_string(j_.pending) + " queued");
    j_.pending = 0;
  }
  void PurgeInput() override { j_.answers.clear(); }
  IoCount Write(const uint8_t* data, size_t len) override {
    if (++j_.writes == j_.failWrite) return -EIO;
    if (j_.onWrite) j_.onWrite(data, len);
    j_.written.insert(j_.written.end(), data, data + len);
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
  std::shared_ptr<LineJournal> keep_;
  LineJournal& j_;
  bool open_ = false;
};

// Every device the link opens while this lives is a QueuedLine on `line`.
class QueuedLineScope {
 public:
  void Feed(const std::vector<uint8_t>& bytes) { line->answers.insert(line->answers.end(), bytes.begin(), bytes.end()); }

  std::shared_ptr<LineJournal> line = std::make_shared<LineJournal>();

 private:
  SerialFactoryScope devices_{[l = line] { return std::make_unique<QueuedLine>(l); }};
};

}  // namespace vantrel::test
