#pragma once
// The handset's end of a real pseudo-terminal, played by a script on its own
// thread, for the exchanges that need exact bytes or a handset that misbehaves
// in one particular way. The link reaches it as "COM9".
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/ComLink.h"
#include "protocol/BlockLayer.h"
#include "tests/support/FastTiming.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ScratchConfig.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {

using Bytes = std::vector<uint8_t>;

class ScriptedHandset {
 public:
  static constexpr const char* kComName = "COM9";

  ScriptedHandset();
  ~ScriptedHandset();

  // Plays `script` on the handset's thread until it returns. A script that
  // cannot go on (the host sent too little, or the script threw) ends there
  // with a test failure instead of taking the test program down.
  void Play(std::function<void(ScriptedHandset&)> script);
  void Join();

  // Handset side.
  Bytes Read(size_t count, int timeoutMs = 3000);
  // Reads exactly `count` bytes; anything less ends the script (see Play),
  // so a script may index what it gets.
  Bytes Expect(size_t count, int timeoutMs = 5000);
  void Send(const Bytes& bytes);
  void SendByte(uint8_t byte) { Send(Bytes{byte}); }
  void SendWordBe(uint32_t word);
  // Everything the host sends until it has been quiet for `quietMs`.
  Bytes Drain(int quietMs = 100) { return pty_.Drain(quietMs); }

  // UART block request: 0x2E and the length; reads the block and its checksum
  // byte and echoes the checksum (or its complement when `badEcho`).
  Bytes ServeBlock(uint32_t length, bool badEcho = false);

 private:
  PtyPair pty_;
  std::thread thread_;
};

// One call of the progress callback.
using ProgressCall = std::tuple<int, int, uint32_t, uint32_t, int>;

struct ProgressLog {
  std::vector<ProgressCall> calls;
  ProgressCallBack Callback() {
    return [this](uint8_t step, uint8_t status, uint32_t code, uint32_t value, uint8_t erase) {
      calls.emplace_back(step, status, code, value, erase);
    };
  }
  // Only the calls with this (step, status).
  std::vector<ProgressCall> Only(int step, int status) const;
};

// Fast timing, a scratch settings folder, captured traces and a closed link
// record named after the scripted handset's port.
class ProtocolTest : public FastTiming {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the record's port at `code`, as a job's persistent link would be.
  void OpenAt(uint8_t code);
  // Writes a scratch file and returns its path.
  std::string WriteFile(const std::string& name, const Bytes& bytes);

  ScratchConfig scratch_;
  TraceCapture traces_;
  ComLink link_;
  TargetSession session_;
  ProgressLog progress_;
};

// Record file helpers: (address, length, data) records, little-endian headers.
Bytes Record(uint32_t address, const Bytes& data);
Bytes Pattern(size_t length, uint8_t seed);
Bytes Concat(std::initializer_list<Bytes> parts);
uint8_t Sum8(const Bytes& bytes);
Bytes WordsBe(std::initializer_list<uint32_t> words);

}  // namespace vantrel::test
