// The command line's byte counter sits between the link and the real device:
// it must count what moves and leave everything else to the device, above
// all the queue the close waits for before its purge.
#include <gtest/gtest.h>

#include <vector>

#include "cli/CountingSerial.h"
#include "link/ComLink.h"
#include "tests/support/FastTiming.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/SerialFactoryScope.h"
#include "tests/support/ResultNumbers.h"

namespace vantrel::cli {
namespace {

class CountingSerialTest : public test::FastTiming {
 protected:
  test::LineJournal line_;
  test::SerialFactoryScope devices_{
      [this] { return std::make_unique<CountingSerial>(std::make_unique<test::QueuedLine>(line_)); }};
};

TEST_F(CountingSerialTest, CountsBothWaysAndTheCloseStillWaitsForTheQueuedTail) {
  ComLink link;
  link.SetPortName("COM3");
  link.baudCode = kBaud115200;
  ASSERT_EQ(OpenPort(link), 0);
  line_.calls.clear();
  line_.answers.assign(3, 0x5A);
  const uint64_t before = LineBytes().load();

  std::vector<uint8_t> upload(2656, 0xA5);
  ASSERT_EQ(SendAll(link, upload.data(), static_cast<uint32_t>(upload.size()), 6), 0);
  uint8_t answer[3] = {};
  ASSERT_EQ(ReceiveExactly(link, answer, sizeof answer, 6), 0);
  EXPECT_EQ(LineBytes().load() - before, 2656u + 3u);

  // Hidden behind the counter, the queue would look empty and the purge
  // would throw the upload's tail away.
  ClosePort(link);
  ASSERT_FALSE(line_.calls.empty());
  EXPECT_EQ(line_.calls.front(), "purge with 0 queued");
}

}  // namespace
}  // namespace vantrel::cli
