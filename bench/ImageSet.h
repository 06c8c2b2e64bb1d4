#pragma once
// The benchmarks' image set: three records (the image-set download sends the
// first three) of 1/8, 7/16 and 7/16 of the total, each a whole number of
// blocks, so that no block is short (short blocks carry extra protocol pauses
// that would hide the tool's own cost). The bytes are pseudo-random.
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace vantrel::bench {

struct Record {
  uint32_t address;
  uint32_t length;
};

inline std::vector<Record> Layout(uint32_t total) {
  const uint32_t first = total / 8;
  const uint32_t rest = (total - first) / 2;
  return {{0x100000, first}, {0x100000 + first, rest}, {0x100000 + first + rest, rest}};
}

inline bool WriteImageSet(const std::string& path, const std::vector<Record>& records) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  std::mt19937 rng(12345);
  std::vector<uint8_t> data;
  bool ok = true;
  for (const Record& r : records) {
    const uint8_t head[8] = {static_cast<uint8_t>(r.address), static_cast<uint8_t>(r.address >> 8),
                             static_cast<uint8_t>(r.address >> 16), static_cast<uint8_t>(r.address >> 24),
                             static_cast<uint8_t>(r.length), static_cast<uint8_t>(r.length >> 8),
                             static_cast<uint8_t>(r.length >> 16), static_cast<uint8_t>(r.length >> 24)};
    data.resize(r.length);
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    ok = ok && std::fwrite(head, 1, sizeof head, f) == sizeof head;
    ok = ok && std::fwrite(data.data(), 1, data.size(), f) == data.size();
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace vantrel::bench
