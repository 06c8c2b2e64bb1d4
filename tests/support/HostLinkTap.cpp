#include "tests/support/HostLinkTap.h"

#include <stdlib.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link/ForwardingSerial.h"

namespace vantrel::test {
namespace {

using sim::HostTap;

constexpr auto kDrainLimit = std::chrono::milliseconds(250);

std::mutex g_mutex;
std::vector<std::shared_ptr<HostTap>> g_taps;
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

class TappedSerial final : public ForwardingSerial {
 public:
  using ForwardingSerial::ForwardingSerial;

  int Open(const std::string& path, std::string* why) override {
    const int rc = ForwardingSerial::Open(path, why);
    tap_ = rc == 0 ? FindTap(path) : nullptr;
    if (tap_) target_ = tap_->taken.load();
    return rc;
  }
  void Close() override {
    Drain();
    ForwardingSerial::Close();
    tap_.reset();
  }
  int Configure(uint32_t rate) override {
    Drain();
    return ForwardingSerial::Configure(rate);
  }
  int SetRate(uint32_t rate) override {
    Drain();
    return ForwardingSerial::SetRate(rate);
  }
  void Purge() override {
    Drain();
    ForwardingSerial::Purge();
  }
  IoCount Write(const uint8_t* data, size_t len) override {
    const IoCount n = ForwardingSerial::Write(data, len);
    if (n > 0) target_ += static_cast<uint64_t>(n);
    return n;
  }

 private:
  void Drain() {
    if (!tap_) return;
    const auto until = std::chrono::steady_clock::now() + kDrainLimit;
    while (tap_->taken.load() < target_ && std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    // Whatever did not arrive in time is lost to the purge.
    target_ = tap_->taken.load();
  }

  std::shared_ptr<HostTap> tap_;
  uint64_t target_ = 0;
};

std::unique_ptr<SerialDevice> MakeTapped() {
  SerialFactory previous;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    previous = g_previous;
  }
  return std::make_unique<TappedSerial>(previous ? previous() : MakeNativeSerial());
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
  if (uninstall) SetSerialFactory(std::move(restore));
}

}  // namespace vantrel::test
