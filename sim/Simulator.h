#pragma once
// The handset simulator: a handset on the far end of a pseudo-terminal, seen
// from the wire. It plays the boot ROM, the flash driver and the NOR and NAND
// flash loaders, keeps a sparse NAND (128 MiB) and NOR (32 MiB) flash, models
// the line rates of both ends, writes a transcript of every exchange and lists
// the host's protocol violations.
//
// Typical test use (see tests/support/SimFixture.h for a ready fixture):
//
//   vantrel::sim::Options o;
//   o.comNumber = 7;                         // "COM7" now reaches the handset
//   vantrel::sim::Simulator sim(o);
//   std::string err;
//   ASSERT_EQ(sim.Start(&err), 0) << err;
//   ... run the host's code against "COM7" ...
//   EXPECT_TRUE(sim.Violations().empty());
//
// The handset is switched off when Start() returns. By default it is switched
// on when the host first opens the port (see Options::autoPowerOn); the boot
// ROM then sends its BOOT byte. sim/README.md describes the behaviour in full.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vantrel::sim {

// Flash parts.
inline constexpr uint32_t kNandBytes = 0x8000000;  // 128 MiB
inline constexpr uint32_t kNorBytes = 0x2000000;   // 32 MiB
inline constexpr uint32_t kNandEraseBlock = 0x20000;
inline constexpr uint32_t kNandBootArea = 0x80000;       // bootloader area erased by "erase bootloader"
inline constexpr uint32_t kNandVlfArea = 0x5000000;      // file-system (VLF) area, to the end of NAND
inline constexpr uint32_t kNorTopBootStart = 0x1FE0000;  // small (0x8000) sectors from here up
inline constexpr uint32_t kNorTopBootSector = 0x8000;

enum class FlashPart { Nand, Nor };

// A scripted misbehaviour of the handset. Occurrences are counted from the
// moment the fault is added; `occurrence` 1 is the first.
struct Fault {
  enum class Kind {
    Silence,       // from the `occurrence`-th `event` on (that answer included), send nothing
    SilenceAfter,  // send the `occurrence`-th `event`, then nothing
    BadEcho,       // block `occurrence`: echo a wrong checksum (then ask for the block again)
    Resend,        // block `occurrence`: answer FP_Resend
    Failed,        // block `occurrence`: answer FP_Failed
    Stray,         // send `bytes` before the `occurrence`-th `event`
    RefuseAddress, // the `occurrence`-th session start or read-back: FP_AddrWrong
    TooLarge,      // the `occurrence`-th session start or read-back: FP_ImageTooLarge
    HangUp,        // hang the line up in the middle of block `occurrence`
    FlipBit,       // flash cell at `address` of `part` stores bit `bit` inverted (echo stays right)
    HangUpUpload,  // hang the line up in the middle of raw upload `occurrence` (a program for the boot ROM or a loader)
  };
  Kind kind = Kind::Silence;
  std::string event;      // Silence, SilenceAfter, Stray: a handset event name (README)
  uint32_t occurrence = 1;
  std::vector<uint8_t> bytes;  // Stray
  FlashPart part = FlashPart::Nand;  // FlipBit
  uint32_t address = 0;              // FlipBit
  uint8_t bit = 0;                   // FlipBit

  // Parses the text form used by `vantrel-sim --fault` (see README), e.g.
  // "resend:2", "silence:speed-req", "stray:flash-type:00,00", "flip:nand:0x20010:3".
  // Returns false and fills `error` when the text is not understood.
  static bool Parse(const std::string& text, Fault* out, std::string* error);
  std::string ToString() const;
};

