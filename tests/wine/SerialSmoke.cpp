// The Win32 serial device under Wine against the Linux handset simulator on
// COM7 (serial-smoke.sh maps its pseudo-terminal there): the connect
// handshake goes through, a missing port fails with the Linux link's text,
// and a rate the driver does not take is a port error, never a silent
// fallback. Prints what it checks; exits 0 when all held.
#include <cstdio>
#include <string>

#include "link/ComLink.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"

namespace {

using namespace vantrel;

int g_failures = 0;

void Check(bool ok, const std::string& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what.c_str());
  if (!ok) ++g_failures;
}

uint8_t Receive(ComLink& link) {
  uint8_t byte = 0;
  return ReceiveExactly(link, &byte, 1, 6) == Result::Ok ? byte : 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  const std::string com = argc > 1 ? argv[1] : "COM7";

  // 50 attempts of 100 ms each are not what this checks.
  timing::SetPauseScale(0.02);
  ComLink absent;
  absent.SetPortName("COM42");
  absent.baudCode = kBaud115200;
  const bool refused = OpenPort(absent) == Result::ComPort;
  Check(refused && absent.openFailure == "\\\\.\\COM42: no such device (is the cable plugged in and the port mapped?)",
        "a missing port: " + absent.openFailure);
  timing::SetPauseScale(1.0);

  ComLink link;
  link.SetPortName(com);
  link.baudCode = kBaud115200;
  const bool opened = OpenPort(link) == Result::Ok;
  Check(opened, "open " + com + " " + link.openFailure);
  if (!link.IsOpen()) return 1;
  Check(link.rate == 115200, "the line runs at " + std::to_string(link.rate) + " bit/s");
  Check(Receive(link) == 0xA5, "the boot ROM's BOOT byte");
  const uint8_t start = 0xB9;
  Check(SendAll(link, &start, 1, 6) == Result::Ok && Receive(link) == 0xB9, "the start signal and its echo");

  (void)SetHostBaud(link, kBaud921600);
  Check(link.rate == 921600 && link.lineFault.empty(), "921600 bit/s taken: " + std::to_string(link.rate));
  (void)SetHostBaud(link, kBaud812000);
  Check(link.rate == 812000 || link.lineFault.find("did not take 812000 bit/s") != std::string::npos,
        "812000 bit/s taken or refused by name: " + (link.lineFault.empty() ? std::to_string(link.rate) : link.lineFault));
  ClosePort(link);
  return g_failures == 0 ? 0 : 1;
}
