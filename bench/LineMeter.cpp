#include "bench/LineMeter.h"

#include "link/ForwardingSerial.h"

namespace vantrel::bench {
namespace {

class MeteredSerial final : public ForwardingSerial {
 public:
  MeteredSerial(std::unique_ptr<SerialDevice> inner, LineTally* tally)
      : ForwardingSerial(std::move(inner)), tally_(tally) {}

  int Configure(uint32_t rate) override {
    const int rc = ForwardingSerial::Configure(rate);
    rate_ = Rate();
    return rc;
  }
  int SetRate(uint32_t rate) override {
    const int rc = ForwardingSerial::SetRate(rate);
    rate_ = Rate();
    return rc;
  }
  IoCount Write(const uint8_t* data, size_t len) override {
    const IoCount n = ForwardingSerial::Write(data, len);
    if (n > 0) Count(tally_->bytesOut, n);
    return n;
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    const IoCount n = ForwardingSerial::Read(buf, len);
    if (n > 0) Count(tally_->bytesIn, n);
    return n;
  }

 private:
  void Count(std::atomic<uint64_t>& bytes, IoCount n) {
    bytes.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    if (rate_ > 0) {
      tally_->lineNs.fetch_add(static_cast<uint64_t>(n) * 10'000'000'000ULL / rate_, std::memory_order_relaxed);
    }
  }

  LineTally* tally_;
  uint32_t rate_ = 0;
};

}  // namespace

void InstallLineMeter(LineTally* tally) {
  SetSerialFactory([tally] { return std::make_unique<MeteredSerial>(MakePosixSerial(), tally); });
}

void UninstallLineMeter() { SetSerialFactory(nullptr); }

}  // namespace vantrel::bench
