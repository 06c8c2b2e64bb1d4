#include "link/ComLink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "link/Trace.h"

namespace vantrel {
namespace {

Result Cancelled(ComLink& link) {
  link.lastErrno = ECANCELED;
  return Result::ComPort;
}

// An open line at a rate the port took; sets lastErrno otherwise.
bool Usable(ComLink& link) {
  if (!link.IsOpen()) {
    link.lastErrno = EBADF;
    return false;
  }
  if (!link.lineFault.empty()) {
    link.lastErrno = EINVAL;
    return false;
  }
  return true;
}

// Poll steps that the line time of `pending` queued bytes takes, plus the
// margin: how long the host waits for its own bytes to leave the port.
uint64_t DrainPolls(const ComLink& link, size_t pending) {
  const uint32_t rate = link.rate != 0 ? link.rate : 115200;
  const uint64_t ms = pending * uint64_t{kLineBitsPerByte} * 1000 / rate + kDrainMarginMs;
  return (ms + kPollIntervalMs - 1) / kPollIntervalMs;
}

// A write that found the driver's queue full waits for room for up to four
// polls at once: the wait ends as soon as there is room, and a download at
// the line's pace then wakes the host about once per piece instead of every
// 5 ms. Four polls (20 ms) keep a stop request prompt, and count as four
// against the idle budget.
constexpr uint32_t kFullQueuePolls = 4;

// Budget+1 empty polls of 5 ms each make up the idle time; any progress
// starts the count again. `step` performs one read or write of the rest.
// During the first `gracePolls` empty polls, those taken while the host's
// own bytes are still queued for the line do not count. `polls` says how many
// polls one wait may take at once; they count as that many.
template <typename Step, typename Wait, typename Polls>
Result TransferLoop(ComLink& link, uint8_t* bytes, uint32_t length, uint8_t idleSeconds, uint64_t gracePolls, Step step,
                 Wait wait, Polls polls) {
  if (length == 0) return Result::Ok;
  const uint32_t budget = static_cast<uint32_t>(idleSeconds) * 1000 / kPollIntervalMs;
  uint32_t count = budget;
  uint32_t done = 0;
  while (done < length) {
    if (stop::Requested()) return Cancelled(link);
    uint32_t moved = 0;
    const Result rc = step(bytes + done, length - done, &moved);
    if (rc != Result::Ok) return rc;
    if (moved > 0) {
      done += moved;
      count = budget;
      continue;
    }
    const uint32_t taken = polls();
    timing::PollStep(kPollIntervalMs * taken, [&](int64_t us) {
      if (link.IsOpen()) wait(us);
    });
    if (stop::Requested()) return Cancelled(link);
    if (gracePolls > 0) {
      if (link.IsOpen() && link.port->OutputPending() > 0) {
        --gracePolls;
        continue;
      }
      gracePolls = 0;
    }
    if (count == 0) return Result::NoResponse;
    count -= std::min(count, taken);
  }
  return Result::Ok;
}

}  // namespace

std::string RateRefusal(const std::string& port, uint32_t wanted, uint32_t actual) {
  if (actual == 0) return {};
  const double off = (static_cast<double>(actual) - wanted) / wanted;
  if (off <= kRateTolerance && off >= -kRateTolerance) return {};
  return port + ": the port did not take " + std::to_string(wanted) + " bit/s (it runs at " +
         std::to_string(actual) + " bit/s)";
}

uint8_t OperatorBaudCode(int selection) {
  if (selection < 0 || selection >= 3) return 0;
  return kOperatorBaudCodes[selection];
}

void ComLink::SetPortName(const std::string& name) {
  std::memset(portName, 0, sizeof portName);
  std::memcpy(portName, name.data(), std::min(name.size(), sizeof portName - 1));
}

uint32_t BaudCodeToRate(uint32_t code) {
  switch (code & 0xFF) {
    case kBaud115200: return 115200;
    case kBaud460800: return 460800;
    case kBaud921600: return 921600;
    case kBaud812000: return 812000;
    default: return 0;
  }
}

uint8_t BaudRateToCode(uint32_t rate) {
  switch (rate) {
    case 115200: return kBaud115200;
    case 460800: return kBaud460800;
    case 921600: return kBaud921600;
    case 812000: return kBaud812000;
    default: return 0;
  }
}

Result OpenPort(ComLink& link) {
  link.port.reset();
  link.rate = 0;
  link.openFailure.clear();
  link.lineFault.clear();
  const std::string name(link.portName);
  const std::string path = ComDevicePath(name);
  std::unique_ptr<SerialDevice> device;
  int err = 0;
  for (int attempt = 1; attempt <= kOpenAttempts; ++attempt) {
    if (stop::Requested()) return Cancelled(link);
    device = MakeSerialDevice();
    // The reason is worked out on the first and the last attempt only: finding
    // the holder of a busy device scans every process.
    std::string why;
    const bool explain = attempt == 1 || attempt == kOpenAttempts;
    err = device->Open(path, explain ? &why : nullptr);
    if (err != 0) {
      device.reset();
      if (attempt == 1) Trace("Updater: cannot open " + name + ": " + why + "; retrying");
      if (attempt == kOpenAttempts) {
        Trace("Updater: " + name + " can not be opened: " + why);
        link.openFailure = why;
      }
    }
    timing::Pause(kOpenRetryPauseMs, "OpenPort");
    if (err == 0) {
      // The link says nothing on standard output, which belongs to whoever
      // runs it (the command line's JSON events); a port that needed several
      // attempts is worth a trace.
      if (attempt > 1) Trace("Updater: " + name + " opened at attempt " + std::to_string(attempt));
      break;
    }
  }
  if (!device) {
    link.lastErrno = err;
    return Result::ComPort;
  }

  const uint32_t rate = BaudCodeToRate(link.baudCode);
  if (rate == 0) {
    device->Close();
    link.lastErrno = EINVAL;
    return Result::InvalidValue;
  }
  if (int cerr = device->Configure(rate); cerr != 0) {
    // Settings the driver refuses are not fatal by themselves: the exchange
    // that follows tells whether the line works.
    Trace("Updater: " + name + ": line settings refused: " + std::strerror(cerr));
  }
  if (std::string refused = RateRefusal(path, rate, device->Rate()); !refused.empty()) {
    Trace("Updater: " + name + " can not be opened: " + refused);
    device->Close();
    link.openFailure = refused;
    link.lastErrno = EINVAL;
    return Result::ComPort;
  }
  device->Purge();
  link.rate = device->Rate();
  link.port = std::move(device);
  return Result::Ok;
}

void DrainOutput(ComLink& link) {
  if (!link.IsOpen() || stop::Requested()) return;
  size_t pending = link.port->OutputPending();
  if (pending == 0) return;
  for (uint64_t polls = DrainPolls(link, pending); polls > 0 && pending > 0 && !stop::Requested(); --polls) {
    timing::PollStep(kPollIntervalMs, [](int64_t us) { stop::SleepFor(us); });
    pending = link.port->OutputPending();
  }
}

void PauseAfterSend(ComLink& link, unsigned ms, std::string_view tag) {
  DrainOutput(link);
  timing::Pause(ms, tag);
}

void PurgeInput(ComLink& link) {
  if (link.IsOpen()) link.port->PurgeInput();
}

void ClosePort(ComLink& link) {
  // A raw upload that the handset does not answer is followed only by a
  // short pause; its tail must reach the line before the purge.
  DrainOutput(link);
  if (link.port) link.port->Purge();
  timing::Pause(kClosePortPauseMs, "ClosePort");
  if (link.port) {
    link.port->Close();
    link.port.reset();
  }
}

LinkPtr OpenLink(const std::string& portName, uint8_t baudCode) { return OpenLink(portName, baudCode, nullptr); }

LinkPtr OpenLink(const std::string& portName, uint8_t baudCode, std::string* why) {
  auto link = std::make_unique<ComLink>();
  link->SetPortName(portName);
  link->baudCode = baudCode;
  if (OpenPort(*link) != Result::Ok) {
    if (why != nullptr) *why = link->openFailure;
    return nullptr;
  }
  timing::Pause(kOpenLinkSettleMs, "OpenLink");
  return link;
}

void CloseLink(LinkPtr& link) {
  if (!link) return;
  PauseAfterSend(*link, kCloseLinkPauseMs, "CloseLink");
  ClosePort(*link);
  link.reset();
}

Result WritePort(ComLink& link, const uint8_t* data, uint32_t length, uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (!Usable(link)) return Result::ComPort;
  const size_t chunk = std::min<uint32_t>(length, kMaxWriteBytes);
  IoCount n;
  {
    // Under the gate: once a stop request has returned, no write starts.
    std::lock_guard<std::mutex> gate(stop::Gate());
    if (stop::Requested()) return Cancelled(link);
    n = link.port->Write(data, chunk);
  }
  if (n >= 0) {
    if (written != nullptr) *written = static_cast<uint32_t>(n);
    return Result::Ok;
  }
  if (n == -EAGAIN || n == -EINTR) return Result::Ok;  // driver queue full: an empty poll
  link.lastErrno = static_cast<int>(-n);
  return Result::ComPort;
}

Result ReadPort(ComLink& link, uint8_t* buffer, uint32_t length, uint32_t* got) {
  if (got != nullptr) *got = 0;
  if (!Usable(link)) return Result::ComPort;
  const IoCount n = link.port->Read(buffer, length);
  if (n >= 0) {
    if (got != nullptr) *got = static_cast<uint32_t>(n);
    return Result::Ok;
  }
  if (n == -EAGAIN || n == -EINTR) return Result::Ok;  // nothing has arrived yet
  link.lastErrno = static_cast<int>(-n);
  return Result::ComPort;
}

Result SendAll(ComLink& link, const void* data, uint32_t length, uint8_t idleSeconds) {
  // The bytes are only read; the loop shares its shape with ReceiveExactly.
  auto* bytes = const_cast<uint8_t*>(static_cast<const uint8_t*>(data));
  return TransferLoop(
      link, bytes, length, idleSeconds, 0,
      [&](uint8_t* p, uint32_t n, uint32_t* moved) { return WritePort(link, p, n, moved); },
      [&](int64_t us) { link.port->WaitWritable(us); }, [] { return kFullQueuePolls; });
}

Result ReceiveExactly(ComLink& link, void* buffer, uint32_t length, uint8_t idleSeconds) {
  // Reading goes on while the queue drains, so an early answer costs nothing.
  uint64_t grace = 0;
  if (length != 0 && link.IsOpen()) {
    if (const size_t pending = link.port->OutputPending(); pending > 0) grace = DrainPolls(link, pending);
  }
  return TransferLoop(
      link, static_cast<uint8_t*>(buffer), length, idleSeconds, grace,
      [&](uint8_t* p, uint32_t n, uint32_t* moved) { return ReadPort(link, p, n, moved); },
      [&](int64_t us) { link.port->WaitReadable(us); }, [] { return 1u; });
}

uint8_t SetHostBaud(ComLink& link, uint8_t code) {
  if (link.IsOpen()) link.rate = link.port->Rate();
  const uint8_t previous = BaudRateToCode(link.rate);
  const uint32_t rate = BaudCodeToRate(code);
  link.rate = rate;
  if (rate == 0) return kSetHostBaudInvalid;
  if (link.IsOpen()) {
    if (int err = link.port->SetRate(rate); err != 0) {
      link.lastErrno = err;
      Trace("Updater: " + std::string(link.portName) + ": rate change refused: " + std::strerror(err));
    }
    link.rate = link.port->Rate();
    link.lineFault = RateRefusal(link.portName, rate, link.rate);
    if (!link.lineFault.empty()) Trace("Updater: " + link.lineFault);
  }
  return previous;
}

}  // namespace vantrel
