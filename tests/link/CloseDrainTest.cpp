// The close purge must not throw away an upload's tail that is still queued
// for the line, and a line that never drains must not hold the close.
#include <gtest/gtest.h>

#include <vector>

#include "link/ComLink.h"
#include "link/SerialDevice.h"
#include "tests/support/FastTiming.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/SerialFactoryScope.h"

namespace vantrel {
namespace {

class CloseDrain : public test::FastTiming {
 protected:
  test::LineJournal journal_;
  test::SerialFactoryScope devices_{[this] { return std::make_unique<test::QueuedLine>(journal_); }};
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
