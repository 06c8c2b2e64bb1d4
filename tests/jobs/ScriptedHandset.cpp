#include "tests/jobs/ScriptedHandset.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "link/ComNames.h"

namespace vantrel::test {

namespace {

const uint8_t kNandQuery[16] = {0xFF, 0xFF, 0x00, 0x07, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x00, 0xFF, 0x00};
const uint8_t kNorQuery[16] = {0xFF, 0xFF, 0x00, 0x03, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0x00, 0xFF, 0x00};

bool EndsWith(const std::vector<uint8_t>& v, const uint8_t (&tail)[16]) {
  return v.size() >= 16 && std::equal(v.end() - 16, v.end(), tail);
}

}  // namespace

ScriptedHandset::ScriptedHandset(const std::string& comName) : comName_(comName) {
  // The host's close must not hang up the line; and the line starts raw, so
  // that nothing the handset sends before the host opens is echoed back.
  termios t{};
  const int slave = pty_.HoldSlave();
  if (::tcgetattr(slave, &t) == 0) {
    ::cfmakeraw(&t);
    ::cfsetspeed(&t, B115200);
    ::tcsetattr(slave, TCSANOW, &t);
  }
  SetComOverride(comName_, pty_.SlavePath());
  {
    std::lock_guard<std::mutex> lock(tap_->mutex);
    tap_->devicePath = pty_.SlavePath();
  }
  RegisterHostTap(tap_);
}

ScriptedHandset::~ScriptedHandset() {
  quit_ = true;
  if (thread_.joinable()) thread_.join();
  UnregisterHostTap(tap_);
  SetComOverride(comName_, "");
}

void ScriptedHandset::SetBootBytes(std::vector<uint8_t> bytes, int repeats) {
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

void ScriptedHandset::Start() { thread_ = std::thread([this] { Run(); }); }

void ScriptedHandset::Send(const std::vector<uint8_t>& bytes) { pty_.Write(bytes); }

std::vector<uint8_t> ScriptedHandset::Received() const {
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
    auto bytes = pty_.Read(4096, 5);
    for (uint8_t b : bytes) {
      heardHost = true;
      bool query = false;
      {
        std::lock_guard<std::mutex> lock(mu_);
        received_.push_back(b);
        ++tap_->taken;
        query = deviceId_ >= 0 && (EndsWith(received_, kNandQuery) || EndsWith(received_, kNorQuery));
      }
      if (query) pty_.Write(std::vector<uint8_t>{static_cast<uint8_t>(deviceId_)});
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

}  // namespace vantrel::test
