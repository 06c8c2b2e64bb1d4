#include "tests/support/ScriptedHandset.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "link/ComNames.h"
#include "link/SimulatedLine.h"

namespace vantrel::test {

namespace {

const uint8_t kNandQuery[16] = {0xFF, 0xFF, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x00, 0xFF, 0x00};
const uint8_t kNorQuery[16] = {0xFF, 0xFF, 0x00, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x00, 0xFF, 0x00};

bool EndsWith(const Bytes& v, const uint8_t (&tail)[16]) {
  return v.size() >= 16 && std::equal(v.end() - 16, v.end(), tail);
}

std::string Hex(const Bytes& bytes) {
  std::string out;
  char b[4];
  for (size_t i = 0; i < bytes.size() && i < 32; ++i) {
    std::snprintf(b, sizeof b, " %02X", bytes[i]);
    out += b;
  }
  return bytes.size() > 32 ? out + " ..." : out;
}

}  // namespace

ScriptedHandset::ScriptedHandset(const std::string& comName) : comName_(comName) {
  // Like the simulator, keep the slave open so that the host's close between
  // per-step routines never hangs up the line; and start it raw, so that
  // nothing the handset sends before the host opens is echoed back.
  termios t{};
  const int slave = pty_.HoldSlave();
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  SetComOverride(comName_, pty_.SlavePath());
}

ScriptedHandset::~ScriptedHandset() {
  quit_ = true;
  Join();
  SetComOverride(comName_, "");
}

void ScriptedHandset::Play(std::function<void(ScriptedHandset&)> script) {
  Join();
  thread_ = std::thread([this, script = std::move(script)] {
    try {
      script(*this);
    } catch (const std::exception& e) {
      ADD_FAILURE() << "the scripted handset stopped: " << e.what();
    }
  });
}

void ScriptedHandset::Join() {
  if (thread_.joinable()) thread_.join();
}

Bytes ScriptedHandset::Read(size_t count, int timeoutMs) { return pty_.Read(count, timeoutMs); }

Bytes ScriptedHandset::Expect(size_t count, int timeoutMs) {
  Bytes got = pty_.Read(count, timeoutMs);
  if (got.size() != count) {
    throw std::runtime_error("it expected " + std::to_string(count) + " bytes, the host sent " +
                             std::to_string(got.size()) + ":" + Hex(got));
  }
  return got;
}

void ScriptedHandset::Send(const Bytes& bytes) { EXPECT_TRUE(pty_.Write(bytes)); }

void ScriptedHandset::SendWordBe(uint32_t word) { Send(WordsBe({word})); }

void ScriptedHandset::Silence(int ms) {
  // Twice: a host counts a wait told twice since it last acted.
  for (int i = 0; i < 2; ++i) Tell(static_cast<unsigned short>(SimulatorActivity::AwaitsHost));
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  Tell(static_cast<unsigned short>(SimulatorActivity::Busy));
}

Bytes ScriptedHandset::ServeBlock(uint32_t length, bool badEcho) {
  SendByte(0x2E);
  SendWordBe(length);
  Bytes block = Expect(length);
  const uint8_t sum = Expect(1)[0];
  SendByte(badEcho ? static_cast<uint8_t>(~sum) : sum);
  return block;
}

void ScriptedHandset::SetBootBytes(Bytes bytes, int repeats) {
  bootBytes_ = std::move(bytes);
  bootRepeats_ = repeats;
}
void ScriptedHandset::SetScript(OnByte script) { script_ = std::move(script); }
void ScriptedHandset::AnswerFlashTypeQueries(uint8_t deviceId) { deviceId_ = deviceId; }

uint32_t ScriptedHandset::LineRate() {
  termios t{};
  if (::tcgetattr(pty_.HoldSlave(), &t) != 0) return 0;
  switch (::cfgetospeed(&t)) {
    case B115200: return 115200;
    case B460800: return 460800;
    case B921600: return 921600;
    default: return 1;
  }
}

void ScriptedHandset::Start() {
  // A link that opens the port from now on finds the handset's word there.
  Tell(static_cast<unsigned short>(SimulatorActivity::Busy));
  Join();
  thread_ = std::thread([this] { Run(); });
}

Bytes ScriptedHandset::Received() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_;
}

size_t ScriptedHandset::ReceivedCount() const {
  std::lock_guard<std::mutex> lock(mu_);
  return received_.size();
}

void ScriptedHandset::Run() {
  auto lastBoot = std::chrono::steady_clock::now() - std::chrono::seconds(1);
  bool heardHost = false;
  int sent = 0;
  while (!quit_) {
    if (!heardHost && !bootBytes_.empty() && sent < bootRepeats_ &&
        std::chrono::steady_clock::now() - lastBoot > std::chrono::milliseconds(20)) {
      pty_.Write(bootBytes_);
      ++sent;
      lastBoot = std::chrono::steady_clock::now();
    }
    // What has come first (a read also brings in what the kernel still
    // carries); only then does the handset say that it waits.
    auto bytes = pty_.Read(4096, 0);
    if (bytes.empty()) {
      const bool bootDue = !heardHost && !bootBytes_.empty() && sent < bootRepeats_;
      Tell(static_cast<unsigned short>(bootDue ? SimulatorActivity::AwaitsTimer : SimulatorActivity::AwaitsHost));
      bytes = pty_.Read(4096, 5);
      Tell(static_cast<unsigned short>(SimulatorActivity::Busy));
    }
    for (uint8_t b : bytes) {
      heardHost = true;
      bool query = false;
      {
        std::lock_guard<std::mutex> lock(mu_);
        received_.push_back(b);
        query = deviceId_ >= 0 && (EndsWith(received_, kNandQuery) || EndsWith(received_, kNorQuery));
      }
      if (query) pty_.Write(Bytes{static_cast<uint8_t>(deviceId_)});
      if (!script_) continue;
      // A script that throws stops answering, and the test fails with its
      // reason instead of the test program ending on the handset's thread.
      try {
        script_(b, *this);
      } catch (const std::exception& e) {
        ADD_FAILURE() << "the scripted handset stopped: " << e.what();
        script_ = nullptr;
      }
    }
  }
}

void ScriptedHandset::Tell(unsigned short activity) {
  ++told_;
  const winsize word{kSimulatorMark, activity, static_cast<unsigned short>(told_),
                     static_cast<unsigned short>(told_ >> 16)};
  ::ioctl(pty_.Master(), TIOCSWINSZ, &word);
}

Bytes WordsBe(std::initializer_list<uint32_t> words) {
  Bytes out;
  for (uint32_t w : words) {
    out.push_back(static_cast<uint8_t>(w >> 24));
    out.push_back(static_cast<uint8_t>(w >> 16));
    out.push_back(static_cast<uint8_t>(w >> 8));
    out.push_back(static_cast<uint8_t>(w));
  }
  return out;
}

}  // namespace vantrel::test
