#include "sim/Handset.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "sim/WireTable.h"

namespace vantrel::sim {
namespace {

namespace W = onwire;

// Longest pause the handset allows between two bytes of one unit of input,
// in real milliseconds. Within a command block the host sends everything at
// once; within a session it pauses (1000 ms before a block from a file, 450 ms
// before a NOR checksum) but never as long as its own 6 s budget.
constexpr double kUnitGapMs = 200;
constexpr double kUploadGapMs = 2000;
constexpr double kSessionGapMs = 10000;
constexpr double kGarbageQuietMs = 50;
constexpr double kStartSignalPeekMs = 30;
constexpr uint32_t kRawRamAddress = 0x30000000;

uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
uint32_t Le32(const uint8_t* p) {
  return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}
void PutBe32(std::vector<uint8_t>& v, uint32_t w) {
  v.push_back(static_cast<uint8_t>(w >> 24));
  v.push_back(static_cast<uint8_t>(w >> 16));
  v.push_back(static_cast<uint8_t>(w >> 8));
  v.push_back(static_cast<uint8_t>(w));
}
std::vector<uint8_t> Be(uint32_t w) {
  std::vector<uint8_t> v;
  PutBe32(v, w);
  return v;
}
uint8_t Sum8(const uint8_t* p, size_t n) {
  uint32_t s = 0;
  for (size_t i = 0; i < n; ++i) s += p[i];
  return static_cast<uint8_t>(s);
}

std::string Hex32(uint32_t v) {
  char b[16];
  std::snprintf(b, sizeof b, "0x%X", v);
  return b;
}
std::string Hex8(uint8_t v) {
  char b[8];
  std::snprintf(b, sizeof b, "0x%02X", v);
  return b;
}

uint32_t RateOfCode(uint8_t code) {
  switch (code) {
    case W::kBaudBase: return 115200;
    case W::kBaud460800: return 460800;
    case W::kBaud921600: return 921600;
    case W::kBaud812000: return 812000;
    default: return 0;
  }
}

// The programs the boot ROM and the loaders take as raw uploads.
const Payload* const* Programs() {
  static const Payload* const list[] = {&SdramInitImage(), &PrebootImage(), &FlashDriverAllImage(),
                                        &NorFlashLoaderImage(), &NandFlashLoaderImage(), nullptr};
  return list;
}

bool HasHeader(const Payload* p) { return p != &SdramInitImage(); }

// The program whose 8-byte header announces this length, or none.
const Payload* ByHeader(const uint8_t* first8) {
  const uint64_t announced = uint64_t{Be32(first8 + 4)} + 8;
  for (const Payload* const* p = Programs(); *p; ++p) {
    if (HasHeader(*p) && (*p)->size == announced) return *p;
  }
  return nullptr;
}

bool PrefixOf(const Payload& p, const uint8_t* data, size_t n) {
  return n <= p.size && std::memcmp(p.data, data, n) == 0;
}

uint32_t NorSectorEnd(uint32_t address) {
  if (address < kNorTopBootStart) {
    const uint32_t end = (address / 0x20000 + 1) * 0x20000;
    return std::min(end, kNorTopBootStart);
  }
  return (address / kNorTopBootSector + 1) * kNorTopBootSector;
}

const char* CommandName(uint32_t cmd) {
  switch (cmd) {
    case W::kCmdNorDownload: return "NOR image start";
    case W::kCmdNorReadBack: return "NOR read-back";
    case W::kCmdNorVlfFormat: return "NOR VLF format";
    case W::kCmdNorFlashType: return "NOR flash-type query";
    case W::kCmdImageStart: return "image session start";
    case W::kCmdNandReadBack: return "NAND read-back";
    case W::kCmdEraseAll: return "erase all";
    case W::kCmdNandFlashType: return "NAND flash-type query";
    case W::kCmdVlfAreaFormat: return "VLF area format";
    case W::kCmdPartialErase: return "partial erase";
    case W::kCmdPzlFormat: return "PZL format";
    case W::kCmdSetTargetBaud: return "set target baud";
    case W::kCmdReconnect: return "reconnect";
    case W::kCmdEndSession: return "end session";
    case W::kCmdDownloadDate: return "download date";
    default: return nullptr;
  }
}

bool NandCommand(uint32_t cmd) {
  switch (cmd) {
    case W::kCmdImageStart:
    case W::kCmdNandReadBack:
    case W::kCmdEraseAll:
    case W::kCmdNandFlashType:
    case W::kCmdVlfAreaFormat:
    case W::kCmdPartialErase:
    case W::kCmdPzlFormat:
      return true;
    default:
      return false;
  }
}

bool NorCommand(uint32_t cmd) {
  switch (cmd) {
    case W::kCmdNorDownload:
    case W::kCmdNorReadBack:
    case W::kCmdNorVlfFormat:
    case W::kCmdNorFlashType:
      return true;
    default:
      return false;
  }
}

}  // namespace

Handset::Handset(const Options& options, Wire& wire, Recorder& recorder, FaultBook& faults, Flash& nand, Flash& nor)
    : options_(options), wire_(wire), rec_(recorder), faults_(faults), nand_(nand), nor_(nor) {}

std::string Handset::StateName() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

std::string Handset::LastDownloadDate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return date_;
}

std::vector<std::string> Handset::Uploads() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return uploads_;
}

void Handset::SetState(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_ = name;
}

void Handset::Run() {
  Program next = Program::Off;
  bool poweredOn = false;
  for (;;) {
    try {
      const Program program = next;
      const bool fresh = poweredOn;
      poweredOn = false;
      next = Step(program, fresh);
    } catch (const PowerEvent& e) {
      garbage_.clear();
      if (e.request == kPowerOff) {
        SetState("off");
        rec_.Note("power off (" + e.why + ")");
        next = Program::Off;
      } else {
        rec_.Note("power on (" + e.why + ")");
        wire_.SetPowered(true);
        next = Program::BootRom;
        poweredOn = true;
        if (e.why == "switched from outside" && options_.powerOnDelayMs > 0) {
          wire_.Sleep(options_.powerOnDelayMs * options_.timeScale);
        }
      }
    } catch (const SessionAbort& e) {
      // The program starts over in its idle state (a safety net: the
      // programs catch what they expect themselves).
      rec_.Note("exchange abandoned: " + e.why);
    } catch (const StopEvent&) {
      return;
    }
  }
}

