#include "tests/support/ImageFiles.h"

namespace vantrel::test {

std::vector<uint8_t> RecordFileBytes(const std::vector<ImageRecord>& records) {
  std::vector<uint8_t> bytes;
  for (const ImageRecord& r : records) {
    const uint32_t words[2] = {r.address, static_cast<uint32_t>(r.data.size())};
    for (uint32_t w : words)
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    bytes.insert(bytes.end(), r.data.begin(), r.data.end());
  }
  return bytes;
}

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed, uint32_t salt, uint8_t erasedStandIn) {
  std::vector<uint8_t> out(count);
  uint32_t x = seed * 2654435761u + salt;
  for (auto& b : out) {
    x = x * 1103515245u + 12345u;
    b = static_cast<uint8_t>(x >> 16);
    if (b == 0xFF) b = erasedStandIn;
  }
  return out;
}

}  // namespace vantrel::test
