// Loader commands: their bytes, pauses and the waits some of them make.
#include <gtest/gtest-spi.h>

#include "link/ResultCodes.h"
#include "protocol/Constants.h"
#include "protocol/LoaderCommands.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

class LoaderCommandsTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    OpenAt(kBaud115200);
  }
  // Everything the loader received while `call` ran.
  Bytes Sent(const std::function<void()>& call) {
    Bytes seen;
    handset_.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
    call();
    handset_.Join();
    return seen;
  }
  ScriptedHandset handset_;
};

TEST_F(LoaderCommandsTest, PlainCommandsAndTheirPauses) {
  EXPECT_EQ(Sent([&] { EXPECT_EQ(TOOL_SetTargetBaud(session_, link_, 0x8B, 1), 0); }),
            Bytes({0xFF, 0xFF, 0x00, 0x16, 0, 0, 0, 0x8B, 0, 0, 0, 1, 0xFF, 0x00, 0xFF, 0x00}));
  EXPECT_EQ(Sent([&] { (void)TOOL_EndSession(session_, link_); }), WordsBe({0xFFFF0018u, 0, 0, 0xFF00FF00u}));
  EXPECT_EQ(Sent([&] { (void)TOOL_Reconnect(session_, link_); }), WordsBe({0xFFFF0017u, 0, 0, 0xFF00FF00u}));
  EXPECT_EQ(Sent([&] { (void)TOOL_FormatPzl(session_, link_); }), WordsBe({0xFFFF0014u, 0, 0, 0xFF00FF00u}));
  EXPECT_EQ(Sent([&] { (void)TOOL_FormatVlfArea(session_, link_, LinkMode::Uart); }),
            WordsBe({0xFFFF0008u, 0xE00000, 0x20000, 0xFF00FF00u}));
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_SetTargetBaud:1000", "TOOL_EndSession:2000", "TOOL_FormatPzl:5000",
                                      "TOOL_FormatVlfArea:1000"));
}

TEST_F(LoaderCommandsTest, UsbLinksGetFrames) {
  Bytes f = Sent([&] { (void)TOOL_FormatVlfArea(session_, link_, LinkMode::Usb); });
  ASSERT_EQ(f.size(), 16u);
  EXPECT_EQ(f[0], 0x32);
  EXPECT_THAT(Bytes(f.begin() + 4, f.end()), ElementsAre(0, 0, 0, 0, 0xFF, 0xFF, 0, 0x08, 0, 0, 0, 0));
  f = Sent([&] { (void)TOOL_EraseAll(session_, link_, 0x19, LinkMode::Usb); });
  ASSERT_EQ(f.size(), 16u);
  EXPECT_EQ(f[0], 0x33);
  EXPECT_THAT(Bytes(f.begin() + 8, f.end()), ElementsAre(0xFF, 0xFF, 0, 0x06, 0, 0, 0, 1));
  const char date[8] = {'2', '0', '2', '4', '0', '5', '1', '7'};
  timing::ClearRecording();
  f = Sent([&] { EXPECT_EQ(TOOL_SendDownloadDate(session_, link_, date, LinkMode::Usb), 0); });
  ASSERT_EQ(f.size(), 24u);
  EXPECT_EQ(f[0], 0x33);
  EXPECT_THAT(Bytes(f.begin() + 8, f.begin() + 16), ElementsAre(0xFF, 0xFF, 0, 0x19, 0, 0, 0, 0));
  EXPECT_EQ(std::string(f.begin() + 16, f.end()), "20240517");
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_SendDownloadDate:500", "TOOL_SendDownloadDate:1000"));
}

// A host that sends too little fails the test with what did arrive; the
// script, which may index what it expected, never runs past the short read.
TEST_F(LoaderCommandsTest, ScriptedHandsetFailsCleanlyOnAShortRead) {
  EXPECT_NONFATAL_FAILURE_ON_ALL_THREADS(
      {
        handset_.Play([](ScriptedHandset& h) { (void)h.Expect(17, 300)[16]; });
        EXPECT_EQ(TOOL_Reconnect(session_, link_), 0);
        handset_.Join();
      },
      "expected 17 bytes, the host sent 16: FF FF 00 17 00");
}