Handset::Program Handset::Step(Program program, bool poweredOn) {
  switch (program) {
    case Program::Off:
      SetState("off");
      wire_.SetPowered(false);
      wire_.AwaitPower();
    case Program::BootRom:
      return Listen(true, poweredOn);
    case Program::Preloader:
      return Listen(false, false);
    case Program::FlashDriver:
      return RunFlashDriver();
    case Program::NandLoader:
      return RunLoader(true);
    case Program::NorLoader:
      return RunLoader(false);
  }
  return Program::Off;
}

Handset::Program Handset::ProgramFor(const Payload* payload) {
  if (payload == &FlashDriverAllImage()) return Program::FlashDriver;
  if (payload == &NorFlashLoaderImage()) return Program::NorLoader;
  if (payload == &NandFlashLoaderImage()) return Program::NandLoader;
  return Program::Preloader;  // memory set-up program, preloader: they only prepare
}

// ---------------------------------------------------------------------------
// Input units

void Handset::FlushGarbage() {
  if (garbage_.empty()) return;
  Violation(std::to_string(garbage_.size()) + " byte(s) where the handset expects none: " +
            Recorder::Hex(garbage_.data(), garbage_.size(), 24));
  wire_.LogIn(garbage_, "not understood");
  garbage_.clear();
}

bool Handset::ReadUpload(std::vector<uint8_t>& bytes, const Payload* payload, Unit* unit) {
  if (std::string fired; faults_.Upload(&fired)) {
    rec_.Note("fault " + fired + " fires");
    const size_t half = payload->size / 2;
    if (bytes.size() < half) {
      const size_t have = bytes.size();
      bytes.resize(half);
      wire_.Read(bytes.data() + have, half - have, kUploadGapMs, true);
    }
    wire_.HangUp("fault in the middle of an upload");
  }
  const size_t have = bytes.size();
  bytes.resize(payload->size);
  size_t got = 0;
  std::string why = "the host stopped sending";
  bool complete = false;
  try {
    complete = wire_.Read(bytes.data() + have, payload->size - have, kUploadGapMs, true, &got);
  } catch (const SessionAbort& e) {
    why = e.why + ", discarding what it had not delivered yet";
  }
  if (!complete) {
    bytes.resize(have + got);
    wire_.LogIn(bytes, std::string("upload of ") + payload->name + " cut short");
    Violation(std::string("upload of ") + payload->name + " cut short after " + std::to_string(bytes.size()) + " of " +
              std::to_string(payload->size) + " bytes: " + why);
    return false;
  }
  if (std::memcmp(bytes.data(), payload->data, payload->size) != 0) {
    size_t at = 0;
    while (at < payload->size && bytes[at] == payload->data[at]) ++at;
    wire_.LogIn(bytes, std::string("upload that differs from ") + payload->name);
    Violation(std::string("upload of ") + payload->name + " differs from the payload at offset " + std::to_string(at) +
              "; the program does not start");
    return false;
  }
  wire_.LogIn(bytes, std::string("upload of ") + payload->name + " (" + std::to_string(payload->size) + " bytes)");
  {
    std::lock_guard<std::mutex> lock(mutex_);
    uploads_.push_back(payload->name);
  }
  unit->kind = Unit::Upload;
  unit->payload = payload;
  return true;
}

Handset::Unit Handset::ReadUnit(bool allowEndByte) {
  for (;;) {
    Unit unit;
    uint8_t b0 = 0;
    if (!garbage_.empty()) {
      if (!wire_.ReadByte(&b0, kGarbageQuietMs, false)) {
        FlushGarbage();
        continue;
      }
    } else {
      wire_.ReadByte(&b0, -1, false);
    }
    std::vector<uint8_t>& buf = unit.bytes;
    buf.push_back(b0);
    if (b0 == W::kRawOpen1) {
      uint8_t b1 = 0;
      if (wire_.ReadByte(&b1, kUnitGapMs, false)) {
        if (b1 == W::kRawOpen2) {
          FlushGarbage();
          wire_.LogIn(std::vector<uint8_t>{b0, b1}, "raw read-back start");
          unit.kind = Unit::RawStart;
          return unit;
        }
        wire_.Unread(&b1, 1);
      }
    }
    if (allowEndByte && b0 == W::kBoot2EndByte && garbage_.empty()) {
      wire_.LogIn(buf, "end byte after the session");
      unit.kind = Unit::EndByte;
      return unit;
    }
    size_t got = 0;
    buf.resize(8);
    wire_.Read(buf.data() + 1, 7, kUnitGapMs, false, &got);
    buf.resize(1 + got);
    if (buf.size() == 8) {
      const bool zeros4 = buf[4] == 0 && buf[5] == 0 && buf[6] == 0 && buf[7] == 0;
      if (buf[0] == 0xFF && buf[1] == 0xFF && buf[2] == 0x00) {
        buf.resize(16);
        size_t more = 0;
        if (wire_.Read(buf.data() + 8, 8, kUnitGapMs, false, &more)) {
          FlushGarbage();
          unit.kind = Unit::CommandBlock;
          return unit;
        }
        buf.resize(8 + more);
        FlushGarbage();
        wire_.LogIn(buf, "command block cut short");
        Violation("command block cut short after " + std::to_string(buf.size()) + " bytes: " +
                  Recorder::Hex(buf.data(), buf.size()));
        continue;
      }
      if (const Payload* p = ByHeader(buf.data())) {
        FlushGarbage();
        if (ReadUpload(buf, p, &unit)) return unit;
        continue;
      }
      if ((buf[0] == W::kKindLoaderCommand || buf[0] == W::kKindVlfAreaFormat || buf[0] == W::kKindImageStart) &&
          buf[1] == 0 && zeros4) {
        buf.resize(16);
        size_t more = 0;
        if (wire_.Read(buf.data() + 8, 8, kUnitGapMs, false, &more)) {
          FlushGarbage();
          unit.kind = Unit::Frame;
          return unit;
        }
        buf.resize(8 + more);
        FlushGarbage();
        wire_.LogIn(buf, "frame cut short");
        Violation("16-byte frame cut short after " + std::to_string(buf.size()) + " bytes: " +
                  Recorder::Hex(buf.data(), buf.size()));
        continue;
      }
      if (buf[0] == W::kKindBlockAck && buf[1] == 0 && zeros4) {
        FlushGarbage();
        unit.kind = Unit::ShortFrame;
        return unit;
      }
      if (PrefixOf(SdramInitImage(), buf.data(), 8)) {
        FlushGarbage();
        if (ReadUpload(buf, &SdramInitImage(), &unit)) return unit;
        continue;
      }
    }
    // Not the start of anything the handset knows: drop one byte and look
    // again from the next, so that a good unit behind stray bytes is found.
    garbage_.push_back(buf[0]);
    if (buf.size() > 1) wire_.Unread(buf.data() + 1, buf.size() - 1);
    if (garbage_.size() >= 4096) FlushGarbage();
  }
}

