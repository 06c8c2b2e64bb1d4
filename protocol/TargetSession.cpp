#include "protocol/TargetSession.h"

#include <cstring>
#include <new>

#include "protocol/Constants.h"

namespace vantrel {

namespace {

uint8_t* BufferOf(std::unique_ptr<uint8_t[]>& buffer, uint32_t bytes) {
  if (!buffer) buffer.reset(new (std::nothrow) uint8_t[bytes]());
  return buffer.get();
}

}  // namespace

TargetSession::TargetSession() = default;
TargetSession::~TargetSession() = default;

bool TargetSession::TakeImageBytes(const uint8_t* image, uint32_t imageLength, uint8_t* destination,
                                   uint32_t length) {
  const uint32_t cursor = imageCursor_.load();
  // Widened so that a huge request cannot wrap around and pass the check.
  if (static_cast<uint64_t>(cursor) + length > imageLength) return false;
  if (length != 0) std::memcpy(destination, image + cursor, length);
  imageCursor_.store(cursor + length);
  return true;
}

uint16_t TargetSession::NextSequenceValue() {
  uint32_t state = sequenceState_.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = state * 214013u + 2531011u;
  } while (!sequenceState_.compare_exchange_weak(state, next, std::memory_order_relaxed));
  return static_cast<uint16_t>((next >> 16) & 0x7FFFu);
}

void TargetSession::SetSelection(uint8_t head, uint8_t middle, uint8_t resource1, uint8_t resource2,
                                 uint8_t calibration, uint8_t rest) {
  // The counters start over with the flags: a session that ended half-way
  // through the middle records must not shorten the next one.
  selection_ = RecordSelection{head, middle, resource1, resource2, calibration, rest, 0, 0, 0, 0};
}

uint8_t* TargetSession::BootImageBlockBuffer() { return BufferOf(bootImageBlock_, proto::kUartBlockBuffer); }
uint8_t* TargetSession::ImageSetUsbBuffer() { return BufferOf(imageSetUsbBlock_, proto::kUsbBlockBuffer); }
uint8_t* TargetSession::FileUsbBuffer() { return BufferOf(fileUsbBlock_, proto::kUsbBlockBuffer); }

}  // namespace vantrel
