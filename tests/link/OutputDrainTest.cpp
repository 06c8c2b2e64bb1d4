// write() only queues: the close purge must not throw away a queued tail, an
// answer's idle budget must not run while the host's own bytes are still
// queued, and a line that never drains must hold up none of them.
#include <gtest/gtest.h>

#include <vector>

#include "link/ComLink.h"
#include "link/ResultCodes.h"
#include "tests/support/FastTiming.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/SerialFactoryScope.h"
#include "tests/support/ResultNumbers.h"

namespace vantrel {
namespace {

class OutputDrain : public test::FastTiming {
 protected:
  void OpenAndQueue(size_t bytes) {
    link_.SetPortName("COM3");
    link_.baudCode = kBaud115200;
    ASSERT_EQ(OpenPort(link_), 0);
    std::vector<uint8_t> upload(bytes, 0x5A);
    ASSERT_EQ(SendAll(link_, upload.data(), static_cast<uint32_t>(upload.size()), 6), 0);
    journal_.calls.clear();
    timing::ClearRecording();
  }

  test::LineJournal journal_;
  test::SerialFactoryScope devices_{[this] { return std::make_unique<test::QueuedLine>(journal_); }};
  ComLink link_;
};

// A 1 s idle budget is 200 empty polls and the one that fails.
constexpr uint64_t kOneSecondPolls = 201;

TEST_F(OutputDrain, QueuedBytesLeaveBeforeThePurgeAndTheAnswerBudgetAndAStuckLineHoldsNeither) {
  // 4096 queued bytes leave in eight looks; polls taken meanwhile are not
  // charged to the handset, which cannot have answered yet.
  OpenAndQueue(4096);
  uint8_t echo = 0;
  EXPECT_EQ(ReceiveExactly(link_, &echo, 1, 1), Result::NoResponse);
  EXPECT_GT(timing::RecordedPollCount(), kOneSecondPolls);
  EXPECT_LE(timing::RecordedPollCount(), kOneSecondPolls + 8);
  journal_.pending = 2656;
  ClosePort(link_);
  EXPECT_EQ(journal_.calls.front(), "purge with 0 queued");

  // 1000 stuck bytes need about 87 ms at 115200; with the margin each wait
  // gives up after some 290 ms, 58 polls of 5 ms.
  OpenAndQueue(1000);
  journal_.stuck = true;
  EXPECT_EQ(ReceiveExactly(link_, &echo, 1, 1), Result::NoResponse);
  EXPECT_LE(timing::RecordedPollCount(), kOneSecondPolls + 58);
  timing::ClearRecording();
  ClosePort(link_);
  EXPECT_LE(timing::RecordedPollCount(), 58u);
}

// A rate the driver does not take reads back as another (Wine's 812000 ->
// 38400): the open fails naming the rate, and after a rate change the line
// refuses every exchange instead of talking at the wrong rate.
TEST_F(OutputDrain, ARateThePortDidNotTakeIsAPortError) {
  journal_.refusedRate = 812000;
  link_.SetPortName("COM3");
  link_.baudCode = kBaud812000;
  EXPECT_EQ(OpenPort(link_), Result::ComPort);
  EXPECT_NE(link_.openFailure.find("the port did not take 812000 bit/s (it runs at 38400 bit/s)"), std::string::npos)
      << link_.openFailure;
  EXPECT_FALSE(link_.IsOpen());

  OpenAndQueue(0);
  EXPECT_EQ(SetHostBaud(link_, kBaud921600), kBaud115200);
  uint8_t byte = 0x5A;
  EXPECT_EQ(SendAll(link_, &byte, 1, 1), Result::Ok);
  EXPECT_EQ(SetHostBaud(link_, kBaud812000), kBaud921600);
  EXPECT_EQ(link_.lineFault, "COM3: the port did not take 812000 bit/s (it runs at 38400 bit/s)");
  EXPECT_EQ(SendAll(link_, &byte, 1, 1), Result::ComPort);
  EXPECT_EQ(ReceiveExactly(link_, &byte, 1, 1), Result::ComPort);
  // A rate within a UART's tolerance is taken.
  EXPECT_EQ(RateRefusal("COM3", 812000, 812500), "");
  ClosePort(link_);
}

}  // namespace
}  // namespace vantrel