// ---------------------------------------------------------------------------
// Boot ROM and preloader

Handset::Program Handset::Listen(bool bootRom, bool poweredOn) {
  SetState(bootRom ? "boot-rom" : "preloader");
  const uint8_t bootByte = options_.bootByte == W::kBootByteAlt ? W::kBootByteAlt : W::kBootByte;
  bool awaitingStart = false;
  if (bootRom && poweredOn) {
    if (!options_.usb) {
      wire_.SendByte(bootByte, "boot", "BOOT signal");
    }
    awaitingStart = true;
    wire_.SetFresh(true);
  } else if (bootRom) {
    wire_.SetFresh(true);
  } else {
    rec_.Note("the preloader listens for the next program at 115200 bit/s");
  }
  wire_.SetHandsetRate(115200);
  for (;;) {
    uint8_t b = 0;
    wire_.Peek(&b, -1, false);
    wire_.SetFresh(false);
    if (awaitingStart) {
      awaitingStart = false;
      const bool usbSignal = options_.usb && (b == W::kStartSignal || b == W::kStartSignalAlt);
      const uint8_t expected = bootByte == W::kBootByteAlt ? W::kStartSignalAlt : W::kStartSignal;
      if (usbSignal || b == expected) {
        // A payload could begin with the same byte; a start signal comes alone.
        wire_.ReadByte(&b, 0, false);
        uint8_t next = 0;
        bool upload = false;
        if (wire_.ReadByte(&next, kStartSignalPeekMs, false, /*decidesAfter=*/true)) {
          const uint8_t two[2] = {b, next};
          for (const Payload* const* p = Programs(); *p; ++p) upload = upload || PrefixOf(**p, two, 2);
          wire_.Unread(&next, 1);
        }
        if (!upload) {
          wire_.LogIn(&b, 1, "download start signal");
          wire_.SendByte(b, "start-signal", "start signal accepted");
          continue;
        }
        wire_.Unread(&b, 1);
      }
    }
    Unit unit;
    try {
      unit = ReadUnit(false);
    } catch (const SessionAbort& e) {
      rec_.Note("exchange abandoned: " + e.why);
      continue;
    }
    switch (unit.kind) {
      case Unit::Upload:
        if (unit.payload == &SdramInitImage()) {
          rec_.Note("the memory set-up program ran");
          SetState(bootRom ? "boot-rom" : "preloader");
          continue;
        }
        if (unit.payload == &PrebootImage()) {
          rec_.Note("the preloader runs and listens for the next program");
          bootRom = false;
          SetState("preloader");
          continue;
        }
        return ProgramFor(unit.payload);
      case Unit::RawStart:
        RawReadBack();
        continue;
      default:
        wire_.LogIn(unit.bytes, "no program runs to take this");
        Violation(std::string("the ") + (bootRom ? "boot ROM" : "preloader") +
                  " takes only raw uploads, got: " + Recorder::Hex(unit.bytes.data(), unit.bytes.size()));
        continue;
    }
  }
}

// ---------------------------------------------------------------------------
// Flash driver: rate handshake and boot-image session

