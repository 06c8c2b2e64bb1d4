// The pseudo-terminal side of the simulator. <termios.h> is not included: the
// kernel's termios2 (for any rate, 812000 included) clashes with it.
#include "sim/Wire.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "sim/ComName.h"

namespace vantrel::sim {
namespace {

// Settle after the host's purges before the boot ROM speaks: opening the port
// purges several times (when the device opens, after the line is set up, and
// once more after the open's 100 ms pause), and a BOOT byte sent in between
// would be purged with the rest. The part that follows the host's own pause
// scales with the simulator's time scale (tests scale both to nothing).
constexpr double kPowerOnSettleMs = 20;
constexpr double kPowerOnSettleScaledMs = 130;
constexpr double kHostCheckMs = 10;
constexpr double kHangUpDowntimeMs = 200;
constexpr double kWriteStallMs = 3000;
// Pacing: the handset's receiver holds this many bytes that are still on the
// line; the rest wait in the pseudo-terminal, which plays the host's driver
// queue (a purge there discards them, as on a real port).
constexpr size_t kPacedReceiveBytes = 64;

Clock::duration Ms(double ms) {
  return std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double, std::milli>(std::max(0.0, ms)));
}

uint8_t Garbage(uint32_t receiverRate, uint32_t senderRate) {
  // A receiver slower than the sender sees short pulses: mostly start bits and
  // framing errors, read as 0x00. A faster one sees long low stretches
  // followed by idle line: taken here as 0xFF.
  return receiverRate < senderRate ? 0x00 : 0xFF;
}

std::string RateText(uint32_t rate) { return std::to_string(rate) + " bit/s"; }

// Marks an input wait as a wait for the host for as long as it lasts (a power
// event or a purge unwinds it with an exception).
class AwaitingHost {
 public:
  AwaitingHost(bool& flag, bool on) : flag_(flag) { flag_ = on; }
  ~AwaitingHost() { flag_ = false; }
  AwaitingHost(const AwaitingHost&) = delete;
  AwaitingHost& operator=(const AwaitingHost&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void Control::Wake() const {
  if (wakeFd < 0) return;
  const uint64_t one = 1;
  ssize_t n = ::write(wakeFd, &one, sizeof one);
  (void)n;
}

Wire::Wire(const Options& options, Recorder& recorder, FaultBook& faults, Control& control)
    : options_(options), rec_(recorder), faults_(faults), control_(control) {}

Wire::~Wire() { Close(); }

int Wire::Open(std::string* error) {
  const int err = CreatePty(error);
  if (err != 0) return err;
  return 0;
}

void Wire::Close() {
  const std::string path = DevicePath();
  DestroyPty();
  if (options_.comNumber > 0) WithdrawComName(options_.comNumber, path);
}

std::string Wire::DevicePath() const {
  std::lock_guard<std::mutex> lock(pathMutex_);
  return devicePath_;
}

int Wire::CreatePty(std::string* error) {
  auto fail = [&](const std::string& what, int err) {
    if (error) *error = what + ": " + std::strerror(err);
    DestroyPty();
    return err;
  };
  master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master_ < 0) return fail("posix_openpt", errno);
  if (::grantpt(master_) != 0) return fail("grantpt", errno);
  if (::unlockpt(master_) != 0) return fail("unlockpt", errno);
  char name[128] = {};
  if (::ptsname_r(master_, name, sizeof name) != 0) return fail("ptsname", errno);
  slave_ = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (slave_ < 0) return fail(name, errno);
  // A raw line at the boot ROM's rate until the host sets it up: no echo of
  // what the handset sends before the host opens the port.
  struct termios2 tio;
  if (::ioctl(slave_, TCGETS2, &tio) == 0) {
    tio.c_iflag = 0;
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT) | CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL | B115200;
    tio.c_ispeed = tio.c_ospeed = 115200;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::ioctl(slave_, TCSETS2, &tio);
  }
  int one = 1;
  if (::ioctl(master_, TIOCPKT, &one) != 0) return fail("TIOCPKT", errno);
  const int flags = ::fcntl(master_, F_GETFL);
  ::fcntl(master_, F_SETFL, flags | O_NONBLOCK);
  {
    std::lock_guard<std::mutex> lock(pathMutex_);
    devicePath_ = name;
  }
  Publish(Activity::Busy);
  rateAtPurge_ = HostRate();
  hostOpen_ = false;
  if (options_.comNumber > 0) {
    std::string why;
    if (const int err = PublishComName(options_.comNumber, name, publishedPath_, &why); err != 0) {
      if (error) *error = why;
      DestroyPty();
      return err;
    }
    publishedPath_ = name;
  }
  return 0;
}

void Wire::DestroyPty() {
  if (slave_ >= 0) ::close(slave_);
  if (master_ >= 0) ::close(master_);
  slave_ = master_ = -1;
  queue_.clear();
  purgeHold_ = false;
}

void Wire::SetPowered(bool on) {
  powered_ = on;
  fresh_ = false;
  muted_ = false;
  powerOnAt_.reset();
  queue_.clear();
  purgeHold_ = false;
  offBytes_ = 0;
  handsetRate_ = 115200;
  RateMatch();
  if (on && !earlyBytes_.empty()) {
    Chunk c;
    c.bytes = std::move(earlyBytes_);
    c.rateAtPurge = rateAtPurge_;
    c.rateAtRead = HostRate();
    queue_.push_back(std::move(c));
  }
  earlyBytes_.clear();
}

void Wire::StayOffUntilReopened() {
  // The host holds the port through its close pause and purges on its way
  // out; neither is a new start. The handset cannot see a close followed by
  // a quick reopen, but the host's open claims the line for itself again:
  // so the claim is lifted here, and the next claim is the next start.
  if (slave_ >= 0) ::ioctl(slave_, TIOCNXCL);
  powerOnAt_.reset();
}

void Wire::SetFresh(bool fresh) {
  fresh_ = fresh;
  if (!fresh && powered_) powerOnAt_.reset();
}

void Wire::HangUp(const std::string& why) {
  rec_.Note("line hung up (" + why + "); a new port appears under the same name shortly");
  DestroyPty();
  recreateAt_ = Clock::now() + Ms(kHangUpDowntimeMs);
  throw PowerEvent{kPowerOff, "line hung up"};
}

void Wire::SetHandsetRate(uint32_t rate) { handsetRate_ = rate; }

uint32_t Wire::HostRate() const {
  if (master_ < 0) return 0;
  struct termios2 tio;
  if (::ioctl(master_, TCGETS2, &tio) != 0) return 0;
  return tio.c_ospeed;
}

bool Wire::HostHoldsPort() const {
  if (slave_ < 0) return false;
  int excl = 0;
  if (::ioctl(slave_, TIOCGEXCL, &excl) != 0) return false;
  return excl != 0;
}

void Wire::CheckControl() {
  if (control_.stop.load()) throw StopEvent{};
  const int req = control_.power.exchange(kPowerNone);
  if (req == kPowerNone || (req == kPowerOn && powered_) || (req == kPowerOff && !powered_)) return;
  throw PowerEvent{req == kPowerOff ? kPowerOff : kPowerOn, "switched from outside"};
}

double Wire::PowerOnSettle() const {
  return std::max(kPowerOnSettleMs + kPowerOnSettleScaledMs * options_.timeScale,
                  options_.powerOnDelayMs * options_.timeScale);
}

void Wire::OnHostOpened(const char* how) {
  if (!hostOpen_) {
    hostOpen_ = true;
    rec_.Note(std::string("host opened the port (") + how + ", host rate " + RateText(HostRate()) + ")");
  }
}

void Wire::Publish(Activity activity) {
  if (master_ < 0) return;
  ++told_;
  const winsize word{kActivityMark, static_cast<unsigned short>(activity), static_cast<unsigned short>(told_),
                     static_cast<unsigned short>(told_ >> 16)};
  ::ioctl(master_, TIOCSWINSZ, &word);
}

bool Wire::TookInTheHost(bool midUnit) {
  if (master_ < 0) return true;
  const size_t before = queue_.size();
  ReadPackets(midUnit);
  WatchHost(true);
  return queue_.size() == before;
}

void Wire::WatchHost(bool atOnce) {
  const Clock::time_point now = Clock::now();
  if (!atOnce && now - lastHostCheck_ < Ms(kHostCheckMs)) return;
  lastHostCheck_ = now;
  const bool holds = HostHoldsPort();
  if (holds && !hostOpen_) {
    OnHostOpened("seen");
    if (options_.autoPowerOn && (!powered_ || fresh_)) {
      powerOnAt_ = now + Ms(PowerOnSettle());
    }
  } else if (!holds && hostOpen_) {
    hostOpen_ = false;
    hostClosedAt_ = now;
    rec_.Note("host closed the port");
  }
  // The operator switches the handset on for a tool that holds the port.
  // A host that purges on its way out (it still holds the port for that
  // purge) has gone before the switch-on falls due: the handset stays off.
  if (!holds && powerOnAt_ && !powered_) {
    powerOnAt_.reset();
    rec_.Note("switch-on dropped: the host let go of the port");
  }
}

void Wire::OnPurge(bool midUnit) {
  rateAtPurge_ = HostRate();
  lastHostRate_ = rateAtPurge_;
  const bool holds = HostHoldsPort();
  if (holds) OnHostOpened("purge");
  rec_.Note("host purged the line (host rate " + RateText(rateAtPurge_) + ")");
  if (holds && options_.autoPowerOn && (!powered_ || fresh_)) {
    powerOnAt_ = Clock::now() + Ms(PowerOnSettle());
  }
  if (midUnit && powered_) {
    // A purge recalls only what the host's driver still held. What the
    // handset has already received stays with the unit it belongs to; the
    // unit is cut short only if it needs more than that (ReadPackets).
    if (queue_.empty()) throw SessionAbort{"the host purged the line"};
    purgeHold_ = true;
  }
}

void Wire::ReadPackets(bool midUnit) {
  if (purgeHold_) {
    // Bytes from after the purge must not complete a unit from before it.
    if (!queue_.empty()) return;
    purgeHold_ = false;
    if (midUnit && powered_) throw SessionAbort{"the host purged the line"};
  }
  uint8_t buf[4097];
  for (int rounds = 0; rounds < 64; ++rounds) {
    size_t want = sizeof buf;
    if (options_.pacing) {
      const size_t onLine = BytesOnLine();
      if (onLine >= kPacedReceiveBytes) return;
      want = 1 + kPacedReceiveBytes - onLine;
    }
    const ssize_t n = ::read(master_, buf, want);
    if (n < 0 && errno == EAGAIN) inputSeenEmpty_ = true;
    if (n <= 0) return;
    if (buf[0] != TIOCPKT_DATA) {
      if (buf[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) OnPurge(midUnit);
      if (purgeHold_) return;
      continue;
    }
    if (n == 1) continue;
    const size_t count = static_cast<size_t>(n - 1);
    lastActivity_ = Clock::now();
    if (answerOutAt_) {
      using std::chrono::nanoseconds;
      rec_.Turnaround(std::chrono::duration_cast<nanoseconds>(lastActivity_.time_since_epoch()).count(),
                      std::chrono::duration_cast<nanoseconds>(lastActivity_ - *answerOutAt_).count());
      answerOutAt_.reset();
    }
    quietArmed_ = true;
    if (!powered_ && powerOnAt_) {
      // The host spoke before the handset finished switching on: it is on now
      // and keeps what arrived.
      earlyBytes_.insert(earlyBytes_.end(), buf + 1, buf + n);
      powerOnAt_ = Clock::now();
      continue;
    }
    if (!powered_) {
      if (offBytes_ == 0) rec_.Note("bytes from the host while the handset is off are lost");
      offBytes_ += count;
      continue;
    }
    // The host already talks to the untouched boot ROM: no more switching.
    if (fresh_) powerOnAt_.reset();
    Chunk c;
    c.bytes.assign(buf + 1, buf + n);
    c.rateAtPurge = rateAtPurge_;
    c.rateAtRead = HostRate();
    lastHostRate_ = c.rateAtRead;
    if (options_.pacing) {
      // Bytes that were waiting in the host's queue follow the previous ones
      // back to back; bytes written after the line fell idle start now. The
      // line's clock never takes the time of this read, so late wake-ups of
      // the simulator do not slow the line down.
      const uint32_t rate = std::max<uint32_t>(1, HandsetRate());
      const Clock::time_point start = inputSeenEmpty_ ? std::max(lineInFreeAt_, Clock::now()) : lineInFreeAt_;
      lineInFreeAt_ = start + Ms(static_cast<double>(count) * 10000.0 / rate);
      c.readyAt = lineInFreeAt_;
    }
    inputSeenEmpty_ = false;
    queue_.push_back(std::move(c));
  }
}

void Wire::Pump(Clock::time_point until, bool midUnit) {
  // Returns as well when the first waiting bytes have come over the line.
  const bool waitingForFront = options_.pacing && Front() != nullptr && !FrontReady();
  for (;;) {
    CheckControl();
    if (waitingForFront && FrontReady()) return;
    Clock::time_point now = Clock::now();
    if (powerOnAt_ && now >= *powerOnAt_) {
      // What the host wrote before the switch-on fell due reaches the
      // handset first, however late this thread runs.
      const size_t before = queue_.size();
      ReadPackets(midUnit);
      if (queue_.size() != before) return;
    }
    if (powerOnAt_ && now >= *powerOnAt_) {
      powerOnAt_.reset();
      if (!powered_ && !HostHoldsPort()) {
        rec_.Note("switch-on dropped: the host let go of the port");
        continue;
      }
      throw PowerEvent{kPowerOn, "host opened the port"};
    }
    const double quietMs = control_.quietCycleMs.load();
    if (quietMs > 0 && quietArmed_ && now - lastActivity_ >= Ms(quietMs)) {
      quietArmed_ = false;
      if (!control_.quietCycleRepeat.load()) control_.quietCycleMs = 0;
      throw PowerEvent{kPowerCycle, "the line was quiet for " + std::to_string(static_cast<int>(quietMs)) + " ms"};
    }
    if (master_ < 0) {
      if (recreateAt_ && now >= *recreateAt_) {
        recreateAt_.reset();
        std::string error;
        if (CreatePty(&error) == 0) {
          rec_.Note("line back on a new port: " + DevicePath());
        } else {
          rec_.Note("cannot make a new port: " + error);
          recreateAt_ = now + Ms(1000);
        }
        continue;
      }
    } else {
      WatchHost(false);
    }
    if (now >= until) return;

    Clock::time_point wake = std::min(until, now + Ms(kHostCheckMs));
    if (powerOnAt_) wake = std::min(wake, *powerOnAt_);
    if (recreateAt_) wake = std::min(wake, *recreateAt_);
    if (quietMs > 0 && quietArmed_) wake = std::min(wake, lastActivity_ + Ms(quietMs));
    bool inputHeld = false;
    if (options_.pacing) {
      for (const Chunk& c : queue_) {
        if (c.pos < c.bytes.size() && c.readyAt > now) {
          wake = std::min(wake, c.readyAt);
          break;
        }
      }
      inputHeld = BytesOnLine() >= kPacedReceiveBytes;
    }
    if (purgeHold_ && !queue_.empty()) inputHeld = true;

    Activity activity = Activity::Busy;
    if (awaitingHost_ && Front() == nullptr) {
      if (!TookInTheHost(midUnit)) return;
      if (powerOnAt_) wake = std::min(wake, *powerOnAt_);
      const bool timer = powerOnAt_ || recreateAt_ || (quietMs > 0 && quietArmed_);
      activity = timer ? Activity::AwaitsTimer : Activity::AwaitsHost;
    }
    pollfd fds[2] = {{control_.wakeFd, POLLIN, 0}, {master_, static_cast<short>(inputHeld ? 0 : POLLIN), 0}};
    const nfds_t nfds = master_ >= 0 ? 2 : 1;
    // Sub-millisecond waits: the paced line moves a byte every 11 us at 921600 bit/s.
    const auto waitNs = std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::nanoseconds>(wake - now).count());
    const timespec timeout{static_cast<time_t>(waitNs / 1000000000), static_cast<long>(waitNs % 1000000000)};
    Publish(activity);
    const int r = ::ppoll(fds, nfds, &timeout, nullptr);
    if (activity != Activity::Busy) Publish(Activity::Busy);
    if (r <= 0) continue;
    if (fds[0].revents & POLLIN) {
      uint64_t v;
      ssize_t n = ::read(control_.wakeFd, &v, sizeof v);
      (void)n;
    }
    if (nfds == 2 && (fds[1].revents & POLLIN)) {
      const size_t before = queue_.size();
      ReadPackets(midUnit);
      if (queue_.size() != before) return;
    }
  }
}

void Wire::Judge(Chunk& c) {
  c.judged = true;
  const uint32_t handset = HandsetRate();
  if (options_.usb || c.rateAtPurge == handset || c.rateAtRead == handset) {
    RateMatch();
    return;
  }
  const uint32_t sender = c.rateAtRead;
  const std::vector<uint8_t> sent(c.bytes.begin() + static_cast<long>(c.pos), c.bytes.end());
  std::fill(c.bytes.begin() + static_cast<long>(c.pos), c.bytes.end(), Garbage(handset, sender));
  rec_.Exchange(Recorder::Dir::HostToHandset, sent.data(), sent.size(), sender, handset,
                "arrives corrupted: the host sends at " + RateText(sender) + ", the handset listens at " +
                    RateText(handset));
  RateMismatch("rate mismatch: the host sends at " + RateText(sender) + " while the handset listens at " +
               RateText(handset));
}

void Wire::RateMismatch(const std::string& text) {
  if (mismatch_) return;
  mismatch_ = true;
  rec_.Violation(text);
}

Wire::Chunk* Wire::Front() {
  while (!queue_.empty() && queue_.front().pos >= queue_.front().bytes.size()) queue_.pop_front();
  return queue_.empty() ? nullptr : &queue_.front();
}

bool Wire::FrontReady() {
  const Chunk* c = Front();
  return c != nullptr && (!options_.pacing || Clock::now() >= c->readyAt);
}

size_t Wire::BytesOnLine() const {
  if (!options_.pacing) return 0;
  const Clock::time_point now = Clock::now();
  size_t n = 0;
  for (auto it = queue_.rbegin(); it != queue_.rend() && it->readyAt > now; ++it) n += it->bytes.size() - it->pos;
  return n;
}

bool Wire::TakeByte(uint8_t* out) {
  if (!FrontReady()) return false;
  Chunk& c = queue_.front();
  if (!c.judged) Judge(c);
  *out = c.bytes[c.pos++];
  if (c.pos >= c.bytes.size()) queue_.pop_front();
  return true;
}

bool Wire::ReadByte(uint8_t* out, double timeoutMs, bool midUnit, bool decidesAfter) {
  const Clock::time_point until = timeoutMs < 0 ? Clock::time_point::max() : Clock::now() + Ms(timeoutMs);
  for (;;) {
    if (TakeByte(out)) return true;
    if (const Chunk* c = Front(); c != nullptr) {
      Pump(c->readyAt, midUnit);  // a byte is on its way over the line
      continue;
    }
    if (Clock::now() >= until) return false;
    const AwaitingHost waiting(awaitingHost_, !decidesAfter);
    Pump(until, midUnit);
  }
}

bool Wire::Peek(uint8_t* out, double timeoutMs, bool midUnit) {
  if (!ReadByte(out, timeoutMs, midUnit)) return false;
  Unread(out, 1);
  return true;
}

bool Wire::Read(uint8_t* out, size_t length, double gapMs, bool midUnit, size_t* got) {
  size_t done = 0;
  while (done < length) {
    if (const Chunk* waiting = Front(); waiting != nullptr && !FrontReady()) {
      Pump(waiting->readyAt, midUnit);  // on its way over the line
      continue;
    }
    if (FrontReady()) {
      Chunk& c = queue_.front();
      if (!c.judged) Judge(c);
      const size_t take = std::min(length - done, c.bytes.size() - c.pos);
      std::memcpy(out + done, c.bytes.data() + c.pos, take);
      c.pos += take;
      done += take;
      continue;
    }
    const Clock::time_point until = Clock::now() + Ms(gapMs);
    const AwaitingHost waiting(awaitingHost_, true);
    while (Front() == nullptr && Clock::now() < until) Pump(until, midUnit);
    if (Front() == nullptr) break;
  }
  if (got) *got = done;
  return done == length;
}

void Wire::Unread(const uint8_t* data, size_t length) {
  if (length == 0) return;
  Chunk c;
  c.bytes.assign(data, data + length);
  c.judged = true;
  queue_.push_front(std::move(c));
}

void Wire::DiscardInput() {
  queue_.clear();
  purgeHold_ = false;
}

void Wire::Sleep(double ms) {
  const Clock::time_point until = Clock::now() + Ms(ms);
  while (Clock::now() < until) Pump(until, false);
}

void Wire::AwaitPower() {
  const AwaitingHost waiting(awaitingHost_, true);
  for (;;) Pump(Clock::time_point::max(), false);
}

void Wire::LogIn(const uint8_t* data, size_t length, const std::string& meaning) {
  rec_.Exchange(Recorder::Dir::HostToHandset, data, length, LastHostRate(), HandsetRate(), meaning);
}

void Wire::Send(const std::vector<uint8_t>& bytes, const std::string& event, const std::string& meaning) {
  const FaultBook::SendPlan plan = faults_.PlanSend(event);
  for (const std::string& f : plan.fired) rec_.Note("fault " + f + " fires");
  if (muted_ || master_ < 0) {
    rec_.Exchange(Recorder::Dir::HandsetToHost, bytes.data(), bytes.size(), HostRate(), HandsetRate(),
                  meaning + " (not sent: the handset is silent)");
    return;
  }
  std::vector<uint8_t> out = plan.strayBefore;
  if (plan.suppress) {
    muted_ = true;
    rec_.Exchange(Recorder::Dir::HandsetToHost, bytes.data(), bytes.size(), HostRate(), HandsetRate(),
                  meaning + " (not sent: the handset falls silent)");
    if (out.empty()) return;
  } else {
    out.insert(out.end(), bytes.begin(), bytes.end());
  }
  const uint32_t host = HostRate();
  const uint32_t handset = HandsetRate();
  const bool holds = HostHoldsPort();
  std::string what = plan.strayBefore.empty() ? meaning : "stray bytes, then " + meaning;
  if (plan.suppress) what = "stray bytes";
  std::vector<uint8_t> wire = out;
  if (!options_.usb && holds && host != 0 && host != handset) {
    std::fill(wire.begin(), wire.end(), Garbage(host, handset));
    what += " (arrives corrupted: the host listens at " + RateText(host) + ")";
    RateMismatch("rate mismatch: the handset sends at " + RateText(handset) + " while the host listens at " +
                 RateText(host));
  } else if (holds) {
    RateMatch();
  }
  if (!holds) what += " (the host has the port closed)";
  rec_.Exchange(Recorder::Dir::HandsetToHost, out.data(), out.size(), host, handset, what);
  WriteAll(wire.data(), wire.size());
  if (holds) answerOutAt_ = Clock::now();
  if (plan.muteAfter) {
    muted_ = true;
    rec_.Note("the handset falls silent");
  }
}

void Wire::WriteAll(const uint8_t* data, size_t length) {
  size_t done = 0;
  Clock::time_point lastProgress = Clock::now();
  // Paced: each slice reaches the host when its last bit would, so the line's
  // clock starts when the line is free and never slips with late wake-ups.
  Clock::time_point lineAt = std::max(lineOutFreeAt_, lastProgress);
  while (done < length && master_ >= 0) {
    CheckControl();
    size_t slice = length - done;
    const uint32_t rate = std::max<uint32_t>(1, HandsetRate());
    if (options_.pacing) {
      slice = std::min<size_t>(slice, std::max<size_t>(1, rate / 10 / 200));  // about 5 ms of line time
      const Clock::time_point due = lineAt + Ms(static_cast<double>(slice) * 10000.0 / rate);
      if (Clock::now() < due) {
        Pump(due, false);
        continue;
      }
    }
    const ssize_t n = ::write(master_, data + done, slice);
    if (n > 0) {
      done += static_cast<size_t>(n);
      lastProgress = Clock::now();
      lastActivity_ = lastProgress;
      if (options_.pacing) {
        lineAt += Ms(static_cast<double>(n) * 10000.0 / rate);
        lineOutFreeAt_ = lineAt;
      }
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) break;
    if (Clock::now() - lastProgress > Ms(kWriteStallMs)) {
      rec_.Note("the host takes no more bytes; " + std::to_string(length - done) + " bytes dropped");
      return;
    }
    // The line is full: the handset waits for the host to read.
    Publish(TookInTheHost(false) ? Activity::AwaitsHost : Activity::Busy);
    pollfd p{master_, POLLOUT | POLLIN, 0};
    const int r = ::poll(&p, 1, 5);
    Publish(Activity::Busy);
    if (r > 0 && (p.revents & POLLIN)) ReadPackets(false);
  }
}

}  // namespace vantrel::sim
