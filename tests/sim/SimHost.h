#pragma once
// A bare host for the simulator's own tests: the link layer's port calls and
// byte sequences written out by hand, so that the tests say exactly what
// travels on the wire (the host's protocol routines are not used here).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "link/ComLink.h"
#include "payloads/Payloads.h"
#include "sim/Simulator.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ResultNumbers.h"
#include "tests/support/PayloadBytes.h"

namespace vantrel::sim::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Be(uint32_t w) {
  return {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16), static_cast<uint8_t>(w >> 8),
          static_cast<uint8_t>(w)};
}
inline Bytes Le(uint32_t w) {
  return {static_cast<uint8_t>(w), static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w >> 16),
          static_cast<uint8_t>(w >> 24)};
}
inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
inline Bytes Block(uint32_t cmd, uint32_t a1, uint32_t a2) { return Cat({Be(cmd), Be(a1), Be(a2), Be(0xFF00FF00)}); }
inline Bytes Frame(uint8_t kind, const Bytes& w1, const Bytes& w2) {
  return Cat({{kind, 0x00, 0x34, 0x12, 0, 0, 0, 0}, w1, w2});
}
inline uint8_t Sum(const Bytes& b) {
  unsigned s = 0;
  for (uint8_t v : b) s += v;
  return static_cast<uint8_t>(s);
}
inline uint32_t BeWord(const Bytes& b, size_t at = 0) {
  return (uint32_t{b[at]} << 24) | (uint32_t{b[at + 1]} << 16) | (uint32_t{b[at + 2]} << 8) | b[at + 3];
}
using vantrel::test::PayloadBytes;
inline Bytes Pattern(size_t n, uint32_t seed = 1) { return vantrel::test::PatternBytes(n, seed, 12345u, 0xFF); }

// A fault from its text form.
inline Fault F(const std::string& text) {
  Fault f;
  std::string error;
  EXPECT_TRUE(Fault::Parse(text, &f, &error)) << error;
  return f;
}

class Host {
 public:
  explicit Host(const std::string& com, uint8_t code = kBaud115200) {
    link_.SetPortName(com);
    link_.baudCode = code;
  }
  ~Host() { Close(); }

  void Open(uint8_t code = kBaud115200) {
    link_.baudCode = code;
    ASSERT_EQ(OpenPort(link_), 0);
  }
  void Close() {
    if (link_.IsOpen()) ClosePort(link_);
  }
  void Rate(uint8_t code) { SetHostBaud(link_, code); }
  void Send(const Bytes& b) { ASSERT_EQ(SendAll(link_, b.data(), static_cast<uint32_t>(b.size()), 6), 0); }
  void Send(uint8_t b) { Send(Bytes{b}); }
  // Receives exactly n bytes; an empty result when the handset stayed silent.
  Bytes Recv(size_t n, uint8_t idle = 6) {
    Bytes b(n);
    if (ReceiveExactly(link_, b.data(), static_cast<uint32_t>(n), idle) != Result::Ok) return {};
    return b;
  }
  int RecvByte(uint8_t idle = 6) {
    const Bytes b = Recv(1, idle);
    return b.empty() ? -1 : b[0];
  }
  ComLink& Link() { return link_; }

 private:
  ComLink link_;
};

// How the host ends each block of an image session: with its checksum byte,
// which the flash loaders echo and the boot image session does not, or with
// nothing (the loader on the USB link).
enum class BlockSum { Echoed, NotEchoed, None };

// Sends `data` in the blocks the handset asks for (0x2E and a length) until it
// ends the session (0x29); returns the number of blocks.
inline int SendAskedBlocks(Host& h, const Bytes& data, BlockSum sum) {
  size_t at = 0;
  int blocks = 0;
  for (;;) {
    const int op = h.RecvByte();
    if (op == 0x29) break;
    const Bytes len = op == 0x2E ? h.Recv(4) : Bytes{};
    if (len.size() != 4 || at + BeWord(len) > data.size()) {
      ADD_FAILURE() << "block " << blocks << ": unexpected byte " << op << " or length";
      return blocks;
    }
    const uint32_t n = BeWord(len);
    const Bytes block(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    h.Send(block);
    if (sum != BlockSum::None) h.Send(Sum(block));
    if (sum == BlockSum::Echoed) {
      EXPECT_EQ(h.RecvByte(), Sum(block));
    }
    EXPECT_EQ(h.RecvByte(), 0x27);
    h.Send(0x2D);
    at += n;
    ++blocks;
  }
  EXPECT_EQ(at, data.size());
  return blocks;
}

}  // namespace vantrel::sim::test
