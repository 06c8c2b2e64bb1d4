#include "tests/support/HostLinkTap.h"

#include <stdlib.h>
#include <cstdio>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "link/ForwardingSerial.h"
#include "link/Stop.h"
#include "link/Timing.h"

namespace vantrel::test {
namespace {

using sim::HostTap;
using Clock = std::chrono::steady_clock;

// On a loaded machine the handset's thread can wait seconds for a core (the
// busy loops of `scripts/test.sh --under-load` share its scheduling group).
// A wait this long means a state of the handset that no wait here foresaw:
// it costs time instead of hanging the suite.
constexpr auto kGiveUpAfter = std::chrono::seconds(30);
constexpr auto kLookAgainAfter = std::chrono::microseconds(200);

class TappedSerial;

std::mutex g_mutex;
std::vector<std::shared_ptr<HostTap>> g_taps;
std::vector<TappedSerial*> g_open;  // tapped devices that are open
SerialFactory g_previous;
bool g_installed = false;

std::string RealPath(const std::string& path) {
  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return path;
  std::string out = resolved;
  ::free(resolved);
  return out;
}

std::shared_ptr<HostTap> FindTap(const std::string& path) {
  const std::string real = RealPath(path);
  std::lock_guard<std::mutex> lock(g_mutex);
  for (const auto& tap : g_taps) {
    std::lock_guard<std::mutex> tapLock(tap->mutex);
    if (tap->devicePath == real) return tap;
  }
  return nullptr;
}

// Waits until `settled`, and says what it gave up on: a wait given up is a
// state of the handset that no wait here foresaw.
template <typename Settled, typename Describe>
void Await(const char* what, Settled settled, Describe describe) {
  const auto giveUp = Clock::now() + kGiveUpAfter;
  while (!settled() && !stop::Requested()) {
    if (Clock::now() >= giveUp) {
      std::fprintf(stderr, "HostLinkTap: gave up waiting for the handset (%s): %s\n", what, describe().c_str());
      return;
    }
    std::this_thread::sleep_for(kLookAgainAfter);
  }
}

// What the handset sends is taken off the line into `stash_` as it arrives,
// so that the device knows when all of it has arrived; reads are served
// from there, and a purge empties it as it would the driver's queue.
class TappedSerial final : public ForwardingSerial {
 public:
  using ForwardingSerial::ForwardingSerial;
  ~TappedSerial() override { Forget(); }

