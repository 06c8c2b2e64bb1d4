#pragma once
// Counts what the tool puts on the line and takes off it, as line time: each
// byte costs 10 bit times (8N1) at the rate the port has when it moves. The
// sum over both directions is the time the wire itself needs for a run.
#include <atomic>
#include <cstdint>
#include <memory>

#include "link/SerialDevice.h"

namespace vantrel::bench {

struct LineTally {
  std::atomic<uint64_t> bytesOut{0};
  std::atomic<uint64_t> bytesIn{0};
  std::atomic<uint64_t> lineNs{0};  // line time of every byte counted

  void Reset() {
    bytesOut = 0;
    bytesIn = 0;
    lineNs = 0;
  }
};

// Installs a serial factory whose devices report to `tally` (the tally must
// outlive every device). Uninstall() restores the plain termios devices.
void InstallLineMeter(LineTally* tally);
void UninstallLineMeter();

}  // namespace vantrel::bench