Handset::Program Handset::RunFlashDriver() {
  SetState("flash-driver");
  rec_.Note("the flash driver starts");
  wire_.Sleep(options_.programStartMs * options_.timeScale);
  for (;;) {
    wire_.SendByte(W::kFpSpeedReq, "speed-req", "FP_Speed_Req");
    uint8_t code = 0;
    wire_.ReadByte(&code, -1, false);
    const uint32_t rate = RateOfCode(code);
    if (rate == 0) {
      wire_.LogIn(&code, 1, "not a baud code");
      Violation("the flash driver expects a baud code after FP_Speed_Req, got " + Hex8(code));
      continue;
    }
    wire_.LogIn(&code, 1, "baud code " + Hex8(code) + " (" + std::to_string(rate) + " bit/s)");
    wire_.SendByte(W::kFpSpeedChgDone, "speed-chg-done", "FP_Speed_ChgDone");
    if (!options_.usb) wire_.SetHandsetRate(rate);
    rec_.Note("the flash driver now talks at " + std::to_string(rate) + " bit/s");
    break;
  }
  for (;;) {
    SetState("flash-driver");
    uint8_t b = 0;
    wire_.ReadByte(&b, -1, false);
    if (b != W::kFpStartReq) {
      garbage_.push_back(b);
      uint8_t more = 0;
      while (wire_.ReadByte(&more, kGarbageQuietMs, false)) {
        if (more == W::kFpStartReq) {
          wire_.Unread(&more, 1);
          break;
        }
        garbage_.push_back(more);
      }
      FlushGarbage();
      continue;
    }
    wire_.LogIn(&b, 1, "FP_StartReq");
    try {
      wire_.SendByte(W::kFpStartOk, "start-ok", "FP_StartOK");
      uint8_t words[8];
      if (!wire_.Read(words, 8, kSessionGapMs, true)) throw SessionAbort{"no address and length after FP_StartOK"};
      const uint32_t address = Be32(words);
      const uint32_t length = Be32(words + 4);
      wire_.LogIn(words, 8, "boot image at " + Hex32(address) + ", " + std::to_string(length) + " bytes");
      if (const uint8_t refusal = Refusal(nand_, address, length)) {
        wire_.SendByte(refusal, "refusal", refusal == W::kFpAddrWrong ? "FP_AddrWrong" : "FP_ImageTooLarge");
        continue;
      }
      SetState("flash-driver-session");
      wire_.SendByte(W::kFpImageOk, "image-ok", "FP_ImageOK");
      WaitAck("FP_ImageOK");
      uint32_t cursor = address;
      uint32_t left = length;
      bool failed = false;
      while (left > 0 && !failed) {
        const uint32_t want = std::min(left, options_.blockSize);
        std::vector<uint8_t> request{W::kFpReturnBlockSize};
        PutBe32(request, want);
        wire_.Send(request, "block-request", "FP_ReturnBlockSize " + std::to_string(want));
        bool resent = false;  // the host checks the echo of a resent block only
        for (;;) {
          const FaultBook::BlockAction fault = BlockFault();
          const std::vector<uint8_t> block = ReceiveBlock(want, "boot image block");
          if (fault == FaultBook::BlockAction::HangUp) wire_.HangUp("fault during a boot image block");
          const uint8_t sum = ReceiveByte("checksum byte");
          const uint8_t mine = Sum8(block.data(), block.size());
          if (resent) {
            const uint8_t echo = fault == FaultBook::BlockAction::BadEcho ? static_cast<uint8_t>(~mine) : mine;
            wire_.SendByte(echo, "echo", "checksum echo");
          }
          if (sum != mine) {
            Violation("wrong checksum byte " + Hex8(sum) + " after a boot image block that sums to " + Hex8(mine));
          }
          if (fault == FaultBook::BlockAction::Failed) {
            wire_.SendByte(W::kFpFailed, "failed", "FP_Failed");
            failed = true;
            break;
          }
          if (sum != mine || fault == FaultBook::BlockAction::Resend || fault == FaultBook::BlockAction::BadEcho) {
            wire_.SendByte(W::kFpResend, "resend", "FP_Resend");
            resent = true;
            continue;
          }
          Store(FlashPart::Nand, cursor, block.data(), block.size());
          cursor += want;
          left -= want;
          wire_.SendByte(W::kFpSectorOk, "sector-ok", "FP_SectorOK");
          WaitAck("FP_SectorOK");
          break;
        }
      }
      if (failed) continue;
      wire_.SendByte(W::kFpFinished, "finished", "FP_Finished");
      wire_.SetHandsetRate(115200);
      SetState("boot-rom");
      rec_.Note("boot image written; the handset is back in its boot ROM");
      return Program::BootRom;
    } catch (const SessionAbort& e) {
      rec_.Note("boot image session abandoned: " + e.why);
    }
  }
}

// ---------------------------------------------------------------------------
// Loaders

Handset::Program Handset::RunLoader(bool nand) {
  const std::string name = nand ? "nand-loader" : "nor-loader";
  SetState(name);
  rec_.Note(std::string("the ") + (nand ? "NAND" : "NOR") + " flash loader starts");
  wire_.SetHandsetRate(115200);
  wire_.Sleep(options_.programStartMs * options_.timeScale);
  bool justFinished = false;
  for (;;) {
    SetState(name);
    try {
      if (options_.fallbackOnQuiet && !options_.usb) {
        // Wait for input while watching for the quiet line that sends this
        // handset back to the base rate.
        uint8_t b = 0;
        while (!wire_.Peek(&b, 20, false)) {
          const Clock::time_point now = Clock::now();
          const auto quiet = std::chrono::duration<double, std::milli>(options_.fallbackQuietMs * options_.timeScale);
          if (wire_.HandsetRate() != 115200 && !wire_.HostOpen() && now - wire_.HostClosedAt() >= quiet &&
              now - wire_.LastActivity() >= quiet) {
            wire_.SetHandsetRate(115200);
            rec_.Note("the line went quiet: the loader falls back to 115200 bit/s");
          }
        }
      }
      const Unit unit = ReadUnit(justFinished);
      justFinished = false;
      const std::vector<uint8_t>& u = unit.bytes;
      switch (unit.kind) {
        case Unit::CommandBlock: {
          const uint32_t cmd = Be32(u.data());
          const uint32_t a1 = Be32(u.data() + 4);
          const uint32_t a2 = Be32(u.data() + 8);
          const uint32_t end = Be32(u.data() + 12);
          const char* cname = CommandName(cmd);
          std::string meaning = std::string("command block: ") + (cname ? cname : "unknown command") + " (" +
                                Hex32(cmd) + ", " + Hex32(a1) + ", " + Hex32(a2) + ")";
          if (end != W::kEndMark) {
            wire_.LogIn(u, meaning + " without its end mark");
            Violation("command block without its end mark: " + Recorder::Hex(u.data(), u.size()));
            break;
          }
          wire_.LogIn(u, meaning);
          Program next;
          if (Command(nand, cmd, a1, a2, false, &next)) return next;
          justFinished = cmd == W::kCmdImageStart;
          break;
        }
        case Unit::Frame: {
          const uint8_t kind = u[0];
          if (kind == W::kKindImageStart) {
            const uint32_t address = Le32(u.data() + 8);
            const uint32_t length = Le32(u.data() + 12);
            wire_.LogIn(u, "image start frame: " + Hex32(address) + ", " + std::to_string(length) + " bytes");
            if (!nand) {
              Violation("the NOR loader takes no USB image session");
              break;
            }
            ImageSessionUsb(address, length);
            break;
          }
          const uint32_t cmd = Be32(u.data() + 8);
          const uint32_t arg = Be32(u.data() + 12);
          const char* cname = CommandName(cmd);
          if (kind == W::kKindVlfAreaFormat) {
            wire_.LogIn(u, "VLF area format frame");
            if (cmd != W::kCmdVlfAreaFormat) {
              Violation("frame of kind 0x32 with command word " + Hex32(cmd) + " (only the VLF area format uses it)");
              break;
            }
          } else {
            wire_.LogIn(u, std::string("command frame: ") + (cname ? cname : "unknown command") + " (" + Hex32(cmd) +
                               ", " + Hex32(arg) + ")");
          }
          Program next;
          if (Command(nand, cmd, arg, 0, true, &next)) return next;
          break;
        }
        case Unit::ShortFrame:
          wire_.LogIn(u, "block acknowledgement frame");
          Violation("a block acknowledgement frame (0x30) outside an image session");
          break;
        case Unit::Upload:
          if (unit.payload == &SdramInitImage() || unit.payload == &PrebootImage()) {
            rec_.Note(std::string("the loader gives way to ") + unit.payload->name);
            return Program::Preloader;
          }
          rec_.Note(std::string("the loader gives way to ") + unit.payload->name);
          return ProgramFor(unit.payload);
        case Unit::RawStart:
          RawReadBack();
          break;
        case Unit::EndByte:
          break;
        case Unit::Garbage:
          break;
      }
    } catch (const SessionAbort& e) {
      rec_.Note("exchange abandoned: " + e.why);
    }
  }
}