  int Open(const std::string& path, std::string* why) override {
    const int rc = ForwardingSerial::Open(path, why);
    if (rc != 0) return rc;
    tap_ = FindTap(path);
    if (!tap_) return rc;
    line_ = tap_->line.load();
    failure_ = 0;
    stash_.clear();
    {
      std::lock_guard<std::mutex> lock(tap_->mutex);
      tap_->owed = tap_->taken.load();
      landed_ = tap_->sent.load();
    }
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_open.push_back(this);
    }
    HostActed();
    return rc;
  }
  void Close() override {
    if (!tap_) return ForwardingSerial::Close();
    (void)Purging(true, [&] {  // a close purges the line
      ForwardingSerial::Close();
      return 0;
    });
    Forget();
    tap_.reset();
  }
  int Configure(uint32_t rate) override {
    return Purging(true, [&] { return ForwardingSerial::Configure(rate); });
  }
  int SetRate(uint32_t rate) override {
    return Purging(true, [&] { return ForwardingSerial::SetRate(rate); });
  }
  void Purge() override {
    (void)Purging(true, [&] {
      ForwardingSerial::Purge();
      return 0;
    });
  }
  void PurgeInput() override {
    (void)Purging(false, [&] {
      ForwardingSerial::PurgeInput();
      return 0;
    });
  }
  IoCount Write(const uint8_t* data, size_t len) override {
    if (!tap_) return ForwardingSerial::Write(data, len);
    // Owed before the bytes can arrive, so that the handset never finds
    // them missing from the count.
    tap_->owed += len;
    const IoCount n = ForwardingSerial::Write(data, len);
    tap_->owed -= len - static_cast<size_t>(std::max<IoCount>(n, 0));
    return n;
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    if (!tap_) return ForwardingSerial::Read(buf, len);
    Pull();
    if (stash_.empty()) return failure_ != 0 ? failure_.load() : -EAGAIN;
    const size_t n = std::min(len, stash_.size());
    std::copy_n(stash_.begin(), n, buf);
    stash_.erase(stash_.begin(), stash_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<IoCount>(n);
  }
  void WaitReadable(int64_t us) override {
    if (tap_) {
      Await("an idle poll", [this] { return Idle(); }, [this] { return Describe(); });
      if (!stash_.empty() || failure_ != 0) return;
    }
    ForwardingSerial::WaitReadable(us);
  }
  void WaitWritable(int64_t us) override {
    if (tap_) Await("a full line", [this] { return Processed(); }, [this] { return Describe(); });
    ForwardingSerial::WaitWritable(us);
  }

  // Read from any thread (the pause gate).
  std::string Describe() const {
    const uint64_t d = tap_->doing.load();
    char text[256];
    std::snprintf(text, sizeof text,
                  "taken %llu of %llu owed, sent %llu and %llu arrived, activity %d after host event %llu of %llu, "
                  "line %llu (opened on %llu), failure %ld",
                  static_cast<unsigned long long>(tap_->taken.load()), static_cast<unsigned long long>(tap_->owed.load()),
                  static_cast<unsigned long long>(tap_->sent.load()), static_cast<unsigned long long>(landed_.load()),
                  static_cast<int>(d & 3), static_cast<unsigned long long>(d >> 2),
                  static_cast<unsigned long long>(tap_->hostEvents.load()),
                  static_cast<unsigned long long>(tap_->line.load()), static_cast<unsigned long long>(line_),
                  static_cast<long>(failure_.load()));
    return text;
  }
  bool Processed() const {
    if (Gone()) return true;
    return !tap_->HostBytesOnTheirWay() && tap_->Waits(/*timerToo=*/true);
  }

 private:
  bool Gone() const { return failure_ != 0 || tap_->line.load() != line_ || tap_->Stopped(); }
  bool Delivered() const { return Gone() || !tap_->HostBytesOnTheirWay(); }
  // Nothing comes unless the host sends something: the handset waits for the
  // host with no timer of its own, and all it sent has arrived. Taken is
  // read before what it does, and what it sent after: a wait it announced
  // after its last answer then covers that answer.
  bool Idle() {
    Pull();
    if (!stash_.empty() || Gone()) return true;
    if (tap_->HostBytesOnTheirWay() || !tap_->Waits(/*timerToo=*/false)) return false;
    const uint64_t sent = tap_->sent.load();
    Pull();
    return stash_.empty() && landed_ >= sent;
  }
  void Pull() {
    uint8_t buf[4096];
    while (failure_ == 0) {
      const IoCount n = ForwardingSerial::Read(buf, sizeof buf);
      if (n > 0) {
        stash_.insert(stash_.end(), buf, buf + n);
        landed_ += static_cast<uint64_t>(n);
        continue;
      }
      if (n < 0 && n != -EAGAIN && n != -EINTR) failure_ = n;
      return;
    }
  }
  // A purge discards what is queued: in, and with `output` out as well.
  template <typename Act>
  int Purging(bool output, Act act) {
    if (!tap_) return act();
    Await("a purge", [this] { return Delivered(); }, [this] { return Describe(); });
    int rc = 0;
    {
      std::lock_guard<std::mutex> lock(tap_->mutex);  // the handset writes nothing meanwhile
      rc = act();
      stash_.clear();
      landed_ = tap_->sent.load();
      if (output) tap_->owed = tap_->taken.load();
    }
    HostActed();
    return rc;
  }
  // Opens, closes and purges are events the handset has to look at.
  void HostActed() {
    ++tap_->hostEvents;
    std::lock_guard<std::mutex> lock(tap_->mutex);
    if (tap_->wakeFd >= 0) {
      const uint64_t one = 1;
      ssize_t n = ::write(tap_->wakeFd, &one, sizeof one);
      (void)n;
    }
  }
  void Forget() {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::erase(g_open, this);
  }

  std::shared_ptr<HostTap> tap_;
  uint64_t line_ = 0;
  std::deque<uint8_t> stash_;
  std::atomic<uint64_t> landed_{0};  // what the handset had sent by the last purge, and what has arrived since
  std::atomic<IoCount> failure_{0};
};

std::unique_ptr<SerialDevice> MakeTapped() {
  SerialFactory previous;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    previous = g_previous;
  }
  return std::make_unique<TappedSerial>(previous ? previous() : MakePosixSerial());
}

// Every open tapped device's handset has done what the pause was for.
void AwaitEveryHandset() {
  Await(
      "a pause",
      [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        return std::all_of(g_open.begin(), g_open.end(), [](const TappedSerial* d) { return d->Processed(); });
      },
      [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::string out;
        for (const TappedSerial* d : g_open) out += d->Describe() + "; ";
        return out;
      });
}

}  // namespace

void RegisterHostTap(const std::shared_ptr<HostTap>& tap) {
  bool install = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_taps.push_back(tap);
    install = !g_installed;
    g_installed = true;
  }
  if (install) {
    SerialFactory previous = SetSerialFactory(MakeTapped);
    timing::GatePauses(AwaitEveryHandset);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_previous = std::move(previous);
  }
}

void UnregisterHostTap(const std::shared_ptr<HostTap>& tap) {
  SerialFactory restore;
  bool uninstall = false;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    std::erase(g_taps, tap);
    if (g_taps.empty() && g_installed) {
      g_installed = false;
      uninstall = true;
      restore = std::move(g_previous);
      g_previous = nullptr;
    }
  }
  if (uninstall) {
    timing::GatePauses(nullptr);
    SetSerialFactory(std::move(restore));
  }
}

}  // namespace vantrel::test
