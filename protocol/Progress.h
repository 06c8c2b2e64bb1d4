#pragma once
// What the protocol routines tell the job while they move data: one event per
// 1024-byte piece and per block, and the faults the log reports.
#include <cstdint>
#include <functional>
#include <optional>

namespace vantrel {

// A fault an image session reports. The values are the codes the log's
// wording is chosen by.
enum class ProgressFault : uint32_t {
  Checksum = 0,       // the block's checksum, in `value`, for the log
  ChecksumError = 1,  // the handset echoed another checksum
  RangeEnd = 2,       // a record or range is done: the log ends its line
  Resend = 3,         // the handset asked for the block again
  Sync = 4,
  InvalidAck = 5,
  NoResponse = 6,
};

struct ProgressEvent {
  // A whole block rather than one piece of it.
  bool block = false;
  // Set: a report for the log, not progress.
  std::optional<ProgressFault> fault;
  // The block's flash address (a piece: the length of its block).
  uint32_t address = 0;
  // The block's byte count; the checksum for ProgressFault::Checksum.
  uint32_t value = 0;
  // The block was erased (a format's step), not written.
  bool erase = false;

  static ProgressEvent Piece(uint32_t blockLength) { return {false, std::nullopt, blockLength, blockLength, false}; }
  static ProgressEvent Written(uint32_t address, uint32_t bytes) { return {true, std::nullopt, address, bytes, false}; }
  static ProgressEvent Erased(uint32_t address, uint32_t bytes) { return {true, std::nullopt, address, bytes, true}; }
  static ProgressEvent Fault(ProgressFault fault, uint32_t value = 0, bool block = true) {
    return {block, fault, 0, value, false};
  }
};

using ProgressCallBack = std::function<void(const ProgressEvent& event)>;
// Read-back progress: (final, data, address).
using DumpProgressCallBack = std::function<void(uint8_t final, const uint8_t* data, uint32_t address)>;
// Read-back block sink: (data, length). Returns false when the block could
// not be stored (the read-back then ends with 204).
using DumpDataCallBack = std::function<bool(const uint8_t* data, uint32_t length)>;

}  // namespace vantrel
