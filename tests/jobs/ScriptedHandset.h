#pragma once
// A scripted handset on the master side of a pseudo-terminal, for the boot
// ROM handshake paths the simulator has no reason to play (wrong answers,
// stray bytes, silence at chosen moments). A thread reads what the host sends
// and hands every byte to the test's script, which answers with Send().
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/HostLinkTap.h"
#include "tests/support/PtyPair.h"

namespace vantrel::test {

class ScriptedHandset {
 public:
  using OnByte = std::function<void(uint8_t byte, ScriptedHandset& handset)>;

  // Maps `comName` ("COM7") to the pseudo-terminal for this process. While
  // it lives, the link's purges (on open, close and rate changes) first wait
  // briefly until this handset has read what the host wrote: with the host's
  // pauses scaled down, a purge would otherwise discard bytes a real line had
  // long delivered.
  explicit ScriptedHandset(const std::string& comName);
  ~ScriptedHandset();

  // Bytes sent every 20 ms, at most `repeats` times, until the host sends
  // its first byte (so that the host's purge on open cannot lose them all);
  // empty: silence.
  void SetBootBytes(std::vector<uint8_t> bytes, int repeats = 25);
  void SetScript(OnByte script);
  void Start();
  void Send(const std::vector<uint8_t>& bytes);

  // Everything the host sent so far.
  std::vector<uint8_t> Received() const;
  size_t ReceivedCount() const;

  // The line rate of the pseudo-terminal as the host last set it (bit/s).
  uint32_t LineRate();

  // Loader emulation: answers `deviceId` when the flash-type query of the
  // NAND (0xFFFF0007) or NOR (0xFFFF0003) loader arrives.
  void AnswerFlashTypeQueries(uint8_t deviceId);

 private:
  void Run();

  std::string comName_;
  // Counts what this handset has read, for the link's waits before a purge.
  std::shared_ptr<sim::HostTap> tap_ = std::make_shared<sim::HostTap>();
  PtyPair pty_;
  std::thread thread_;
  std::atomic<bool> quit_{false};
  mutable std::mutex mu_;
  std::vector<uint8_t> received_;
  std::vector<uint8_t> bootBytes_;
  int bootRepeats_ = 0;
  OnByte script_;
  int deviceId_ = -1;
};

}  // namespace vantrel::test
