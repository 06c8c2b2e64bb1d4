#pragma once
// The handset's side of the line replaced by fuzz input: a SerialDevice that
// answers every read from the input and accepts (or refuses) writes as the
// input's header says, with all protocol pauses and polls taking no time.
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/ComLink.h"

namespace vantrel::fuzz {

// Reads the fuzz input front to back; past the end it yields zeros.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint32_t Word() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(Byte()) << (8 * i);
    return v;
  }
  // Up to `max` bytes (fewer when the input ends).
  std::string Bytes(size_t max) {
    const size_t n = max < size_ - pos_ ? max : size_ - pos_;
    std::string out(reinterpret_cast<const char*>(data_ + pos_), n);
    pos_ += n;
    return out;
  }
  const uint8_t* Rest() const { return data_ + pos_; }
  size_t RestSize() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Installs the fuzz device factory, zero-time pauses and polls, muted traces
// and a quiet standard output. Safe to call on every run.
void Init();

// The bytes the handset sends for this run, and how it treats the host's
// writes (`writeMode`: low bits choose accept all / short writes / a port
// error / a stalled line after a number of writes given by the high bits).
void SetHandset(const uint8_t* data, size_t size, uint8_t writeMode);

// Reads an image file out of the input: a 16-bit length, then that many
// bytes, written to one scratch file that every run reuses.
std::string FileFromInput(Input& in, size_t maxBytes = 8192);

// Opens `link` on the fuzz device at `code`. False when the open failed.
bool OpenFuzzLink(ComLink& link, uint8_t code);

}  // namespace vantrel::fuzz
