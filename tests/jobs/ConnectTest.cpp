// The boot ROM handshake of START and the reconnect, against a scripted
// handset on a pseudo-terminal (and one fake line).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "jobs/Connect.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/ThreadProcs.h"
#include "link/ComNames.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "tests/jobs/JobsFixture.h"
#include "tests/support/ScriptedHandset.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/SerialFactoryScope.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {
namespace {

constexpr const char* kCom = "COM7";
const std::string kListen = "      Listen for the BOOT signal\t\t\t> > > ";
const std::string kSend = "      Send the Download start signal\t\t> > > ";
const std::string kTurnOn = "\n   - Turn on the target phone immediately!!!!\n";
const std::string kLoaderLines =
    "\n\n  * NAND Flash Driver Download"
    "\n     preboot downloading\t\t\t> > > OK\n"
    "     NAND Flash driver downloading\t\t> > > OK\n"
    "     Flash Type Checking\t\t\t> > > OK\n";

class ConnectTest : public JobsFixture {
 protected:
  void SetUp() override {
    JobsFixture::SetUp();
    rec.m_nComPort = 6;  // COM7
    rec.m_nBaudRate = 0;
    rec.m_nLinkMode = LinkMode::Uart;
  }
  TraceCapture traces;  // keeps the protocol's developer traces out of the test output
};

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Answers the first start signal with `answer` (nothing when empty).
ScriptedHandset::OnByte AnswerStart(std::vector<uint8_t> answer) {
  auto done = std::make_shared<bool>(false);
  return [answer, done](uint8_t b, ScriptedHandset& h) {
    if (*done || (b != 0xB9 && b != 0x77)) return;
    *done = true;
    if (!answer.empty()) h.Send(answer);
  };
}

TEST_F(ConnectTest, NoPortAndFirstRateIsInvalidEnv) {
  rec.m_nComPort = -1;
  EXPECT_EQ(ConnectTarget(ctx), ConnectResult::InvalidEnv);
  EXPECT_EQ(con.States(), std::vector<std::string>{"Busy"});
  EXPECT_EQ(con.Log(), "");

  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, -3);
  ASSERT_EQ(con.MessageBoxes().size(), 1u);
  EXPECT_EQ(con.MessageBoxes()[0].text, "Invalid Env");
  EXPECT_EQ(con.MessageBoxes()[0].caption, "Failure");
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(con.Log(), "\n  * Connecting to target phone\n     Try to open COM0\t>");
}

TEST_F(ConnectTest, BaudOutsideTheListIsWrongBaudRateWithoutPortActivity) {
  SetComOverride(kCom, "/nonexistent/tty");  // an open attempt would log " Fail\n"
  rec.m_nBaudRate = 3;
  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, 2);
  EXPECT_EQ(con.Log(), "\n  * Connecting to target phone\n     Try to open COM7\t>");
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Wrong BaudRate"});
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Disconnected", "Disconnected"}));
  SetComOverride(kCom, "");
}

TEST_F(ConnectTest, PortThatDoesNotOpenIsCommError) {
  SetComOverride(kCom, "/nonexistent/tty");
  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, -1);
  auto entries = con.LogEntries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2], (std::pair<int, std::string>{4, " Fail\n"}));
  // The reason follows, naming the device.
  EXPECT_EQ(entries.back().first, 4);
  EXPECT_NE(entries.back().second.find("/nonexistent/tty"), std::string::npos) << entries.back().second;
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Comm Error"});
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Disconnected"}));
  SetComOverride(kCom, "");
}

TEST_F(ConnectTest, SilentHandsetTimesOut) {
  ScriptedHandset h(kCom);
  h.Start();
  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, 1);
  EXPECT_EQ(con.Log(), "\n  * Connecting to target phone\n     Try to open COM7\t>Success!!\n" + kTurnOn + kListen +
                           "FAIL\n      (Check Comport connection & Bootloader existence)\n");
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Timeout : No Response at the target phone"});
  EXPECT_EQ(con.MessageBoxes()[0].caption, "Failure");
  EXPECT_EQ(PausesTagged("ConnectOpen"), std::vector<unsigned>{1000});
  EXPECT_EQ(rec.m_bConnected, 0);
}

TEST_F(ConnectTest, ZerosBeforeTheBootByteAreSkippedButZerosAloneAreSilence) {
  {
    ScriptedHandset h(kCom);
    h.SetBootBytes({0x00});
    h.Start();
    EXPECT_EQ(ConnectTarget(ctx), ConnectResult::Timeout);
    EXPECT_NE(con.Log().find("FAIL\n"), std::string::npos);
  }
  con.Clear();
  ScriptedHandset h(kCom);
  h.SetBootBytes({0x00, 0x00, 0xA5});
  h.SetScript(AnswerStart({0xB9}));
  h.AnswerFlashTypeQueries(0xB1);
  h.Start();
  EXPECT_EQ(ConnectTarget(ctx), ConnectResult::Ok) << con.Dump();
}

