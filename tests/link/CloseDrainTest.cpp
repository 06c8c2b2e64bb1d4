// The close purge must not throw away an upload's tail that is still queued
// for the line, and a line that never drains must not hold the close.
#include <gtest/gtest.h>

#include <vector>

#include "link/ComLink.h"
#include "link/SerialDevice.h"
#include "tests/support/FastTiming.h"

namespace vantrel {
namespace {

struct Journal {
  std::vector<std::string> calls;
  size_t pending = 0;
  bool stuck = false;
};

class QueueDevice final : public SerialDevice {
 public:
  explicit QueueDevice(Journal& j) : j_(j) {}
  int Open(const std::string&, std::string*) override { open_ = true; return 0; }
  void Close() override { open_ = false; j_.calls.push_back("close"); }
  bool IsOpen() const override { return open_; }
  int Configure(uint32_t) override { return 0; }
  uint32_t Rate() override { return 115200; }
  int SetRate(uint32_t) override { return 0; }
  void Purge() override { j_.calls.push_back("purge with " + std::to_string(j_.pending) + " queued"); }
  IoCount Write(const uint8_t*, size_t len) override { j_.pending += len; return static_cast<IoCount>(len); }
  IoCount Read(uint8_t*, size_t) override { return -EAGAIN; }
  void WaitReadable(int64_t) override {}
  void WaitWritable(int64_t) override {}
  size_t OutputPending() override {
    // The line takes 512 bytes between two looks, unless it is stuck.
    const size_t now = j_.pending;
    if (!j_.stuck) j_.pending = j_.pending > 512 ? j_.pending - 512 : 0;
    return now;
  }

 private:
  Journal& j_;
  bool open_ = false;
};

class CloseDrain : public test::FastTiming {
 protected:
  void SetUp() override {
    test::FastTiming::SetUp();
    old_ = SetSerialFactory([this] { return std::make_unique<QueueDevice>(journal_); });
  }
  void TearDown() override {
    SetSerialFactory(old_);
    test::FastTiming::TearDown();
  }
  Journal journal_;
  SerialFactory old_;
};

TEST_F(CloseDrain, QueuedBytesReachTheLineBeforeThePurge) {
  ComLink link;
  link.SetPortName("COM3");
  link.baudCode = kBaud115200;
  ASSERT_EQ(OpenPort(link), 0);
  std::vector<uint8_t> upload(2656, 0x5A);
  ASSERT_EQ(SendAll(link, upload.data(), static_cast<uint32_t>(upload.size()), 6), 0);
  journal_.calls.clear();
  EXPECT_EQ(ClosePort(link), 0);
  ASSERT_FALSE(journal_.calls.empty());
  EXPECT_EQ(journal_.calls.front(), "purge with 0 queued");
}

TEST_F(CloseDrain, AStuckLineDoesNotHoldTheClose) {
  ComLink link;
  link.SetPortName("COM3");
  link.baudCode = kBaud115200;
  ASSERT_EQ(OpenPort(link), 0);
  std::vector<uint8_t> upload(1000, 0x5A);
  ASSERT_EQ(SendAll(link, upload.data(), static_cast<uint32_t>(upload.size()), 6), 0);
  journal_.stuck = true;
  journal_.calls.clear();
  timing::ClearRecording();
  EXPECT_EQ(ClosePort(link), 0);
  // 1000 bytes need about 87 ms at 115200; with the margin the wait gives up
  // after some 290 ms of 5 ms polls.
  EXPECT_LE(timing::RecordedPollCount(), 60u);
  EXPECT_FALSE(link.IsOpen());
}

}  // namespace
}  // namespace vantrel
