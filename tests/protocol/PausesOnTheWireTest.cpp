// write() returns once the bytes are queued in the driver, which on a slow
// line holds them for a good while: every fixed pause that follows a send
// must count from the moment the queue has emptied.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocol/BootUpload.h"
#include "protocol/LoaderCommands.h"
#include "protocol/ReadBack.h"
#include "tests/protocol/ProtocolFixture.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/SerialFactoryScope.h"

namespace vantrel::test {
namespace {

class PausesOnTheWire : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    timing::SetPollScale(0.0);  // nothing answers from another thread here
    timing::ObservePauses([this](const timing::PauseEvent& p) {
      if (line_.pending > 0) early_.push_back(p.tag + " with " + std::to_string(line_.pending) + " queued");
    });
  }

  void Answer(const Bytes& bytes) { line_.answers.assign(bytes.begin(), bytes.end()); }

  LineJournal line_;
  SerialFactoryScope devices_{[this] { return std::make_unique<QueuedLine>(line_); }};
  std::vector<std::string> early_;
};

TEST_F(PausesOnTheWire, EveryPauseAfterASendStartsOnceTheQueueHasEmptied) {
  // Raw uploads, each on its own opening of the port.
  link_.baudCode = kBaud115200;
  EXPECT_EQ(TOOL_DownloadDriver(session_, link_, DriverForm::SdramInit), 0);
  Answer({0xB1});
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, ' '), 0);
  Answer({0x91, 0x92});
  link_.baudCode = kBaud921600;
  EXPECT_EQ(TOOL_DownloadFlashDriver(session_, link_), 0);

  // A loader's commands and blocks on one open link.
  link_.baudCode = kBaud115200;
  ASSERT_EQ(OpenPort(link_), 0);
  EXPECT_EQ(TOOL_SetTargetBaud(session_, link_, kBaud921600, 1), 0);
  const Bytes block = Pattern(2500, 3);
  Answer({Sum8(block)});
  EXPECT_EQ(SendBlockChecked(session_, LinkMode::Uart, link_, block.data(), 2500, ProgressCallBack{}, 0), 0);
  Answer(Concat({WordsBe({2500}), {0x27}, WordsBe({0, 0})}));
  EXPECT_EQ(TOOL_DownloadNorImage(session_, LinkMode::Uart, link_, WriteFile("nor.bin", block), 0x10000, 2500,
                                  ProgressCallBack{}),
            0);
  EXPECT_EQ(TOOL_SendDownloadDate(session_, link_, "20240315", LinkMode::Uart), 0);
  EXPECT_EQ(TOOL_EndSession(session_, link_), 0);

  EXPECT_EQ(early_, std::vector<std::string>{});
  EXPECT_EQ(PausesTagged("Checksum8").size(), 2u);  // the block's and the NOR block's
  EXPECT_EQ(PausesTagged("TOOL_DownloadNorImage"), std::vector<unsigned>{450});
}

}  // namespace
}  // namespace vantrel::test
