#pragma once
// --verify: after a download, read the written ranges back from the handset
// with the flash loader's dump command and compare them byte for byte with
// the file. The per-block 8-bit checksum of the transfer cannot catch every
// corruption (two errors that cancel out, a cell that stores a bit wrongly
// after it echoed right); a read-back can.
//
// The ranges are the blocks the download's transfers reported; each
// transfer's item names the file they came from.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Outcome.h"
#include "link/ResultCodes.h"

namespace vantrel {
struct OperationRecord;
class TargetSession;
}

namespace vantrel::cli {

// How a download's file maps onto flash addresses.
enum class Layout {
  Records,  // address/length records (image set, calset, resources)
  Raw,      // the whole file at a start address (manual downloads)
  Stream,   // the whole file, block after block (file system over UART)
  None      // not comparable with a file (embedded Boot2, entire flash with spare bytes)
};

struct VerifySource {
  Layout layout = Layout::None;
  FlashRegion flash = FlashRegion::Nand;
  std::string path;
  uint32_t base = 0;       // Raw: the start address; Stream: where the stream lands
  std::string why;         // None: why it is not verified
};

// The file behind a transfer as the record names it after the job.
VerifySource SourceForTransfer(const ImageTransfer& transfer, const OperationRecord& rec);
// The transfer as the command line's notes name it ("NAND : Imgset Download").
std::string TransferName(const ImageTransfer& transfer);

// A stretch of flash and the bytes the file says it must hold.
struct Span {
  FlashRegion flash = FlashRegion::Nand;
  uint32_t address = 0;
  std::vector<uint8_t> expected;
  std::string section;
};

// Maps the written ranges of one section onto its file and merges adjacent
// ranges. False (with `error`) when a range cannot be found in the file.
bool BuildSpans(const VerifySource& source, const std::vector<FlashRange>& ranges, std::vector<Span>& out,
                std::string& error);

// Address of the first byte that differs, or nothing when all are equal.
// A short read-back differs at its first missing byte.
std::optional<uint32_t> FirstDifference(uint32_t address, const std::vector<uint8_t>& expected,
                                        const std::vector<uint8_t>& actual);

// Reads `length` bytes at `address` through the running loader: the same
// open, rate change, dump command and rate return as the dump jobs. Returns
// a result code of the link and protocol (0 success); a handset that sends
// more than `length` bytes ends it with 205, keeping the first `length`.
using ReadBackTick = std::function<void(uint32_t address)>;
Result ReadBackFlash(TargetSession& session, OperationRecord& rec, FlashRegion flash, uint32_t address, uint32_t length,
                                std::vector<uint8_t>& out, const ReadBackTick& tick);

}  // namespace vantrel::cli