bool Handset::Command(bool nand, uint32_t cmd, uint32_t a1, uint32_t a2, bool framed, Program* next) {
  (void)framed;
  const char* cname = CommandName(cmd);
  if (cname == nullptr) {
    Violation("unknown command word " + Hex32(cmd));
    return false;
  }
  if ((nand && NorCommand(cmd)) || (!nand && NandCommand(cmd))) {
    Violation(std::string("the ") + (nand ? "NAND" : "NOR") + " flash loader does not serve the " + cname +
              " command (" + Hex32(cmd) + ")");
    return false;
  }
  switch (cmd) {
    case W::kCmdNandFlashType:
    case W::kCmdNorFlashType: {
      const uint8_t id = nand ? options_.nandDeviceId : options_.norDeviceId;
      wire_.SendByte(id, "flash-type", "flash type " + Hex8(id));
      return false;
    }
    case W::kCmdSetTargetBaud:
      SetTargetBaud(a1, a2);
      return false;
    case W::kCmdEndSession:
      rec_.Note("session ended: the handset restarts into normal operation (off for the tool)");
      wire_.StayOffUntilReopened();
      throw PowerEvent{kPowerOff, "end of session"};
    case W::kCmdReconnect:
      rec_.Note("reconnect: the loader gives way to the resident preloader");
      *next = Program::Preloader;
      return true;
    case W::kCmdDownloadDate:
      DownloadDate();
      return false;
    case W::kCmdEraseAll:
      if (a1 == 1) {
        EraseNand(0, kNandBootArea, "bootloader area");
      } else {
        if (a1 != 0) Violation("erase all with argument " + Hex32(a1) + " (0 or 1 expected)");
        EraseNand(0, kNandBytes, "whole NAND");
        wire_.Sleep(options_.eraseTimeMs * options_.timeScale);
        wire_.SendByte(W::kEraseDoneFirst, "erase-done", "erase complete (0x46)");
        wire_.SendByte(W::kEraseDoneSecond, "erase-done2", "erase complete (0xB9)");
      }
      return false;
    case W::kCmdPartialErase: {
      const uint64_t end = std::min<uint64_t>(uint64_t{a1} + a2, kNandBytes);
      const uint32_t from = a1 / kNandEraseBlock * kNandEraseBlock;
      const uint64_t to = (end + kNandEraseBlock - 1) / kNandEraseBlock * kNandEraseBlock;
      if (a1 < kNandBytes && a2 > 0) EraseNand(from, static_cast<uint32_t>(std::min<uint64_t>(to, kNandBytes) - from), "blocks");
      wire_.Sleep(options_.eraseTimeMs * options_.timeScale);
      wire_.SendByte(W::kEraseDoneFirst, "erase-done", "erase complete (0x46)");
      wire_.SendByte(W::kEraseDoneSecond, "erase-done2", "erase complete (0xB9)");
      return false;
    }
    case W::kCmdVlfAreaFormat:
      EraseNand(kNandVlfArea, kNandBytes - kNandVlfArea, "file-system (VLF) area");
      return false;
    case W::kCmdPzlFormat:
      EraseNand(kNandBootArea, kNandBytes - kNandBootArea, "PZL-managed area");
      return false;
    case W::kCmdImageStart:
      ImageSessionUart(a1, a2);
      return false;
    case W::kCmdNandReadBack:
      ReadBack(true, a1, a2);
      return false;
    case W::kCmdNorReadBack:
      ReadBack(false, a1, a2);
      return false;
    case W::kCmdNorDownload:
      NorDownload(a1, a2);
      return false;
    case W::kCmdNorVlfFormat:
      FormatNorVlf(a1, a2);
      return false;
    default:
      return false;
  }
}

void Handset::SetTargetBaud(uint32_t a1, uint32_t a2) {
  const uint8_t code = static_cast<uint8_t>(a1);
  const uint32_t rate = RateOfCode(code);
  if (a1 > 0xFF || rate == 0) {
    Violation("set target baud with " + Hex32(a1) + ", which is no baud code");
    return;
  }
  if (a2 > 1) Violation("set target baud with direction flag " + Hex32(a2) + " (0 or 1 expected)");
  if (options_.usb) {
    rec_.Note("set target baud on a USB link: the rate plays no part");
    return;
  }
  wire_.Sleep(options_.loaderBaudSwitchMs * options_.timeScale);
  wire_.SetHandsetRate(rate);
  rec_.Note("the loader now talks at " + std::to_string(rate) + " bit/s");
}

void Handset::DownloadDate() {
  uint8_t digits[8];
  size_t got = 0;
  if (!wire_.Read(digits, 8, kSessionGapMs, true, &got)) {
    wire_.LogIn(digits, got, "download date cut short");
    Violation("download date cut short after " + std::to_string(got) + " of 8 bytes");
    return;
  }
  const std::string text(reinterpret_cast<const char*>(digits), 8);
  const bool ok = std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    date_ = text;
  }
  wire_.LogIn(digits, 8, "download date \"" + (ok ? text : std::string("?")) + "\"");
  if (!ok) Violation("download date is not eight digits: " + Recorder::Hex(digits, 8));
}

void Handset::EraseNand(uint32_t address, uint32_t length, const std::string& what) {
  nand_.Erase(address, length);
  rec_.Note("erased NAND " + Hex32(address) + ".." + Hex32(address + length - 1) + " (" + what + ")");
}

