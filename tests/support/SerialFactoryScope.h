#pragma once
// Installs a serial device factory for as long as it lives and puts the one
// it replaced back afterwards, so that a test's fake devices never outlive it.
#include <utility>

#include "link/SerialDevice.h"

namespace vantrel::test {

class SerialFactoryScope {
 public:
  explicit SerialFactoryScope(SerialFactory factory) : previous_(SetSerialFactory(std::move(factory))) {}
  ~SerialFactoryScope() { SetSerialFactory(previous_); }
  SerialFactoryScope(const SerialFactoryScope&) = delete;
  SerialFactoryScope& operator=(const SerialFactoryScope&) = delete;

 private:
  SerialFactory previous_;
};

}  // namespace vantrel::test
