#pragma once
// The scripted faults of a running simulator and their occurrence counters.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/Simulator.h"

namespace vantrel::sim {

class FaultBook {
 public:
  // What the handset does with one answer it is about to send.
  struct SendPlan {
    std::vector<uint8_t> strayBefore;
    bool suppress = false;   // this answer is not sent
    bool muteAfter = false;  // nothing is sent after it (until power-off)
    std::vector<std::string> fired;  // descriptions, for the transcript
  };
  enum class BlockAction { None, BadEcho, Resend, Failed, HangUp };
  enum class SessionAction { None, RefuseAddress, TooLarge };

  void Add(const Fault& fault);
  void Clear();

  // Each call counts one occurrence of `event`.
  SendPlan PlanSend(const std::string& event);
  // Each call counts one data block (received or sent).
  BlockAction Block(std::string* fired);
  // Each call counts one raw upload; true: hang the line up in its middle.
  bool Upload(std::string* fired);
  // Each call counts one session start or read-back.
  SessionAction Session(std::string* fired);
  // Applies worn cells to bytes about to be stored at `address`.
  void ApplyFlips(FlashPart part, uint32_t address, uint8_t* data, size_t length);

 private:
  struct Entry {
    Fault fault;
    uint32_t seen = 0;
    bool done = false;
  };
  std::mutex mutex_;
  std::vector<Entry> entries_;
};

}  // namespace vantrel::sim
