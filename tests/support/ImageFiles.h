#pragma once
// Image files as the tests make them: records in the record-file layout, and
// deterministic pattern bytes to fill them with.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel::test {

// One record of a record file: address, then the data that goes there.
struct ImageRecord {
  uint32_t address = 0;
  std::vector<uint8_t> data;
};

// A record file's bytes: per record its address and length as 32-bit words,
// least significant byte first, then its data.
std::vector<uint8_t> RecordFileBytes(const std::vector<ImageRecord>& records);

// Deterministic pseudo-random bytes; the generator starts from
// seed * 2654435761 + salt. A byte that comes out as 0xFF (the erased flash
// value) is replaced by `erasedStandIn`, so a block that was never written
// shows; with 0xFF itself the bytes stay as they come.
std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed, uint32_t salt = 12345u, uint8_t erasedStandIn = 0x5A);

}  // namespace vantrel::test
