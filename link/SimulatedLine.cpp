#include "link/SimulatedLine.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/ForwardingSerial.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "link/Trace.h"

namespace vantrel {
namespace {

using Clock = std::chrono::steady_clock;

// On a loaded machine the simulator's thread can wait seconds for a core. A
// wait this long means a state of the simulator that no wait here foresaw:
// it costs time instead of hanging the run.
constexpr auto kGiveUpAfter = std::chrono::seconds(30);
constexpr auto kLookAgainAfter = std::chrono::microseconds(200);

struct Word {
  bool simulator = false;  // false: no simulator (any more) on this line
  SimulatorActivity activity = SimulatorActivity::Busy;
  uint32_t told = 0;
};

Word ReadWord(int fd) {
  winsize w{};
  if (fd < 0 || ::ioctl(fd, TIOCGWINSZ, &w) != 0 || w.ws_row != kSimulatorMark) return {};
  return {true, static_cast<SimulatorActivity>(w.ws_col), static_cast<uint32_t>(w.ws_xpixel | w.ws_ypixel << 16)};
}

enum class OnStop { End, Wait };

// Waits until `settled`; what it gave up on goes to the developer traces.
// A stop ends the wait, except where the job is on its way out anyway and
// the wait only lets the handset take in what it was already sent.
template <typename Settled, typename Describe>
void Await(const char* what, Settled settled, Describe describe, OnStop onStop = OnStop::End) {
  const auto giveUp = Clock::now() + kGiveUpAfter;
  while (!settled() && (onStop == OnStop::Wait || !stop::Requested())) {
    if (Clock::now() >= giveUp) {
      Trace(std::string("Updater: gave up waiting for the handset simulator at ") + what + ": " + describe());
      return;
    }
    std::this_thread::sleep_for(kLookAgainAfter);
  }
}

class FollowingSerial;
std::mutex g_mutex;
std::vector<const FollowingSerial*> g_watched;  // open devices whose far end is the simulator

// What the simulator sends is taken off the line into `stash_` once it says
// that it waits, so that nothing it sent before is mistaken for silence;
// reads are served from there, and a purge empties it as it would the
// driver's queue.
class FollowingSerial final : public ForwardingSerial {
 public:
  using ForwardingSerial::ForwardingSerial;
  ~FollowingSerial() override { StopWatching(); }

