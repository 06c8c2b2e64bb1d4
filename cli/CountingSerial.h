#pragma once
// A serial device that counts the bytes it moves, for the progress bar's
// bytes per second. It wraps the real device and changes nothing else; the
// count is one relaxed atomic addition per read or write call.
#include <atomic>
#include <memory>

#include "link/SerialDevice.h"

namespace vantrel::cli {

inline std::atomic<uint64_t>& LineBytes() {
  static std::atomic<uint64_t> bytes{0};
  return bytes;
}

class CountingSerial : public SerialDevice {
 public:
  explicit CountingSerial(std::unique_ptr<SerialDevice> inner) : inner_(std::move(inner)) {}
  int Open(const std::string& path, std::string* why) override { return inner_->Open(path, why); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  int Configure(uint32_t rate) override { return inner_->Configure(rate); }
  uint32_t Rate() override { return inner_->Rate(); }
  int SetRate(uint32_t rate) override { return inner_->SetRate(rate); }
  void Purge() override { inner_->Purge(); }
  IoCount Write(const uint8_t* data, size_t len) override { return Count(inner_->Write(data, len)); }
  IoCount Read(uint8_t* buf, size_t len) override { return Count(inner_->Read(buf, len)); }
  void WaitReadable(int64_t us) override { inner_->WaitReadable(us); }
  void WaitWritable(int64_t us) override { inner_->WaitWritable(us); }

 private:
  static IoCount Count(IoCount n) {
    if (n > 0) LineBytes().fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    return n;
  }
  std::unique_ptr<SerialDevice> inner_;
};

}  // namespace vantrel::cli