TEST_F(LoaderCommandsTest, EraseWaitsForItsCompletionBytes) {
  Bytes command;
  handset_.Play([&](ScriptedHandset& h) {
    command = h.Expect(16);
    h.Send({0x00, 0xB9, 0x46, 0x12, 0xB9});  // a 0xB9 before 'F' does not count
  });
  EXPECT_EQ(TOOL_EraseAll(session_, link_, 0x18, LinkMode::Uart), 0);
  handset_.Join();
  EXPECT_EQ(command, WordsBe({0xFFFF0006u, 0, 0, 0xFF00FF00u}));
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_EraseAll:1000"));

  // Only 'F', then silence: the second phase runs out its 30 s quietly.
  timing::SetPollScale(0.002);
  handset_.Play([&](ScriptedHandset& h) {
    h.Expect(16);
    h.SendByte(0x46);
  });
  EXPECT_EQ(TOOL_EraseAll(session_, link_, 0x18, LinkMode::Uart), 0);
  handset_.Join();
  EXPECT_GE(timing::RecordedPollCount(), 30u * 200u);

  // Not a byte in the whole first phase: no erase can be reported as done.
  timing::ClearRecording();
  handset_.Play([&](ScriptedHandset& h) { h.Expect(16); });
  EXPECT_EQ(TOOL_EraseAll(session_, link_, 0x18, LinkMode::Uart), Result::NoResponse);
  handset_.Join();
  EXPECT_GE(timing::RecordedPollCount(), 30u * 200u);
  EXPECT_LT(timing::RecordedPollCount(), 31u * 200u) << "the second phase is not waited for";
  // Nor is a stray byte without the 'F'.
  handset_.Play([&](ScriptedHandset& h) {
    h.Expect(16);
    h.Send({0x00, 0xB9});
  });
  EXPECT_EQ(TOOL_EraseAll(session_, link_, 0x18, LinkMode::Uart), Result::NoResponse);
  handset_.Join();
  handset_.Play([&](ScriptedHandset& h) { h.Expect(16); });
  EXPECT_EQ(TOOL_PartialErase(session_, link_, 0x100000, 0x40000), Result::NoResponse);
  handset_.Join();

  // Partial erase: first phase 30 s, second 60 s of idle budget.
  timing::ClearRecording();
  handset_.Play([&](ScriptedHandset& h) {
    command = h.Expect(16);
    h.SendByte(0x46);
  });
  EXPECT_EQ(TOOL_PartialErase(session_, link_, 0x100000, 0x40000), 0);
  handset_.Join();
  EXPECT_EQ(command, WordsBe({0xFFFF0013u, 0x100000, 0x40000, 0xFF00FF00u}));
  EXPECT_GE(timing::RecordedPollCount(), 60u * 200u);
  EXPECT_LT(timing::RecordedPollCount(), 90u * 200u);
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_PartialErase:1000"));
}

TEST_F(LoaderCommandsTest, FormatVlfReportsEachAreaUntilTheEnd) {
  // Areas without reports.
  EXPECT_EQ(Sent([&] { EXPECT_EQ(TOOL_FormatVlf(session_, link_, 0x1E90000, nullptr), 0); }),
            WordsBe({0xFFFF0002u, 0x1E90000, 0x20000, 0xFF00FF00u}));
  EXPECT_EQ(Sent([&] { EXPECT_EQ(TOOL_FormatVlf(session_, link_, 0, nullptr), 0); }),
            WordsBe({0xFFFF0002u, 0, 0x10000, 0xFF00FF00u}));

  handset_.Play([&](ScriptedHandset& h) {
    h.Expect(16);
    h.SendWordBe(0x8000);
    h.SendByte(0x27);
    h.SendWordBe(0x20000);  // past the end: still ends the format
    h.SendByte(0x27);
  });
  EXPECT_EQ(TOOL_FormatVlf(session_, link_, 0x1000000, progress_.Callback()), 0);
  handset_.Join();
  EXPECT_THAT(progress_.calls, ElementsAre(ProgressCall{1, 0, 0x1000000, 0x8000, 1},
                                           ProgressCall{1, 0, 0x1008000, 0x20000, 1}));

  const auto endedBy = [&](std::function<void(ScriptedHandset&)> script) {
    handset_.Play([script](ScriptedHandset& h) {
      h.Expect(16);
      script(h);
    });
    progress_.calls.clear();
    const Result rc = TOOL_FormatVlf(session_, link_, 0x1000000, progress_.Callback());
    handset_.Join();
    return rc;
  };
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendWordBe(0); }), 0);
  EXPECT_TRUE(progress_.calls.empty());
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendWordBe(0x100), h.SendByte(0x2A); }), Result::Internal);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 3, 0, 0}));
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendWordBe(0x100), h.SendByte(0x28); }), Result::Internal);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 4, 0, 0}));
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendWordBe(0x100), h.SendByte(0x00); }), Result::Internal);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 5, 0, 0}));
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendWordBe(0x100); }), Result::NoResponse);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 6, 0, 0}));
  EXPECT_EQ(endedBy([](ScriptedHandset&) {}), Result::NoResponse);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 6, 0, 0}));
}

}  // namespace
}  // namespace vantrel::test