void Handset::FormatNorVlf(uint32_t address, uint32_t length) {
  if (address >= kNorBytes || uint64_t{address} + length > kNorBytes) {
    Violation("NOR VLF format of " + Hex32(address) + " + " + Hex32(length) + " lies outside the NOR flash");
    return;
  }
  // The host reads no report for the bootloader area and the file-system area.
  const bool report = address != 0 && address != 0x1E90000;
  uint32_t at = address;
  const uint32_t end = address + length;
  while (at < end) {
    const uint32_t stop = std::min(NorSectorEnd(at), end);
    nor_.Erase(at, stop - at);
    wire_.Sleep(options_.eraseTimeMs * options_.timeScale / 16);
    if (report) {
      wire_.Send(Be(stop - at), "vlf-count", "erased " + std::to_string(stop - at) + " bytes at " + Hex32(at));
      wire_.SendByte(W::kFpSectorOk, "sector-ok", "FP_SectorOK");
    }
    at = stop;
  }
  rec_.Note("erased NOR " + Hex32(address) + ".." + Hex32(end - 1));
}

// ---------------------------------------------------------------------------
// Session helpers

void Handset::WaitAck(const std::string& after) {
  uint8_t b = 0;
  if (!wire_.ReadByte(&b, kSessionGapMs, true)) {
    Violation("missing acknowledgement: no 0x2D after " + after);
    throw SessionAbort{"no acknowledgement"};
  }
  if (b != W::kHostAck) {
    Violation("missing acknowledgement: " + Hex8(b) + " instead of 0x2D after " + after);
    wire_.Unread(&b, 1);
    throw SessionAbort{"no acknowledgement"};
  }
  wire_.LogIn(&b, 1, "acknowledgement");
}

std::vector<uint8_t> Handset::ReceiveBlock(uint32_t length, const std::string& what) {
  std::vector<uint8_t> block(length);
  size_t got = 0;
  if (!wire_.Read(block.data(), length, kSessionGapMs, true, &got)) {
    block.resize(got);
    wire_.LogIn(block, what + " cut short");
    Violation(what + " cut short after " + std::to_string(got) + " of " + std::to_string(length) + " bytes");
    throw SessionAbort{"block cut short"};
  }
  wire_.LogIn(block, what + " (" + std::to_string(length) + " bytes)");
  return block;
}

uint8_t Handset::ReceiveByte(const std::string& what) {
  uint8_t b = 0;
  if (!wire_.ReadByte(&b, kSessionGapMs, true)) {
    Violation("no " + what + " from the host");
    throw SessionAbort{"no " + what};
  }
  wire_.LogIn(&b, 1, what);
  return b;
}

void Handset::Store(FlashPart part, uint32_t address, const uint8_t* data, size_t length) {
  std::vector<uint8_t> copy(data, data + length);
  faults_.ApplyFlips(part, address, copy.data(), copy.size());
  (part == FlashPart::Nand ? nand_ : nor_).Write(address, copy.data(), copy.size());
}

FaultBook::BlockAction Handset::BlockFault() {
  std::string fired;
  const FaultBook::BlockAction a = faults_.Block(&fired);
  if (a != FaultBook::BlockAction::None) rec_.Note("fault " + fired + " fires");
  return a;
}

uint8_t Handset::Refusal(Flash& flash, uint32_t address, uint64_t length) {
  std::string fired;
  const FaultBook::SessionAction a = faults_.Session(&fired);
  if (a != FaultBook::SessionAction::None) rec_.Note("fault " + fired + " fires");
  if (a == FaultBook::SessionAction::RefuseAddress) return W::kFpAddrWrong;
  if (a == FaultBook::SessionAction::TooLarge) return W::kFpImageTooLarge;
  if (address >= flash.Size()) return W::kFpAddrWrong;
  if (address + length > flash.Size()) return W::kFpImageTooLarge;
  return 0;
}

// ---------------------------------------------------------------------------
// Image sessions

void Handset::ImageSessionUart(uint32_t address, uint32_t length) {
  const bool stream = address == W::kStreamVlf || address == W::kStreamVlfFlash;
  const uint32_t spare = address == W::kStreamVlfFlash ? W::kVlfFlashSpareBytes : 0;
  const uint32_t base = stream ? kNandVlfArea : address;
  const bool checked = !options_.usb;
  uint64_t dataBytes = length;
  if (spare != 0) {
    // Data and spare bytes alternate, a block of data and 4096 spare bytes.
    const uint64_t unit = uint64_t{options_.blockSize} + spare;
    const uint64_t whole = length / unit;
    const uint64_t rest = length % unit;
    dataBytes = whole * options_.blockSize + (rest > spare ? rest - spare : 0);
  }
  if (stream) {
    rec_.Note(std::string(spare ? "VLF flash" : "VLF") + " stream of " + std::to_string(length) +
              " bytes into the file-system area");
  }
  if (const uint8_t refusal = Refusal(nand_, base, dataBytes)) {
    wire_.SendByte(refusal, "refusal", refusal == W::kFpAddrWrong ? "FP_AddrWrong" : "FP_ImageTooLarge");
    return;
  }
  SetState("image-session");
  wire_.SendByte(W::kFpImageOk, "image-ok", "FP_ImageOK");
  WaitAck("FP_ImageOK");
  uint32_t cursor = base;
  uint32_t left = length;
  while (left > 0) {
    uint32_t want = 0;
    if (spare != 0) {
      if (left <= spare) {
        Violation("VLF flash stream ends with " + std::to_string(left) + " bytes, fewer than a block's spare area");
        break;
      }
      want = std::min(options_.blockSize, left - spare);
    } else {
      want = std::min(options_.blockSize, left);
    }
    const uint32_t total = want + spare;
    std::vector<uint8_t> request{W::kFpReturnBlockSize};
    PutBe32(request, want);
    wire_.Send(request, "block-request", "FP_ReturnBlockSize " + std::to_string(want));
    for (;;) {
      const FaultBook::BlockAction fault = BlockFault();
      std::vector<uint8_t> block;
      if (fault == FaultBook::BlockAction::HangUp) {
        block = ReceiveBlock(total / 2, "first half of a block");
        wire_.HangUp("fault in the middle of a block");
      }
      block = ReceiveBlock(total, spare ? "block with spare bytes" : "block");
      const uint8_t mine = Sum8(block.data(), block.size());
      bool good = true;
      if (checked) {
        const uint8_t sum = ReceiveByte("checksum byte");
        const uint8_t echo = fault == FaultBook::BlockAction::BadEcho ? static_cast<uint8_t>(~mine) : mine;
        wire_.SendByte(echo, "echo", "checksum echo");
        if (sum != mine) {
          Violation("wrong checksum byte " + Hex8(sum) + " after a block that sums to " + Hex8(mine));
          good = false;
        }
      }
      if (fault == FaultBook::BlockAction::Failed) {
        wire_.SendByte(W::kFpFailed, "failed", "FP_Failed");
        return;
      }
      if (!good || fault == FaultBook::BlockAction::Resend || fault == FaultBook::BlockAction::BadEcho) {
        wire_.SendByte(W::kFpResend, "resend", "FP_Resend");
        continue;
      }
      Store(FlashPart::Nand, cursor, block.data(), want);
      cursor += want;
      left -= total;
      wire_.SendByte(W::kFpSectorOk, "sector-ok", "FP_SectorOK");
      WaitAck("FP_SectorOK");
      break;
    }
  }
  wire_.SendByte(W::kFpFinished, "finished", "FP_Finished");
  rec_.Note("image written: NAND " + Hex32(base) + ".." + Hex32(cursor == base ? base : cursor - 1));
}

