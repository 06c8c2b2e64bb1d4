#include "bench/LineMeter.h"

namespace vantrel::bench {
namespace {

class MeteredSerial final : public SerialDevice {
 public:
  MeteredSerial(std::unique_ptr<SerialDevice> inner, LineTally* tally) : inner_(std::move(inner)), tally_(tally) {}

  int Open(const std::string& path, std::string* why) override { return inner_->Open(path, why); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  int Configure(uint32_t rate) override {
    const int rc = inner_->Configure(rate);
    rate_ = inner_->Rate();
    return rc;
  }
  uint32_t Rate() override { return inner_->Rate(); }
  int SetRate(uint32_t rate) override {
    const int rc = inner_->SetRate(rate);
    rate_ = inner_->Rate();
    return rc;
  }
  void Purge() override { inner_->Purge(); }
  IoCount Write(const uint8_t* data, size_t len) override {
    const IoCount n = inner_->Write(data, len);
    if (n > 0) Count(tally_->bytesOut, n);
    return n;
  }
  IoCount Read(uint8_t* buf, size_t len) override {
    const IoCount n = inner_->Read(buf, len);
    if (n > 0) Count(tally_->bytesIn, n);
    return n;
  }
  void WaitReadable(int64_t us) override { inner_->WaitReadable(us); }
  void WaitWritable(int64_t us) override { inner_->WaitWritable(us); }

 private:
  void Count(std::atomic<uint64_t>& bytes, IoCount n) {
    bytes.fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    if (rate_ > 0) {
      tally_->lineNs.fetch_add(static_cast<uint64_t>(n) * 10'000'000'000ULL / rate_, std::memory_order_relaxed);
    }
  }

  std::unique_ptr<SerialDevice> inner_;
  LineTally* tally_;
  uint32_t rate_ = 0;
};

}  // namespace

void InstallLineMeter(LineTally* tally) {
  SetSerialFactory([tally] { return std::make_unique<MeteredSerial>(MakePosixSerial(), tally); });
}

void UninstallLineMeter() { SetSerialFactory(nullptr); }

}  // namespace vantrel::bench
