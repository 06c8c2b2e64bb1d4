#include <mutex>

#include "link/SerialDevice.h"

namespace vantrel {
namespace {

std::mutex g_factoryMutex;
SerialFactory& Factory() {
  static SerialFactory factory;
  return factory;
}

}  // namespace

SerialFactory SetSerialFactory(SerialFactory factory) {
  std::lock_guard<std::mutex> lock(g_factoryMutex);
  SerialFactory old = std::move(Factory());
  Factory() = std::move(factory);
  return old;
}

std::unique_ptr<SerialDevice> MakeSerialDevice() {
  SerialFactory factory;
  {
    std::lock_guard<std::mutex> lock(g_factoryMutex);
    factory = Factory();
  }
  return factory ? factory() : MakeNativeSerial();
}

}  // namespace vantrel