void Handset::ImageSessionUsb(uint32_t address, uint32_t length) {
  auto frame = [](uint8_t kind) {
    std::vector<uint8_t> f(W::kFrameBytes, 0);
    f[0] = kind;
    return f;
  };
  if (const uint8_t refusal = Refusal(nand_, address, length)) {
    wire_.Send(frame(refusal), "refusal", refusal == W::kFpAddrWrong ? "FP_AddrWrong frame" : "FP_ImageTooLarge frame");
    return;
  }
  SetState("image-session-usb");
  uint32_t cursor = address;
  uint32_t left = length;
  uint8_t previousSum = 0;
  while (left > 0) {
    const uint32_t want = std::min(options_.blockSize, left);
    std::vector<uint8_t> ok = frame(W::kFpImageOk);
    ok[4] = static_cast<uint8_t>(want);
    ok[5] = static_cast<uint8_t>(want >> 8);
    ok[6] = static_cast<uint8_t>(want >> 16);
    ok[7] = static_cast<uint8_t>(want >> 24);
    ok[8] = previousSum;
    wire_.Send(ok, "image-ok", "FP_ImageOK frame: " + std::to_string(want) + " bytes wanted");
    uint8_t ack[W::kShortFrameBytes];
    size_t got = 0;
    if (!wire_.Read(ack, sizeof ack, kSessionGapMs, true, &got)) {
      wire_.LogIn(ack, got, "block acknowledgement cut short");
      Violation("missing acknowledgement: no block acknowledgement frame after FP_ImageOK");
      throw SessionAbort{"no block acknowledgement"};
    }
    if (ack[0] != W::kKindBlockAck || ack[1] != 0 || ack[4] != 0 || ack[5] != 0 || ack[6] != 0 || ack[7] != 0) {
      wire_.LogIn(ack, sizeof ack, "not a block acknowledgement");
      Violation("missing acknowledgement: " + Recorder::Hex(ack, sizeof ack) +
                " instead of the block acknowledgement frame (0x30)");
      wire_.Unread(ack, sizeof ack);
      throw SessionAbort{"no block acknowledgement"};
    }
    wire_.LogIn(ack, sizeof ack, "block acknowledgement frame");
    const FaultBook::BlockAction fault = BlockFault();
    if (fault == FaultBook::BlockAction::HangUp) {
      ReceiveBlock(want / 2, "first half of a block");
      wire_.HangUp("fault in the middle of a block");
    }
    const std::vector<uint8_t> block = ReceiveBlock(want, "block");
    const uint8_t mine = Sum8(block.data(), block.size());
    if (fault == FaultBook::BlockAction::Failed) {
      wire_.Send(frame(W::kFpFailed), "failed", "FP_Failed frame");
      return;
    }
    if (fault == FaultBook::BlockAction::Resend) {
      wire_.Send(frame(W::kFpResend), "resend", "FP_Resend frame");
      previousSum = mine;
      continue;  // the same block is wanted again
    }
    Store(FlashPart::Nand, cursor, block.data(), block.size());
    cursor += want;
    left -= want;
    previousSum = fault == FaultBook::BlockAction::BadEcho ? static_cast<uint8_t>(~mine) : mine;
  }
  std::vector<uint8_t> fin = frame(W::kFpFinished);
  fin[4] = previousSum;
  wire_.Send(fin, "finished", "FP_Finished frame");
  rec_.Note("image written: NAND " + Hex32(address) + ", " + std::to_string(length) + " bytes");
}

// ---------------------------------------------------------------------------
// NOR record download

void Handset::NorDownload(uint32_t address, uint32_t length) {
  std::vector<uint8_t> closing;
  if (const uint8_t refusal = Refusal(nor_, address, length)) {
    PutBe32(closing, 0);
    PutBe32(closing, refusal);
    wire_.Send(closing, "refusal", std::string("range refused (") + (refusal == W::kFpAddrWrong ? "address" : "length") +
                                       "): zero length and trailer " + Hex8(refusal));
    return;
  }
  SetState("nor-download");
  uint32_t cursor = address;
  const uint32_t end = address + length;
  while (cursor < end) {
    const uint32_t want = std::min({NorSectorEnd(cursor) - cursor, end - cursor, options_.blockSize});
    wire_.Send(Be(want), "block-request", "NOR block length " + std::to_string(want) + " at " + Hex32(cursor));
    const FaultBook::BlockAction fault = BlockFault();
    if (fault == FaultBook::BlockAction::HangUp) {
      ReceiveBlock(want / 2, "first half of a NOR block");
      wire_.HangUp("fault in the middle of a NOR block");
    }
    const std::vector<uint8_t> block = ReceiveBlock(want, "NOR block");
    const uint8_t sum = ReceiveByte("checksum byte");
    const uint8_t mine = Sum8(block.data(), block.size());
    if (sum != mine) Violation("wrong checksum byte " + Hex8(sum) + " after a NOR block that sums to " + Hex8(mine));
    if (fault == FaultBook::BlockAction::Failed) {
      wire_.SendByte(W::kFpFailed, "failed", "FP_Failed");
      return;
    }
    if (sum != mine || fault == FaultBook::BlockAction::Resend || fault == FaultBook::BlockAction::BadEcho) {
      wire_.SendByte(W::kFpResend, "resend", "FP_Resend");
      continue;
    }
    Store(FlashPart::Nor, cursor, block.data(), block.size());
    cursor += want;
    wire_.SendByte(W::kFpSectorOk, "sector-ok", "FP_SectorOK");
  }
  PutBe32(closing, 0);
  PutBe32(closing, 0);
  wire_.Send(closing, "finished", "zero length and trailer: range written");
  rec_.Note("NOR range written: " + Hex32(address) + ", " + std::to_string(length) + " bytes");
}

