// vantrel-sim: the handset simulator as a program, for trying the tool
// without a handset. See --help.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "sim/Simulator.h"

namespace {

using vantrel::sim::Fault;
using vantrel::sim::Options;
using vantrel::sim::Simulator;

const char kHelp[] =
    "Usage: vantrel-sim [options]\n"
    "\n"
    "Plays a handset on a pseudo-terminal: its boot ROM, the flash driver, the NOR and\n"
    "NAND flash loaders and their flash. Prints the COM name and the device it serves,\n"
    "then runs until it is interrupted (Ctrl+C, SIGTERM).\n"
    "\n"
    "Port and link:\n"
    "  --com N                  make COM<N> reach the simulator (a link in the tool's\n"
    "                           settings folder, $XDG_CONFIG_HOME/vantrel-downloader;\n"
    "                           only where nothing else holds that name)\n"
    "  --usb                    handset on USB: no BOOT byte, the first start signal is\n"
    "                           answered, line rates play no part\n"
    "  --pace                   deliver and accept bytes no faster than the line rate\n"
    "                           (rate / 10 bytes per second)\n"
    "\n"
    "Handset:\n"
    "  --state-dir DIR          keep the NAND and NOR contents in DIR (kept across runs);\n"
    "                           without it the flash lives in memory only\n"
    "  --boot-byte 0xA5|0x77    the boot ROM's BOOT byte (default 0xA5)\n"
    "  --nand-id ID             NAND flash-type answer (default 0xB1, \"ECB1\")\n"
    "  --nor-id ID              NOR flash-type answer (default 0x10, \"NQ4410TB 256\")\n"
    "  --block-size N           block length the programs ask for (default 0x20000)\n"
    "  --fallback-on-quiet      a loader returns to 115200 bit/s once the host closed\n"
    "                           the port and the line stayed quiet\n"
    "  --fallback-quiet-ms MS   how long the line must stay quiet (default 1500)\n"
    "  --time-scale X           scale of the handset's own delays: program start-up,\n"
    "                           erase time, power-on (default 1; 0 = instant)\n"
    "  --raw-address A          NAND address the raw read-back (0xCF 0xCC) sends from\n"
    "  --raw-length N           bytes the raw read-back sends (default 0x4000)\n"
    "\n"
    "Power:\n"
    "  --no-auto-power          do not switch the handset on when the tool opens the port\n"
    "  --power-on-delay MS      from the tool's open to the BOOT byte (default 0)\n"
    "  --power-cycle-when-quiet MS\n"
    "                           switch off and on again each time the line has been\n"
    "                           quiet for MS after some traffic\n"
    "  SIGUSR1                  power cycle (off, then on: the boot ROM sends its BOOT byte)\n"
    "  SIGUSR2                  power off\n"
    "  --control FIFO           read commands from the named pipe FIFO (created if\n"
    "                           missing), one per line: power-on, power-off,\n"
    "                           power-cycle, power-cycle-when-quiet MS, fault TEXT,\n"
    "                           clear-faults, quit\n"
    "\n"
    "Faults (repeatable; K counts occurrences from 1, default 1):\n"
    "  --fault silence:EVENT[:K]        from the K-th EVENT on, send nothing\n"
    "  --fault silence-after:EVENT[:K]  send the K-th EVENT, then nothing\n"
    "  --fault stray:EVENT:HH[,HH..][:K] send these bytes before the K-th EVENT\n"
    "  --fault bad-echo[:K]             wrong checksum echo for block K, then FP_Resend\n"
    "  --fault resend[:K]               FP_Resend for block K\n"
    "  --fault failed[:K]               FP_Failed for block K\n"
    "  --fault refuse[:K]               FP_AddrWrong for the K-th session or read-back\n"
    "  --fault too-large[:K]            FP_ImageTooLarge for the K-th session or read-back\n"
    "  --fault hangup[:K]               hang the line up in the middle of block K\n"
    "  --fault hangup-upload[:K]        hang the line up in the middle of the K-th upload\n"
    "  --fault flip:nand|nor:ADDR:BIT   that flash cell stores the bit inverted\n"
    "  EVENT is one of: boot, start-signal, speed-req, speed-chg-done, start-ok,\n"
    "  image-ok, block-request, echo, sector-ok, resend, failed, finished, refusal,\n"
    "  flash-type, erase-done, vlf-count, dump-block, raw-address, raw-length,\n"
    "  raw-ack, raw-data, or any.\n"
    "\n"
    "Output:\n"
    "  --transcript FILE        append one line per event to FILE\n"
    "  --verbose                also print the transcript on standard error\n"
    "  --turnaround-file FILE   at exit, write one line per answer the tool followed:\n"
    "                           when its next bytes arrived and how long after the\n"
    "                           answer (CLOCK_MONOTONIC nanoseconds, both)\n"
    "  -h, --help               this text\n";

std::atomic<bool> g_quit{false};

bool ParseNumber(const char* text, unsigned long long max, unsigned long long* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  const unsigned long long v = std::strtoull(text, &end, 0);
  if (errno != 0 || *end != '\0' || v > max) return false;
  *out = v;
  return true;
}

bool ParseDouble(const char* text, double* out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  const double v = std::strtod(text, &end);
  if (*end != '\0' || v < 0) return false;
  *out = v;
  return true;
}

void RunControl(Simulator& sim, const std::string& path) {
  if (::mkfifo(path.c_str(), 0600) != 0 && errno != EEXIST) {
    std::fprintf(stderr, "vantrel-sim: cannot make %s: %s\n", path.c_str(), std::strerror(errno));
    return;
  }
  // Opened for writing too, so that the pipe never reports end-of-file.
  std::FILE* in = std::fopen(path.c_str(), "r+");
  if (in == nullptr) {
    std::fprintf(stderr, "vantrel-sim: cannot open %s: %s\n", path.c_str(), std::strerror(errno));
    return;
  }
  char line[512];
  while (!g_quit && std::fgets(line, sizeof line, in) != nullptr) {
    std::string cmd = line;
    while (!cmd.empty() && (cmd.back() == '\n' || cmd.back() == '\r' || cmd.back() == ' ')) cmd.pop_back();
    if (cmd == "power-on") {
      sim.PowerOn();
    } else if (cmd == "power-off") {
      sim.PowerOff();
    } else if (cmd == "power-cycle") {
      sim.PowerCycle();
    } else if (cmd.rfind("power-cycle-when-quiet ", 0) == 0) {
      double ms = 0;
      if (ParseDouble(cmd.c_str() + 23, &ms)) sim.PowerCycleWhenQuiet(ms, true);
    } else if (cmd.rfind("fault ", 0) == 0) {
      Fault f;
      std::string error;
      if (Fault::Parse(cmd.substr(6), &f, &error)) {
        sim.AddFault(f);
      } else {
        std::fprintf(stderr, "vantrel-sim: %s\n", error.c_str());
      }
    } else if (cmd == "clear-faults") {
      sim.ClearFaults();
    } else if (cmd == "quit") {
      g_quit = true;
      ::kill(::getpid(), SIGTERM);
    } else if (!cmd.empty()) {
      std::fprintf(stderr, "vantrel-sim: unknown control command \"%s\"\n", cmd.c_str());
    }
  }
  std::fclose(in);
}

// One line per answer the host followed: "<CLOCK_MONOTONIC ns> <turnaround ns>".
void WriteTurnarounds(const Simulator& sim, const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "w");
  if (f == nullptr) {
    std::fprintf(stderr, "vantrel-sim: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return;
  }
  for (const auto& t : sim.Turnarounds()) {
    std::fprintf(f, "%lld %lld\n", static_cast<long long>(t.atNs), static_cast<long long>(t.ns));
  }
  std::fclose(f);
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string control;
  std::string turnaroundFile;
  double quietCycleMs = 0;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long long n = 0;
    double d = 0;
    auto need = [&](bool ok) {
      if (!ok) {
        std::fprintf(stderr, "vantrel-sim: bad or missing value for %s (see --help)\n", a.c_str());
        std::exit(2);
      }
      ++i;
    };
    if (a == "--help" || a == "-h") {
      std::fputs(kHelp, stdout);
      return 0;
    } else if (a == "--com") {
      need(ParseNumber(v, 50, &n) && n >= 1);
      o.comNumber = static_cast<int>(n);
    } else if (a == "--state-dir") {
      need(v != nullptr && *v != '\0');
      o.stateDir = v;
    } else if (a == "--usb") {
      o.usb = true;
    } else if (a == "--pace") {
      o.pacing = true;
    } else if (a == "--boot-byte") {
      need(ParseNumber(v, 0xFF, &n) && (n == 0xA5 || n == 0x77));
      o.bootByte = static_cast<uint8_t>(n);
    } else if (a == "--nand-id") {
      need(ParseNumber(v, 0xFF, &n));
      o.nandDeviceId = static_cast<uint8_t>(n);
    } else if (a == "--nor-id") {
      need(ParseNumber(v, 0xFF, &n));
      o.norDeviceId = static_cast<uint8_t>(n);
    } else if (a == "--block-size") {
      need(ParseNumber(v, 0x40000, &n) && n >= 1);
      o.blockSize = static_cast<uint32_t>(n);
    } else if (a == "--fallback-on-quiet") {
      o.fallbackOnQuiet = true;
    } else if (a == "--fallback-quiet-ms") {
      need(ParseDouble(v, &d));
      o.fallbackQuietMs = d;
    } else if (a == "--time-scale") {
      need(ParseDouble(v, &d));
      o.timeScale = d;
    } else if (a == "--raw-address") {
      need(ParseNumber(v, vantrel::sim::kNandBytes - 1, &n));
      o.rawAddress = static_cast<uint32_t>(n);
    } else if (a == "--raw-length") {
      need(ParseNumber(v, vantrel::sim::kNandBytes, &n));
      o.rawLength = static_cast<uint32_t>(n);
    } else if (a == "--no-auto-power") {
      o.autoPowerOn = false;
    } else if (a == "--power-on-delay") {
      need(ParseDouble(v, &d));
      o.powerOnDelayMs = d;
    } else if (a == "--power-cycle-when-quiet") {
      need(ParseDouble(v, &d) && d > 0);
      quietCycleMs = d;
    } else if (a == "--control") {
      need(v != nullptr && *v != '\0');
      control = v;
    } else if (a == "--fault") {
      Fault f;
      std::string error;
      need(v != nullptr && Fault::Parse(v, &f, &error));
      o.faults.push_back(f);
    } else if (a == "--transcript") {
      need(v != nullptr && *v != '\0');
      o.transcriptFile = v;
    } else if (a == "--turnaround-file") {
      need(v != nullptr && *v != '\0');
      turnaroundFile = v;
    } else if (a == "--verbose") {
      o.echoTranscript = true;
    } else {
      std::fprintf(stderr, "vantrel-sim: unknown option %s (see --help)\n", a.c_str());
      return 2;
    }
  }
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);

  Simulator sim(o);
  std::string error;
  if (const int rc = sim.Start(&error); rc != 0) {
    std::fprintf(stderr, "vantrel-sim: %s\n", error.c_str());
    return 1;
  }
  if (quietCycleMs > 0) sim.PowerCycleWhenQuiet(quietCycleMs, true);
  if (!sim.ComName().empty()) {
    std::printf("%s -> %s\n", sim.ComName().c_str(), sim.DevicePath().c_str());
  } else {
    std::printf("%s\n", sim.DevicePath().c_str());
  }
  std::printf("handset off; it switches on when the tool opens the port%s. Ctrl+C ends.\n",
              o.autoPowerOn ? "" : " (disabled: send SIGUSR1)");
  std::fflush(stdout);

  std::thread controlThread;
  if (!control.empty()) {
    controlThread = std::thread([&] { RunControl(sim, control); });
    controlThread.detach();
  }

  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (sig == SIGUSR1) {
      sim.PowerCycle();
    } else if (sig == SIGUSR2) {
      sim.PowerOff();
    } else {
      break;
    }
  }
  g_quit = true;
  const auto violations = sim.Violations();
  sim.Stop();
  if (!turnaroundFile.empty()) WriteTurnarounds(sim, turnaroundFile);
  if (!violations.empty()) {
    std::fprintf(stderr, "vantrel-sim: %zu protocol violation(s) by the host:\n", violations.size());
    for (const auto& v : violations) std::fprintf(stderr, "  %s\n", v.c_str());
  }
  return 0;
}
