#pragma once
// The handset's end of a real pseudo-terminal, played by a script on its own
// thread, for the exchanges that need exact bytes or a handset that misbehaves
// in one particular way (wrong answers, stray bytes, silence at chosen
// moments). The link reaches it under a COM name mapped for this process.
//
// A script either pulls (Play: it reads what it expects and answers in turn)
// or is pushed every byte the host sends (SetScript, then Start).
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/PtyPair.h"

namespace vantrel::test {

using Bytes = std::vector<uint8_t>;

class ScriptedHandset {
 public:
  static constexpr const char* kComName = "COM9";
  using OnByte = std::function<void(uint8_t byte, ScriptedHandset& handset)>;

  explicit ScriptedHandset(const std::string& comName = kComName);
  ~ScriptedHandset();
  ScriptedHandset(const ScriptedHandset&) = delete;
  ScriptedHandset& operator=(const ScriptedHandset&) = delete;

  // Plays `script` on the handset's thread until it returns. A script that
  // cannot go on (the host sent too little, or the script threw) ends there
  // with a test failure instead of taking the test program down.
  void Play(std::function<void(ScriptedHandset&)> script);
  void Join();

  // Handset side, for a played script.
  Bytes Read(size_t count, int timeoutMs = 3000);
  // Reads exactly `count` bytes; anything less ends the script (see Play),
  // so a script may index what it gets.
  Bytes Expect(size_t count, int timeoutMs = 5000);
  void Send(const Bytes& bytes);
  void SendByte(uint8_t byte) { Send(Bytes{byte}); }
  void SendWordBe(uint32_t word);
  // Says nothing for `ms`, and tells the link it waits: a host's idle budget
  // may run out meanwhile, as for a handset that has fallen silent.
  void Silence(int ms);
  // Everything the host sends until it has been quiet for `quietMs`.
  Bytes Drain(int quietMs = 100) { return pty_.Drain(quietMs); }
  // UART block request: 0x2E and the length; reads the block and its checksum
  // byte and echoes the checksum (or its complement when `badEcho`).
  Bytes ServeBlock(uint32_t length, bool badEcho = false);

  // Byte-driven handset. Bytes sent every 20 ms, at most `repeats` times,
  // until the host sends its first byte (so that the host's purge on open
  // cannot lose them all); empty: silence.
  void SetBootBytes(Bytes bytes, int repeats = 25);
  void SetScript(OnByte script);
  // From here on the handset tells the link when it waits, as the simulator
  // does (link/SimulatedLine.h): the link's purges, pauses and idle polls
  // then wait for it to take in what the host wrote, which with the host's
  // pauses scaled down it might not have done yet on a busy machine.
  void Start();
  // Everything the host sent so far.
  Bytes Received() const;
  size_t ReceivedCount() const;
  // Loader emulation: answers `deviceId` when the flash-type query of the
  // NAND (0xFFFF0007) or NOR (0xFFFF0003) loader arrives.
  void AnswerFlashTypeQueries(uint8_t deviceId);

  // The line rate of the pseudo-terminal as the host last set it (bit/s).
  uint32_t LineRate();

 private:
  void Run();
  // Fills the line's window-size record as the simulator does.
  void Tell(unsigned short activity);

  std::string comName_;
  uint32_t told_ = 0;
  PtyPair pty_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  mutable std::mutex mu_;
  Bytes received_;
  Bytes bootBytes_;
  int bootRepeats_ = 0;
  OnByte script_;
  int deviceId_ = -1;
};

// Big-endian words, as the handset's requests carry them.
Bytes WordsBe(std::initializer_list<uint32_t> words);

}  // namespace vantrel::test