// ---------------------------------------------------------------------------
// Read-back

void Handset::ReadBack(bool nand, uint32_t address, uint32_t length) {
  Flash& flash = nand ? nand_ : nor_;
  if (const uint8_t refusal = Refusal(flash, address, length)) {
    wire_.SendByte(refusal, "refusal", refusal == W::kFpAddrWrong ? "FP_AddrWrong" : "FP_ImageTooLarge");
    return;
  }
  SetState("read-back");
  wire_.SendByte(W::kFpImageOk, "image-ok", "FP_ImageOK");
  WaitAck("FP_ImageOK");
  uint32_t cursor = address;
  const uint32_t end = address + length;
  while (cursor < end) {
    uint32_t want = std::min(options_.blockSize, end - cursor);
    if (!nand) want = std::min(want, NorSectorEnd(cursor) - cursor);
    const FaultBook::BlockAction fault = BlockFault();
    if (fault == FaultBook::BlockAction::Resend) {
      wire_.SendByte(W::kFpResend, "resend", "FP_Resend");
      return;
    }
    if (fault == FaultBook::BlockAction::Failed) {
      wire_.SendByte(W::kFpFailed, "failed", "FP_Failed");
      return;
    }
    const std::vector<uint8_t> data = flash.Read(cursor, want);
    std::vector<uint8_t> out{W::kFpReturnBlockSize};
    PutBe32(out, want);
    if (fault == FaultBook::BlockAction::HangUp) {
      out.insert(out.end(), data.begin(), data.begin() + want / 2);
      wire_.Send(out, "dump-block", "first half of a read-back block");
      wire_.HangUp("fault in the middle of a read-back block");
    }
    out.insert(out.end(), data.begin(), data.end());
    uint8_t sum = Sum8(data.data(), data.size());
    if (fault == FaultBook::BlockAction::BadEcho) sum = static_cast<uint8_t>(~sum);
    out.push_back(sum);
    wire_.Send(out, "dump-block", "read-back block of " + std::to_string(want) + " bytes at " + Hex32(cursor));
    cursor += want;
    wire_.SendByte(W::kFpSectorOk, "sector-ok", "FP_SectorOK");
    WaitAck("FP_SectorOK");
  }
  wire_.SendByte(W::kFpFinished, "finished", "FP_Finished");
}

// ---------------------------------------------------------------------------
// Raw read-back exchange

void Handset::RawReadBack() {
  SetState("raw-read-back");
  auto expectSum = [&](uint8_t want, const std::string& what) {
    const uint8_t got = ReceiveByte("sum of the " + what);
    if (got != want) {
      Violation("wrong checksum byte " + Hex8(got) + " for the " + what + " (sum " + Hex8(want) + ")");
      wire_.SendByte(0x00, "raw-nak", "sum refused");
      throw SessionAbort{"wrong sum"};
    }
    wire_.SendByte(W::kRawSumOk, "raw-ack", "sum accepted (0x77)");
  };
  const std::vector<uint8_t> ram = Be(kRawRamAddress);
  wire_.Send(ram, "raw-address", "RAM address " + Hex32(kRawRamAddress));
  expectSum(Sum8(ram.data(), 4), "RAM address");
  const uint32_t length = options_.rawLength / 4 * 4;
  const std::vector<uint8_t> len = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                                    static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
  wire_.Send(len, "raw-length", "length " + std::to_string(length));
  expectSum(Sum8(len.data(), 4), "length");
  const std::vector<uint8_t> data = nand_.Read(options_.rawAddress, length);
  uint32_t running = Sum8(len.data(), 4);  // the first chunk's sum covers the length too
  uint32_t index = 0;
  uint32_t remaining = length;
  uint32_t chunk = 0;
  uint32_t limit = std::min<uint32_t>(W::kRawChunkBytes, remaining);
  uint32_t chunkNumber = 0;
  std::vector<uint8_t> out;
  while (remaining > 0) {
    const uint8_t* w = data.data() + index;
    out.insert(out.end(), w, w + 4);
    running += uint32_t{w[0]} + w[1] + w[2] + w[3];
    index += 4;
    chunk += 4;
    remaining -= 4;
    if (w[0] == w[1] && w[1] == w[2] && w[2] == w[3]) {
      // A run never passes the chunk's limit: the count stops at it.
      uint32_t n = 0;
      while (n < 255 && chunk + 4 * (n + 1) <= limit && index + 4 * (n + 1) <= length &&
             std::memcmp(data.data() + index + 4 * n, w, 4) == 0) {
        ++n;
      }
      out.push_back(static_cast<uint8_t>(n));
      running += n;
      index += 4 * n;
      chunk += 4 * n;
      remaining -= 4 * n;
    }
    if (chunk >= limit) {
      ++chunkNumber;
      wire_.Send(out, "raw-data", "raw chunk " + std::to_string(chunkNumber) + " (" + std::to_string(chunk) +
                                      " bytes decoded, " + std::to_string(out.size()) + " sent)");
      out.clear();
      expectSum(static_cast<uint8_t>(running), "chunk");
      running = 0;
      chunk = 0;
      limit = std::min<uint32_t>(W::kRawChunkBytes, remaining);
    }
  }
  rec_.Note("raw read-back complete: " + std::to_string(length) + " bytes in " + std::to_string(chunkNumber) +
            " chunk(s)");
}

}  // namespace vantrel::sim