  int Open(const std::string& path, std::string* why) override {
    const int rc = ForwardingSerial::Open(path, why);
    stash_.clear();
    failure_ = 0;
    if (rc != 0 || !ReadWord(NativeHandle()).simulator) return rc;
    watch_ = NativeHandle();
    {
      std::lock_guard<std::mutex> lock(g_mutex);
      g_watched.push_back(this);
    }
    Acted();
    return rc;
  }
  void Close() override {
    // Even a stopped job's last bytes reach the handset before the port is
    // gone, as they would on a real line: what the handset makes of them
    // belongs to this run, not to whatever runs next.
    if (Watching()) AwaitProcessed("a close", OnStop::Wait);
    StopWatching();
    ForwardingSerial::Close();
  }
  int Configure(uint32_t rate) override {
    return Acting("a rate change", [&] { return ForwardingSerial::Configure(rate); });
  }
  int SetRate(uint32_t rate) override {
    return Acting("a rate change", [&] { return ForwardingSerial::SetRate(rate); });
  }
  void Purge() override {
    (void)Acting("a purge", [&] {
      ForwardingSerial::Purge();
      return 0;
    });
  }
  void PurgeInput() override {
    (void)Acting("a purge", [&] {
      ForwardingSerial::PurgeInput();
      return 0;
    });
  }
  IoCount Write(const uint8_t* data, size_t len) override {
    const IoCount n = ForwardingSerial::Write(data, len);
    if (n > 0 && Watching()) Acted();
    return n;
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    if (stash_.empty()) return failure_ != 0 ? failure_ : ForwardingSerial::Read(buf, len);
    const size_t n = std::min(len, stash_.size());
    std::copy_n(stash_.begin(), n, buf);
    stash_.erase(stash_.begin(), stash_.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<IoCount>(n);
  }
  void WaitReadable(int64_t us) override {
    if (Watching()) {
      Await("an idle poll", [this] { return Idle(); }, [this] { return Describe(); });
      if (!stash_.empty() || failure_ != 0) return;
    }
    ForwardingSerial::WaitReadable(us);
  }
  void WaitWritable(int64_t us) override {
    if (Watching()) AwaitProcessed("a full line");
    ForwardingSerial::WaitWritable(us);
  }

  // The simulator has taken in what the host did last, and waits again
  // (for the host or a timer of its own). Read from any thread.
  bool Processed() const {
    const Word w = ReadWord(watch_);
    return !w.simulator || (w.activity != SimulatorActivity::Busy && SaidSince(w));
  }
  std::string Describe() const {
    const Word w = ReadWord(watch_);
    if (!w.simulator) return "no simulator on the line";
    return "activity " + std::to_string(static_cast<int>(w.activity)) + ", said " + std::to_string(w.told) +
           " times, " + std::to_string(mark_.load()) + " when the host last acted";
  }

 private:
  bool Watching() const { return watch_ >= 0; }
  // Its count is a wait announced at least twice since the host acted: the
  // second announcement was prepared (and looked at the line) after the host
  // had read the count, that is after the host had acted.
  bool SaidSince(const Word& w) const { return static_cast<int32_t>(w.told - mark_.load()) >= 2; }
  void Acted() { mark_ = ReadWord(watch_).told; }
  void AwaitProcessed(const char* what, OnStop onStop = OnStop::End) {
    Await(what, [this] { return Processed(); }, [this] { return Describe(); }, onStop);
  }
  // Nothing comes unless the host sends something: the simulator waits for
  // the host with no timer of its own, and all it sent has been read.
  bool Idle() {
    Pull();
    if (!stash_.empty() || failure_ != 0) return true;
    const Word w = ReadWord(watch_);
    if (!w.simulator) return true;
    if (w.activity != SimulatorActivity::AwaitsHost || !SaidSince(w)) return false;
    // A read brings in what the kernel still carries from the handset.
    Pull();
    return true;
  }
  void Pull() {
    uint8_t buf[4096];
    while (failure_ == 0) {
      const IoCount n = ForwardingSerial::Read(buf, sizeof buf);
      if (n > 0) {
        stash_.insert(stash_.end(), buf, buf + n);
        continue;
      }
      if (n < 0 && n != -EAGAIN && n != -EINTR) failure_ = n;
      return;
    }
  }
  template <typename Act>
  int Acting(const char* what, Act act) {
    if (!Watching()) return act();
    AwaitProcessed(what);
    const int rc = act();
    stash_.clear();  // a purge (rate changes purge too) discards what was queued
    Acted();
    return rc;
  }
  void StopWatching() {
    if (!Watching()) return;
    std::lock_guard<std::mutex> lock(g_mutex);
    std::erase(g_watched, this);
    watch_ = -1;
  }

  int watch_ = -1;  // the open device, while its far end is the simulator
  std::atomic<uint32_t> mark_{0};  // the simulator's count when the host last acted
  std::deque<uint8_t> stash_;
  IoCount failure_ = 0;
};

void AwaitEverySimulator() {
  Await(
      "a pause",
      [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        return std::all_of(g_watched.begin(), g_watched.end(), [](const FollowingSerial* d) { return d->Processed(); });
      },
      [] {
        std::lock_guard<std::mutex> lock(g_mutex);
        std::string out;
        for (const FollowingSerial* d : g_watched) out += d->Describe() + "; ";
        return out;
      });
}

}  // namespace

std::unique_ptr<SerialDevice> FollowSimulator(std::unique_ptr<SerialDevice> device) {
  return std::make_unique<FollowingSerial>(std::move(device));
}

void GatePausesOnSimulators(bool on) {
  static std::mutex mutex;
  static int users = 0;
  std::lock_guard<std::mutex> lock(mutex);
  users += on ? 1 : -1;
  timing::GatePauses(users > 0 ? AwaitEverySimulator : std::function<void()>());
}

}  // namespace vantrel
