#include "tests/protocol/ProtocolFixture.h"

#include <fstream>

#include "link/ComNames.h"
#include "tests/support/ImageFiles.h"

namespace vantrel::test {

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
