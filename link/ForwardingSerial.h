#pragma once
// A serial device that hands every call to another one. Wrappers that watch
// the line (the command line's byte counter, the tests' write counters)
// derive from it and override only what they watch; everything else reaches
// the real device unchanged, the pending-output query that the drains rely
// on included.
#include <memory>
#include <utility>

#include "link/SerialDevice.h"

namespace vantrel {

class ForwardingSerial : public SerialDevice {
 public:
  explicit ForwardingSerial(std::unique_ptr<SerialDevice> inner) : inner_(std::move(inner)) {}

  int Open(const std::string& path, std::string* why) override { return inner_->Open(path, why); }
  void Close() override { inner_->Close(); }
  bool IsOpen() const override { return inner_->IsOpen(); }
  int Configure(uint32_t rate) override { return inner_->Configure(rate); }
  uint32_t Rate() override { return inner_->Rate(); }
  int SetRate(uint32_t rate) override { return inner_->SetRate(rate); }
  void Purge() override { inner_->Purge(); }
  void PurgeInput() override { inner_->PurgeInput(); }
  IoCount Write(const uint8_t* data, size_t len) override { return inner_->Write(data, len); }
  IoCount Read(uint8_t* buf, size_t len) override { return inner_->Read(buf, len); }
  void WaitReadable(int64_t us) override { inner_->WaitReadable(us); }
  void WaitWritable(int64_t us) override { inner_->WaitWritable(us); }
  size_t OutputPending() override { return inner_->OutputPending(); }
  int NativeHandle() const override { return inner_->NativeHandle(); }

 private:
  std::unique_ptr<SerialDevice> inner_;
};

}  // namespace vantrel
