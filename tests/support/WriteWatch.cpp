#include "tests/support/WriteWatch.h"

#include <memory>

#include "link/ForwardingSerial.h"

namespace vantrel::test {

class WriteWatch::Device : public ForwardingSerial {
 public:
  Device(std::unique_ptr<SerialDevice> inner, WriteWatch* watch) : ForwardingSerial(std::move(inner)), watch_(watch) {}
  IoCount Write(const uint8_t* data, size_t len) override {
    if (watch_->armed_) ++watch_->writes_;
    return ForwardingSerial::Write(data, len);
  }

 private:
  WriteWatch* watch_;
};

WriteWatch::WriteWatch() {
  previous_ = SetSerialFactory(nullptr);
  SerialFactory inner = previous_;
  SetSerialFactory([this, inner] {
    return std::unique_ptr<SerialDevice>(new Device(inner ? inner() : MakeNativeSerial(), this));
  });
}

WriteWatch::~WriteWatch() { SetSerialFactory(previous_); }

}  // namespace vantrel::test
