// The serial link against a real pseudo-terminal; the test holds the master,
// i.e. the handset's end of the cable.
#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>

#include "link/ComLink.h"
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "tests/support/FastTiming.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ScratchConfig.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/ResultNumbers.h"

namespace vantrel {
namespace {

using test::PtyPair;

std::vector<uint8_t> Bytes(std::initializer_list<int> list) {
  std::vector<uint8_t> out;
  for (int b : list) out.push_back(static_cast<uint8_t>(b));
  return out;
}

// Line settings as the terminal reports them (the master reports its slave's).
struct termios2 LineOf(int fd) {
  struct termios2 tio {};
  EXPECT_EQ(0, ::ioctl(fd, TCGETS2, &tio));
  return tio;
}

// Waits (real time, bounded) until the link has polled at least `polls` times.
bool WaitForPolls(uint64_t polls, const std::atomic<bool>& done) {
  for (int i = 0; i < 20000 && !done; ++i) {
    if (timing::RecordedPollCount() >= polls) return true;
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  return false;
}

class LinkPty : public test::FastTiming {
 protected:
  void SetUp() override {
    FastTiming::SetUp();
    SetComOverride("COM7", pty.SlavePath());
    link.SetPortName("COM7");
    link.baudCode = kBaud115200;
  }
  void TearDown() override {
    if (link.IsOpen()) ClosePort(link);
    SetComOverride("COM7", "");
    FastTiming::TearDown();
  }
  void Open() {
    ASSERT_EQ(Result::Ok, OpenPort(link));
    ASSERT_TRUE(link.IsOpen());
    timing::ClearRecording();
  }

  test::ScratchConfig config;
  test::TraceCapture traces;
  PtyPair pty;
  ComLink link;
};

TEST_F(LinkPty, SendAllPutsExactBytesOnTheWire) {
  Open();
  std::vector<uint8_t> data(70000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
  data[0] = 0x0A;  // no newline translation
  data[1] = 0x0D;
  data[2] = 0x11;  // XON/XOFF pass through
  data[3] = 0x13;
  data[4] = 0x03;  // no signals
  std::vector<uint8_t> got;
  std::thread reader([&] { got = pty.Read(data.size(), 10000); });
  EXPECT_EQ(Result::Ok, SendAll(link, data.data(), static_cast<uint32_t>(data.size()), kIdleDefaultSec));
  reader.join();
  EXPECT_EQ(data, got);
}

TEST_F(LinkPty, ReceiveExactlyTakesBytesAsSent) {
  Open();
  const auto sent = Bytes({0x0D, 0x0A, 0x11, 0x13, 0x03, 0x1C, 0x7F, 0xFF, 0x00, 0x04});
  ASSERT_TRUE(pty.Write(sent));
  std::vector<uint8_t> got(sent.size());
  EXPECT_EQ(Result::Ok, ReceiveExactly(link, got.data(), static_cast<uint32_t>(got.size()), kIdleDefaultSec));
  EXPECT_EQ(sent, got);
  // Nothing was echoed back to the handset.
  EXPECT_TRUE(pty.Drain(20).empty());
}

TEST_F(LinkPty, ZeroLengthTransfersDoNotTouchThePort) {
  Open();
  uint8_t b = 0;
  EXPECT_EQ(Result::Ok, SendAll(link, &b, 0, kIdleDefaultSec));
  EXPECT_EQ(Result::Ok, ReceiveExactly(link, &b, 0, kIdleDefaultSec));
  EXPECT_EQ(0u, timing::RecordedPollCount());
  EXPECT_TRUE(pty.Drain(20).empty());
}

TEST_F(LinkPty, LineIsRaw8N1WithoutFlowControlAndLeftAsFoundAtClose) {
  // Start from a cooked line with flow control, as a terminal might leave it.
  const int held = pty.HoldSlave();  // the line outlives our close, as a real port does
  struct termios2 tio = LineOf(pty.Master());
  tio.c_iflag |= IXON | IXOFF | ICRNL;
  tio.c_cflag |= CRTSCTS | PARENB | CSTOPB;
  tio.c_lflag |= ICANON | ECHO | ISIG;
  tio.c_oflag |= OPOST;
  ASSERT_EQ(0, ::ioctl(pty.Master(), TCSETS2, &tio));
  const struct termios2 found = LineOf(pty.Master());

  Open();
  tio = LineOf(pty.Master());
  EXPECT_EQ(0u, tio.c_iflag & (IXON | IXOFF | IXANY | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK | BRKINT));
  EXPECT_EQ(0u, tio.c_oflag & OPOST);
  EXPECT_EQ(0u, tio.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN));
  EXPECT_EQ(static_cast<tcflag_t>(CS8), tio.c_cflag & CSIZE);
  EXPECT_EQ(0u, tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_EQ(static_cast<tcflag_t>(CLOCAL | CREAD), tio.c_cflag & (CLOCAL | CREAD));
  EXPECT_EQ(1, tio.c_cc[VMIN]);
  EXPECT_EQ(0, tio.c_cc[VTIME]);

  // Closed, even after a rate change, the line has the settings it was
  // found with, and the exclusive claim on it is gone: exclusivity belongs to
  // the terminal, and the handset's end still holds it.
  SetHostBaud(link, kBaud921600);
  ClosePort(link);
  tio = LineOf(pty.Master());
  EXPECT_EQ(0, std::memcmp(&found, &tio, sizeof tio));
  int excl = 1;
  ASSERT_EQ(0, ::ioctl(held, TIOCGEXCL, &excl));
  EXPECT_EQ(0, excl);
  EXPECT_EQ(Result::Ok, OpenPort(link));
}

TEST_F(LinkPty, EveryBaudCodeOpensAtItsRate) {
  for (uint8_t code : {kBaud115200, kBaud460800, kBaud921600, kBaud812000}) {
    SCOPED_TRACE(code);
    link.baudCode = code;
    ASSERT_EQ(Result::Ok, OpenPort(link));
    EXPECT_EQ(BaudCodeToRate(code), LineOf(pty.Master()).c_ospeed);
    EXPECT_EQ(BaudCodeToRate(code), LineOf(pty.Master()).c_ispeed);
    EXPECT_EQ(BaudCodeToRate(code), link.rate);
    EXPECT_EQ(BaudCodeToRate(code), link.port->Rate());
    ClosePort(link);
    EXPECT_FALSE(link.IsOpen());
  }
}

TEST_F(LinkPty, BaudCodeWithoutRateIsRefusedAndPortClosedAgain) {
  link.baudCode = 0x89;
  EXPECT_EQ(Result::InvalidValue, OpenPort(link));
  EXPECT_FALSE(link.IsOpen());
  // The device is free again.
  link.baudCode = kBaud115200;
  EXPECT_EQ(Result::Ok, OpenPort(link));
}

TEST_F(LinkPty, SetHostBaudReturnsThePreviousCode) {
  Open();
  EXPECT_EQ(kBaud115200, SetHostBaud(link, kBaud921600));
  EXPECT_EQ(921600u, LineOf(pty.Master()).c_ospeed);
  EXPECT_EQ(921600u, link.rate);
  EXPECT_EQ(kBaud921600, SetHostBaud(link, kBaud812000));
  EXPECT_EQ(812000u, LineOf(pty.Master()).c_ospeed);
  EXPECT_EQ(kBaud812000, SetHostBaud(link, kBaud460800));

  // A code without a rate leaves the port alone; the record's rate is 0.
  EXPECT_EQ(kSetHostBaudInvalid, SetHostBaud(link, 0x8C));
  EXPECT_EQ(0u, link.rate);
  EXPECT_EQ(460800u, LineOf(pty.Master()).c_ospeed);
  // The next call reads the rate from the port again.
  EXPECT_EQ(kBaud460800, SetHostBaud(link, kBaud115200));
  // The rate change purged what was waiting.
  ASSERT_TRUE(pty.Write(Bytes({1, 2, 3})));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  SetHostBaud(link, kBaud115200);
  uint8_t b;
  EXPECT_EQ(Result::NoResponse, ReceiveExactly(link, &b, 1, 0));
}

TEST_F(LinkPty, PiecesWithinTheIdleBudgetArrive) {
  Open();
  // 1 byte, then 3 bytes after 4 nominal seconds (800 polls): fine with 6 s.
  std::atomic<bool> done{false};
  ASSERT_TRUE(pty.Write(Bytes({0x11})));
  std::thread handset([&] {
    if (WaitForPolls(800, done)) pty.Write(Bytes({0x22, 0x33, 0x44}));
  });
  uint8_t got[4] = {};
  EXPECT_EQ(Result::Ok, ReceiveExactly(link, got, 4, 6));
  done = true;
  handset.join();
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), std::vector<uint8_t>(got, got + 4));
  EXPECT_GE(timing::RecordedPollCount(), 800u);
  EXPECT_LT(timing::RecordedPollCount(), 1201u);
}

TEST_F(LinkPty, StallPastTheBudgetGivesNoResponseAfterBudgetPlusOnePolls) {
  Open();
  // Same pieces, but the 3 s budget runs out first: 600 + 1 empty polls.
  std::atomic<bool> done{false};
  ASSERT_TRUE(pty.Write(Bytes({0x11})));
  std::thread handset([&] {
    if (WaitForPolls(800, done)) pty.Write(Bytes({0x22, 0x33, 0x44}));
  });
  uint8_t got[4] = {};
  EXPECT_EQ(Result::NoResponse, ReceiveExactly(link, got, 4, 3));
  done = true;
  handset.join();
  EXPECT_EQ(601u, timing::RecordedPollCount());
  EXPECT_EQ(0x11, got[0]);  // consumed, and lost to the caller
  EXPECT_TRUE(link.IsOpen());
}

TEST_F(LinkPty, IdleZeroFailsOnTheFirstEmptyPoll) {
  Open();
  uint8_t b;
  EXPECT_EQ(Result::NoResponse, ReceiveExactly(link, &b, 1, 0));
  EXPECT_EQ(1u, timing::RecordedPollCount());
}

TEST_F(LinkPty, SendAllStallsWhenTheHandsetStopsReading) {
  Open();
  // The handset never reads: once the terminal's buffers are full the writes
  // make no progress and the 1 s budget (200 + 1 polls) runs out. The
  // terminal may still take a few bytes after the first empty polls, which
  // starts the count again, so only the least number of polls is certain.
  std::vector<uint8_t> data(1 << 20, 0x5A);
  EXPECT_EQ(Result::NoResponse, SendAll(link, data.data(), static_cast<uint32_t>(data.size()), 1));
  EXPECT_GE(timing::RecordedPollCount(), 201u);
  EXPECT_TRUE(link.IsOpen());
}

TEST_F(LinkPty, HangupGivesComPortErrorAtOnce) {
  Open();
  pty.CloseMaster();
  uint8_t buf[4];
  EXPECT_EQ(Result::ComPort, ReceiveExactly(link, buf, 4, kIdleEraseLongSec));
  EXPECT_TRUE(link.lastErrno == EIO || link.lastErrno == ENXIO) << link.lastErrno;
  EXPECT_LE(timing::RecordedPollCount(), 1u);
  link.lastErrno = 0;
  EXPECT_EQ(Result::ComPort, SendAll(link, buf, 4, kIdleEraseLongSec));
  EXPECT_NE(0, link.lastErrno);
}

TEST_F(LinkPty, HangupDuringAWaitEndsTheWait) {
  Open();
  std::atomic<bool> done{false};
  std::thread handset([&] {
    WaitForPolls(50, done);
    pty.CloseMaster();
  });
  uint8_t buf[4];
  EXPECT_EQ(Result::ComPort, ReceiveExactly(link, buf, 4, kIdleEraseLongSec));
  done = true;
  handset.join();
  EXPECT_LT(timing::RecordedPollCount(), 1000u);
}

TEST_F(LinkPty, StopEndsTransfersAndNoWriteStartsAfterIt) {
  Open();
  std::atomic<bool> done{false};
  std::thread canceller([&] {
    WaitForPolls(20, done);
    stop::Request();
  });
  uint8_t buf[4];
  EXPECT_EQ(Result::ComPort, ReceiveExactly(link, buf, 4, kIdleEraseLongSec));
  done = true;
  canceller.join();
  EXPECT_EQ(ECANCELED, link.lastErrno);

  EXPECT_EQ(Result::ComPort, SendAll(link, buf, 4, kIdleDefaultSec));
  uint32_t written = 99;
  EXPECT_EQ(Result::ComPort, WritePort(link, buf, 4, &written));
  EXPECT_EQ(0u, written);
  EXPECT_TRUE(pty.Drain(20).empty());
}

TEST_F(LinkPty, SecondOpenInThisProcessIsRefusedAfterAllAttempts) {
  Open();
  ComLink second;
  second.SetPortName("COM7");
  second.baudCode = kBaud115200;
  EXPECT_EQ(Result::ComPort, OpenPort(second));
  EXPECT_FALSE(second.IsOpen());
  EXPECT_EQ(EBUSY, second.lastErrno);
  EXPECT_EQ(std::vector<unsigned>(kOpenAttempts, kOpenRetryPauseMs), test::PausesTagged("OpenPort"));
  EXPECT_TRUE(traces.Contains("busy, held by process " + std::to_string(::getpid()))) << traces.Text();

  // Once the first one lets go, the device opens again.
  ClosePort(link);
  EXPECT_EQ(Result::Ok, OpenPort(second));
  ClosePort(second);
}

TEST_F(LinkPty, DeviceFreedDuringTheRetriesOpens) {
  ComLink holder;
  holder.SetPortName("COM7");
  holder.baudCode = kBaud115200;
  ASSERT_EQ(Result::Ok, OpenPort(holder));
  timing::ClearRecording();
  // Retry pauses of 5 ms real time; the holder lets go after ten attempts.
  timing::SetPauseScale(0.05);
  std::atomic<bool> done{false};
  std::thread release([&] {
    while (!done && test::PausesTagged("OpenPort").size() < 10) std::this_thread::sleep_for(std::chrono::microseconds(200));
    holder.port->Close();
  });
  EXPECT_EQ(Result::Ok, OpenPort(link));
  done = true;
  release.join();
  const size_t attempts = test::PausesTagged("OpenPort").size();
  EXPECT_GT(attempts, 10u);
  EXPECT_LT(attempts, static_cast<size_t>(kOpenAttempts));
  EXPECT_TRUE(traces.Contains("retrying")) << traces.Text();
}

TEST_F(LinkPty, OpenHeldByAnotherProcessIsRefusedAndTheHolderNamed) {
  int toParent[2], toChild[2];
  ASSERT_EQ(0, ::pipe(toParent));
  ASSERT_EQ(0, ::pipe(toChild));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    MuteTraces();
    ComLink held;
    held.SetPortName("COM7");
    held.baudCode = kBaud115200;
    const char ok = OpenPort(held) == Result::Ok ? 'y' : 'n';
    (void)!::write(toParent[1], &ok, 1);
    char c;
    (void)!::read(toChild[0], &c, 1);
    ::_exit(0);
  }
  char ok = 0;
  ASSERT_EQ(1, ::read(toParent[0], &ok, 1));
  EXPECT_EQ('y', ok);
  EXPECT_EQ(Result::ComPort, OpenPort(link));
  EXPECT_EQ(EBUSY, link.lastErrno);
  EXPECT_TRUE(traces.Contains("held by process " + std::to_string(child))) << traces.Text();
  (void)!::write(toChild[1], "x", 1);
  int status = 0;
  ::waitpid(child, &status, 0);
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) ::close(fd);
  // The child's exit released the device.
  EXPECT_EQ(Result::Ok, OpenPort(link));
}