struct Options {
  // > 0: make COM<n> in the settings folder lead to the simulator's device.
  int comNumber = 0;
  // Folder for the flash contents (kept across restarts); empty: memory only.
  std::string stateDir;
  // USB link: no BOOT byte, the boot ROM answers the first start signal, line
  // rates play no part, the UART-form sessions carry no checksum byte.
  bool usb = false;
  uint8_t bootByte = 0xA5;  // or 0x77
  uint8_t nandDeviceId = 0xB1;  // answered to the NAND flash-type query ("ECB1")
  uint8_t norDeviceId = 0x10;   // answered to the NOR flash-type query ("NQ4410TB 256")
  // Block length the programs ask for (image sessions, NOR download, read-back).
  uint32_t blockSize = 0x20000;
  // Deliver and accept bytes no faster than rate / 10 per second.
  bool pacing = false;
  // A loader falls back to 115200 once the host has closed the port and the
  // line stayed quiet for `fallbackQuietMs` (scaled by timeScale).
  bool fallbackOnQuiet = false;
  double fallbackQuietMs = 1500;
  // Scale of the simulator's own delays (power-on, program start-up, erase
  // time). 0 makes them instant; the line itself is never slowed by it.
  double timeScale = 1.0;
  // Switch the handset on when the host opens the port while it is off, and
  // switch it off and on again when the host opens the port while the boot
  // ROM sits untouched (so that a connect always hears a BOOT byte).
  bool autoPowerOn = true;
  double powerOnDelayMs = 0;       // from the host's open to the BOOT byte
  double programStartMs = 300;     // uploaded program starts (host waits 2000/3000 ms)
  double eraseTimeMs = 2000;       // erase all / partial erase before 0x46 0xB9
  double loaderBaudSwitchMs = 100; // set-target-baud: the loader's own pause
  // Raw read-back exchange: the handset sends this NAND range.
  uint32_t rawAddress = 0;
  uint32_t rawLength = 0x4000;
  // One line per event also goes here (appended); empty: memory only.
  std::string transcriptFile;
  // Also print transcript lines to standard error.
  bool echoTranscript = false;
  std::vector<Fault> faults;
};

class Simulator {
 public:
  explicit Simulator(Options options);
  ~Simulator();  // Stop()
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Opens the pseudo-terminal, maps the COM name, loads the flash, starts the
  // handset's thread. 0 or an errno value (with a reason in `error`).
  int Start(std::string* error);
  // Ends the thread, closes the pseudo-terminal, removes the COM mapping.
  void Stop();
  bool Running() const;

  std::string DevicePath() const;  // e.g. /dev/pts/5 (changes after a hang-up)
  std::string ComName() const;     // "COM7", or empty without comNumber

  // Power, as the operator's switch. PowerCycle = off, then on.
  void PowerOn();
  void PowerOff();
  void PowerCycle();
  // Switch off and on again once neither side has sent anything for `ms` of
  // real time. `repeat`: re-arm after each cycle once the line was busy again.
  void PowerCycleWhenQuiet(double ms, bool repeat = false);

  // Flash access for tests (seeding and checking). Reads past the end give 0xFF.
  std::vector<uint8_t> ReadFlash(FlashPart part, uint32_t address, uint32_t length) const;
  void WriteFlash(FlashPart part, uint32_t address, const std::vector<uint8_t>& data);
  void EraseFlash(FlashPart part, uint32_t address, uint32_t length);
  std::vector<uint8_t> ReadNand(uint32_t address, uint32_t length) const {
    return ReadFlash(FlashPart::Nand, address, length);
  }
  std::vector<uint8_t> ReadNor(uint32_t address, uint32_t length) const {
    return ReadFlash(FlashPart::Nor, address, length);
  }
  void WriteNand(uint32_t address, const std::vector<uint8_t>& data) { WriteFlash(FlashPart::Nand, address, data); }
  void WriteNor(uint32_t address, const std::vector<uint8_t>& data) { WriteFlash(FlashPart::Nor, address, data); }

  void AddFault(const Fault& fault);
  void ClearFaults();

  // One line per event: time, direction, bytes, host and handset rates, meaning.
  std::vector<std::string> Transcript() const;
  // Protocol violations by the host, one text each.
  std::vector<std::string> Violations() const;
  void ClearViolations();
  // Blocks until a transcript line containing `text` appears (true) or
  // `timeoutMs` of real time passed (false).
  bool WaitForTranscript(const std::string& text, int timeoutMs) const;

  // How fast the host answers: one entry for every answer of the handset that
  // the host followed with bytes of its own. `atNs`: when those bytes arrived
  // (steady clock, i.e. CLOCK_MONOTONIC, comparable across processes); `ns`:
  // how long after the answer's last byte went out.
  struct Turnaround {
    int64_t atNs = 0;
    int64_t ns = 0;
  };
  std::vector<Turnaround> Turnarounds() const;

  uint32_t HandsetRate() const;    // the handset's own line rate in bit/s
  uint32_t HostRate() const;       // the host's rate as last seen on the line
  std::string StateName() const;   // "off", "boot-rom", "flash-driver", "nand-loader", "nor-loader", ...
  std::string LastDownloadDate() const;  // the eight digits of the last download-date command
  // Programs the boot ROM has started since Start(), in order, by payload name.
  std::vector<std::string> Uploads() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace vantrel::sim
