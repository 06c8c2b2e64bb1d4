#pragma once
// A serial device that counts the bytes it moves, for the progress bar's
// bytes per second. It wraps the real device and changes nothing else; the
// count is one relaxed atomic addition per read or write call.
#include <atomic>
#include <memory>

#include "link/ForwardingSerial.h"

namespace vantrel::cli {

inline std::atomic<uint64_t>& LineBytes() {
  static std::atomic<uint64_t> bytes{0};
  return bytes;
}

class CountingSerial : public ForwardingSerial {
 public:
  using ForwardingSerial::ForwardingSerial;
  IoCount Write(const uint8_t* data, size_t len) override { return Count(ForwardingSerial::Write(data, len)); }
  IoCount Read(uint8_t* buf, size_t len) override { return Count(ForwardingSerial::Read(buf, len)); }

 private:
  static IoCount Count(IoCount n) {
    if (n > 0) LineBytes().fetch_add(static_cast<uint64_t>(n), std::memory_order_relaxed);
    return n;
  }
};

}  // namespace vantrel::cli