TEST_F(LinkPty, PermissionDeniedNamesTheGroupThatGrantsAccess) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to an unprivileged user";
  // Only a group meant for serial ports is offered (joining another hands
  // out far more than a port): give the terminal one, as udev gives serial ports.
  const group* gr = nullptr;
  for (const char* name : {"dialout", "uucp", "plugdev"})
    if ((gr = ::getgrnam(name)) != nullptr) break;
  ASSERT_NE(nullptr, gr);
  ASSERT_EQ(0, ::chown(pty.SlavePath().c_str(), static_cast<uid_t>(-1), gr->gr_gid));
  const std::string groupName = gr->gr_name;
  int toParent[2];
  ASSERT_EQ(0, ::pipe(toParent));
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    std::string text;
    SetTraceSink([&](std::string_view line) { text.append(line).append("\n"); });
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    const Result rc = OpenPort(link);
    text = std::to_string(ResultNumber(rc)) + " " + std::to_string(link.lastErrno) + "\n" + text;
    (void)!::write(toParent[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(toParent[1]);
  std::string report;
  char buf[512];
  for (ssize_t n; (n = ::read(toParent[0], buf, sizeof buf)) > 0;) report.append(buf, static_cast<size_t>(n));
  ::close(toParent[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(0u, report.rfind("210 " + std::to_string(EACCES) + "\n", 0)) << report;
  EXPECT_NE(std::string::npos, report.find("permission denied")) << report;
  EXPECT_NE(std::string::npos, report.find("group '" + groupName + "'")) << report;
}

TEST_F(LinkPty, MissingDeviceIsNamedInTheTrace) {
  SetComOverride("COM7", config.Root() + "/no-such-tty");
  EXPECT_EQ(Result::ComPort, OpenPort(link));
  EXPECT_EQ(ENOENT, link.lastErrno);
  EXPECT_EQ(static_cast<size_t>(kOpenAttempts), test::PausesTagged("OpenPort").size());
  EXPECT_TRUE(traces.Contains("no such device")) << traces.Text();
}

TEST_F(LinkPty, OpenAndCloseTakeTheirPauses) {
  LinkPtr persistent = OpenLink("COM7", kBaud115200);
  ASSERT_NE(nullptr, persistent);
  EXPECT_EQ((std::vector<std::string>{"OpenPort:100", "OpenLink:1000"}), test::PauseLog());
  timing::ClearRecording();
  CloseLink(persistent);
  EXPECT_EQ(nullptr, persistent);
  EXPECT_EQ((std::vector<std::string>{"CloseLink:250", "ClosePort:1000"}), test::PauseLog());

  // A closed record still costs ClosePort's second.
  timing::ClearRecording();
  ComLink closed;
  ClosePort(closed);
  EXPECT_EQ((std::vector<std::string>{"ClosePort:1000"}), test::PauseLog());

  // A link that cannot open is not returned, and costs no settle time.
  timing::ClearRecording();
  SetComOverride("COM7", config.Root() + "/no-such-tty");
  EXPECT_EQ(nullptr, OpenLink("COM7", kBaud115200));
  EXPECT_TRUE(test::PausesTagged("OpenLink").empty());
  LinkPtr none;
  CloseLink(none);
}

TEST_F(LinkPty, ClosedLinkRefusesTransfers) {
  uint8_t b = 0;
  EXPECT_EQ(Result::ComPort, SendAll(link, &b, 1, kIdleDefaultSec));
  EXPECT_EQ(EBADF, link.lastErrno);
  EXPECT_EQ(Result::ComPort, ReceiveExactly(link, &b, 1, kIdleDefaultSec));
}

}  // namespace
}  // namespace vantrel