TEST_F(ConnectTest, OtherByteThenSilenceIsWrongChar) {
  ScriptedHandset h(kCom);
  h.SetBootBytes({0x12});
  h.Start();
  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, -2);
  EXPECT_NE(con.Log().find(kListen + "Wrong code! Try again\n"), std::string::npos);
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Received Wrong Char from MS"});
}

TEST_F(ConnectTest, UartConnectBringsUpTheNandLoader) {
  rec.m_nBaudRate = 2;  // 921K: the handshake still runs at 115200
  // Declared before the handset, whose thread runs the script until it ends.
  uint32_t rateAtStart = 0;
  auto answer = AnswerStart({0xB9});
  ScriptedHandset h(kCom);
  h.SetBootBytes({0xA5});
  h.SetScript([&](uint8_t b, ScriptedHandset& hs) {
    if (rateAtStart == 0 && b == 0xB9) rateAtStart = hs.LineRate();
    answer(b, hs);
  });
  h.AnswerFlashTypeQueries(0xB1);
  h.Start();
  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, 0) << con.Dump();
  EXPECT_EQ(rateAtStart, 115200u);
  const std::string log = con.Log();
  const std::string head = "\n  * Connecting to target phone\n     Try to open COM7\t>Success!!\n" + kTurnOn + kListen +
                           "OK\n" + kSend + "OK\n" + StandInWarning() + kLoaderLines;
  EXPECT_EQ(log.substr(0, head.size()), head);
  if (BuiltInPayloadsAreStandIns()) {
    const auto entries = con.LogEntries();
    const std::pair<int, std::string> red{4, StandInWarning()};
    EXPECT_NE(std::find(entries.begin(), entries.end(), red), entries.end());
  }
  EXPECT_NE(log.find("    ( Elapsed Time : "), std::string::npos);
  const std::string tail = "s)\nOK\n\n     UART Download Mode\t> > > Available\n\n";
  ASSERT_GE(log.size(), tail.size());
  EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
  EXPECT_EQ(con.IndicatorText(ctl::kFlashIdBox), "ECB1");
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_TRUE(con.MessageBoxes().empty());
  EXPECT_EQ(ctx.job.loaderState, kLoaderNand);
  EXPECT_EQ(rec.m_bConnected, 1);
  EXPECT_EQ(PausesTagged("StartAccepted"), std::vector<unsigned>{200});
  EXPECT_FALSE(rec.m_linkRecord.IsOpen());
  EXPECT_EQ(rec.m_linkRecord.baudCode, kBaud115200);
  // The handshake byte, then the three uploads and the query.
  EXPECT_GE(h.ReceivedCount(), 1u + 2656 + 1292 + 46940 + 16);
}

TEST_F(ConnectTest, UsbSendsTheStartSignalWithoutABootByte) {
  rec.m_nLinkMode = LinkMode::Usb;
  ScriptedHandset h(kCom);
  h.SetScript(AnswerStart({0xB9}));
  h.AnswerFlashTypeQueries(0x55);
  h.Start();
  ConnectProc(ctx);
  EXPECT_EQ(rec.m_nConnectResult, 0) << con.Dump();
  const std::string head = "\n  * Connecting to target phone\n     Try to open COM7\t>Success!!\n" + kSend +
                           StandInWarning() + "\n\n  * NAND Flash Driver Download";
  EXPECT_EQ(con.Log().substr(0, head.size()), head);
  ASSERT_FALSE(h.Received().empty());
  EXPECT_EQ(h.Received()[0], 0xB9);
  EXPECT_EQ(con.IndicatorText(ctl::kFlashIdBox), "NX3302A0 256");
  EXPECT_TRUE(PausesTagged("StartAccepted").empty());
  EXPECT_EQ(rec.m_bConnected, 1);  // the title names the USB link
}

// A refused payload folder: START says why and sends nothing, not even the
// start signal, though the handset offers its BOOT byte.
TEST_F(ConnectTest, RefusedPayloadFolderSendsNothing) {
  ScriptedHandset h(kCom);
  h.SetBootBytes({0xA5});
  h.SetScript(AnswerStart({0xB9}));
  h.Start();
  UsePayloads(PayloadSet::Refused("/p", {"missing in /p: boot2.img (190380 bytes)"}));
  ConnectProc(ctx);
  UsePayloads(nullptr);
  const std::string why = "handset payloads refused: missing in /p: boot2.img (190380 bytes)";
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{why});
  EXPECT_NE(con.Log().find("\n  * " + why), std::string::npos) << con.Dump();
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(h.ReceivedCount(), 0u);
  EXPECT_EQ(rec.m_bConnected, 0);
}

TEST_F(ConnectTest, SilenceAfterTheStartSignalIsTimeout) {
  ScriptedHandset h(kCom);
  h.SetBootBytes({0xA5});
  h.Start();
  EXPECT_EQ(ConnectTarget(ctx), ConnectResult::Timeout);
  EXPECT_TRUE(EndsWith(con.Log(), "OK\n" + kSend + "Timeout\n")) << con.Dump();
  EXPECT_EQ(con.LastState(), "Disconnected");
}

