#pragma once
// A serial line whose far end is a script: the bytes the "handset" will send
// are handed out in order whatever the host wrote, and everything the host
// writes is kept. A chosen write can fail as on a vanished device. Installed
// through the link's device factory for the lifetime of a ScriptedLineScope.
#include <cerrno>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "link/SerialDevice.h"
#include "tests/support/SerialFactoryScope.h"

namespace vantrel::test {

// What the handset will send (handed out in order, whatever the host wrote)
// and what the host wrote.
struct Line {
  std::deque<uint8_t> in;
  std::vector<uint8_t> out;
  int openError = 0;
  int failWrite = 0;  // the n-th write (1-based) fails as a vanished device does
  int writes = 0;
};

class ScriptedDevice : public SerialDevice {
 public:
  explicit ScriptedDevice(std::shared_ptr<Line> line) : line_(std::move(line)) {}
  int Open(const std::string&, std::string* why) override {
    if (line_->openError != 0 && why != nullptr) *why = "scripted";
    open_ = line_->openError == 0;
    return line_->openError;
  }
  void Close() override { open_ = false; }
  bool IsOpen() const override { return open_; }
  int Configure(uint32_t) override { return 0; }
  uint32_t Rate() override { return 115200; }
  int SetRate(uint32_t) override { return 0; }
  void Purge() override {}
  IoCount Write(const uint8_t* data, size_t len) override {
    if (++line_->writes == line_->failWrite) return -EIO;
    line_->out.insert(line_->out.end(), data, data + len);
    return static_cast<IoCount>(len);
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    size_t n = 0;
    while (n < len && !line_->in.empty()) {
      buf[n++] = line_->in.front();
      line_->in.pop_front();
    }
    return static_cast<IoCount>(n);
  }
  void WaitReadable(int64_t) override {}
  void WaitWritable(int64_t) override {}

 private:
  std::shared_ptr<Line> line_;
  bool open_ = false;
};

class ScriptedLineScope {
 public:
  void Feed(const std::vector<uint8_t>& bytes) { line->in.insert(line->in.end(), bytes.begin(), bytes.end()); }

  std::shared_ptr<Line> line = std::make_shared<Line>();

 private:
  SerialFactoryScope devices_{[l = line] { return std::make_unique<ScriptedDevice>(l); }};
};

}  // namespace vantrel::test
