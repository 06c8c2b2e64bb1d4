#include "tests/protocol/ScriptedHandset.h"

#include <cstdio>
#include <fstream>
#include <stdexcept>

#include "link/ComNames.h"
#include "link/Stop.h"
#include "tests/support/ImageFiles.h"

namespace vantrel::test {
namespace {

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

ScriptedHandset::ScriptedHandset() {
  // Like the simulator, keep the slave open so that the host's close between
  // per-step routines never hangs up the line.
  pty_.HoldSlave();
  SetComOverride(kComName, pty_.SlavePath());
}

ScriptedHandset::~ScriptedHandset() {
  Join();
  SetComOverride(kComName, "");
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

Bytes ScriptedHandset::ServeBlock(uint32_t length, bool badEcho) {
  SendByte(0x2E);
  SendWordBe(length);
  Bytes block = Expect(length);
  const uint8_t sum = Expect(1)[0];
  SendByte(badEcho ? static_cast<uint8_t>(~sum) : sum);
  return block;
}

std::vector<ProgressCall> ProgressLog::Only(int step, int status) const {
  std::vector<ProgressCall> out;
  for (const auto& c : calls) {
    if (std::get<0>(c) == step && std::get<1>(c) == status) out.push_back(c);
  }
  return out;
}

void ProtocolTest::SetUp() {
  FastTiming::SetUp();
  // The scripted handset answers from its own thread; 6 s of silence is 0.6 s.
  timing::SetPollScale(0.1);
  link_.SetPortName(ScriptedHandset::kComName);
}

void ProtocolTest::TearDown() {
  if (link_.IsOpen()) ClosePort(link_);
  FastTiming::TearDown();
}

void ProtocolTest::OpenAt(uint8_t code) {
  link_.baudCode = code;
  ASSERT_EQ(OpenPort(link_), 0);
  timing::ClearRecording();  // the exchange's own pauses are what the tests look at
}

std::string ProtocolTest::WriteFile(const std::string& name, const Bytes& bytes) {
  const std::string path = scratch_.Root() + "/" + name;
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return path;
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

Bytes Record(uint32_t address, const Bytes& data) {
  Bytes out;
  const uint32_t length = static_cast<uint32_t>(data.size());
  for (uint32_t w : {address, length}) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
  }
  out.insert(out.end(), data.begin(), data.end());
  return out;
}

Bytes Pattern(size_t length, uint8_t seed) { return PatternBytes(length, seed, 1u, 0xFF); }

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

uint8_t Sum8(const Bytes& bytes) {
  uint8_t s = 0;
  for (uint8_t b : bytes) s = static_cast<uint8_t>(s + b);
  return s;
}

}  // namespace vantrel::test