TEST_F(ConnectTest, AlternativeBootByteAllowsOneRetry) {
  int starts = 0;
  ScriptedHandset h(kCom);
  h.SetBootBytes({0x77});
  h.SetScript([&](uint8_t b, ScriptedHandset& hs) {
    if (b != 0x77 && b != 0xB9) return;
    if (++starts == 1) {
      hs.Send({0x12});  // an unexpected answer, then silence
      hs.Silence(300);
      hs.Send({0xA5});  // heard again while listening
    } else if (starts == 2) {
      hs.Send({0xB9});
    }
  });
  h.AnswerFlashTypeQueries(0xB1);
  h.Start();
  EXPECT_EQ(ConnectTarget(ctx), ConnectResult::Ok) << con.Dump();
  const std::string want = "Success!!\n" + kTurnOn + kListen + "OK\n" + kSend + "Try again\n" + kListen + "OK\n" +
                           kSend + "OK\n";
  EXPECT_EQ(con.Log().substr(0, want.size()), want);
  EXPECT_FALSE(ctx.job.connectRetryAllowed);
  const auto got = h.Received();
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got[0], 0x77);
  EXPECT_EQ(got[1], 0xB9);
}

TEST_F(ConnectTest, UnexpectedAnswerWithoutAllowanceEndsWithoutALogLine) {
  ScriptedHandset h(kCom);
  h.SetBootBytes({0xA5});
  h.SetScript(AnswerStart({0x12}));
  h.Start();
  EXPECT_EQ(ConnectTarget(ctx), ConnectResult::WrongChar);
  EXPECT_TRUE(EndsWith(con.Log(), "OK\n" + kSend)) << con.Dump();
}

TEST_F(ConnectTest, ReconnectOverUartSendsTheCommandAndReturnsToReady) {
  ScriptedHandset h(kCom);
  h.Start();
  ctx.job.loaderState = kLoaderNand;
  rec.m_nDownloadItem = 5;
  (void)ReconnectForDriverChange(ctx);
  EXPECT_EQ(ctx.job.loaderState, kLoaderNone);
  EXPECT_EQ(con.Log(), "\n   * Reconnecting (Flash Driver Change)\n    Open Comport\t\t\t\t> > > OK\n"
                       "    Now Reconnecting\t\t\t> > > OK");
  EXPECT_EQ(con.Enabled(ctl::kCancel), true);
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_FALSE(rec.m_pLink);
  // The command block 0xFFFF0017, 0, 0, end mark.
  const std::vector<uint8_t> want = {0xFF, 0xFF, 0x00, 0x17, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x00, 0xFF, 0x00};
  ASSERT_TRUE(con.WaitFor([&](const auto&) { return h.ReceivedCount() >= 16; }, std::chrono::seconds(2)));
  EXPECT_EQ(h.Received(), want);

  // The All Download item goes on after the reconnect: the controls stay as they are.
  con.Clear();
  rec.m_nDownloadItem = 7;
  (void)ReconnectForDriverChange(ctx);
  EXPECT_TRUE(con.States().empty());
}

TEST_F(ConnectTest, ReconnectOverUsbSendsNothing) {
  rec.m_nLinkMode = LinkMode::Usb;
  ctx.job.loaderState = kLoaderNor;
  (void)ReconnectForDriverChange(ctx);
  EXPECT_EQ(ctx.job.loaderState, kLoaderNone);
  EXPECT_EQ(con.Log(), "");
  EXPECT_EQ(con.States(), std::vector<std::string>{"Ready"});
  EXPECT_EQ(con.Enabled(ctl::kCancel), true);
}

TEST_F(ConnectTest, ReconnectWithoutAPortLogsFail) {
  SetComOverride(kCom, "/nonexistent/tty");
  rec.m_nDownloadItem = 7;
  (void)ReconnectForDriverChange(ctx);
  EXPECT_EQ(con.Log(), "\n   * Reconnecting (Flash Driver Change)\n    Open Comport\t\t\t\t> > > FAIL");
  EXPECT_EQ(con.LastState(), "Ready");  // not sent: the controls come back
  SetComOverride(kCom, "");
}

TEST_F(ConnectTest, RepeatedBootBytesAreNotTakenForTheAcceptance) {
  // A boot ROM that offers 0x77 every 100 ms while the host waits after
  // opening, and accepts the start signal with the same byte.
  LineJournal line;
  line.onWrite = [&line](const uint8_t* data, size_t len) {
    if (len == 1 && data[0] == 0x77) line.answers.push_back(0x77);
  };
  SerialFactoryScope devices{[&line] { return std::make_unique<QueuedLine>(line); }};
  std::vector<bool> acceptedByTheAnswer;
  timing::ObservePauses([&](const timing::PauseEvent& p) {
    if (p.tag == "ConnectOpen") line.answers.assign(10, 0x77);  // the host's 1000 ms
    if (p.tag != "StartAccepted") return;
    acceptedByTheAnswer.push_back(line.answers.empty());  // nothing left: the answer was read
    stop::Request();  // the loader upload is not what this test is about
  });
  (void)ConnectTarget(ctx);
  timing::ObservePauses(nullptr);
  EXPECT_EQ(acceptedByTheAnswer, std::vector<bool>{true}) << con.Dump();
}

}  // namespace
}  // namespace vantrel::test
