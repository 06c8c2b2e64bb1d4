#pragma once
// The checks DOWNLOAD and START make before a job may start: which files must
// be there, their size limits, the manual start addresses, and the messages
// the operator gets when a check fails.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jobs/JobRunner.h"
#include "jobs/OperationRecord.h"
#include "jobs/Outcome.h"

namespace vantrel {

// Size limits in bytes (inclusive).
inline constexpr uint32_t kImgsetMaxBytes = 0x323FFFF;
inline constexpr uint32_t kCalsetMaxBytes = 0x1FFFF;
inline constexpr uint32_t kRsrc1MaxBytes = 0x2600000;
inline constexpr uint32_t kRsrc2MaxBytes = 0xA00000;
inline constexpr uint32_t kRsrc1FsMaxBytes = 0xFFFFF;  // the file system of the Rsrc1-and-file-system item
// The entire-flash image has exactly this size; its file button checks the same value.
inline constexpr uint32_t kEntireFlashImageBytes = 0x2A69000;
// Manual download areas.
inline constexpr uint32_t kNandManualAlign = 0x20000;
inline constexpr uint32_t kNandManualLowest = 0x20000;
inline constexpr uint64_t kNandManualEnd = 0x7CC0000;
inline constexpr uint64_t kNorManualEnd = 0x1FFFFFF;

// Item radio values.
inline constexpr int kItemRsrc1 = 0;
inline constexpr int kItemRsrc1AndFs = 1;  // hidden
inline constexpr int kItemRsrc2 = 2;
inline constexpr int kItemFileSystem = 3;
inline constexpr int kItemImgset = 5;
inline constexpr int kItemCalset = 6;
inline constexpr int kItemAll = 7;
inline constexpr int kItemEntireFlash = 8;  // hidden
inline constexpr int kItemNorManual = 9;    // hidden
inline constexpr int kItemNandManual = 10;

// The NOR manual download's start address: the address as typed, less its
// low 7 bits times 1024 (the NOR row's rule). Nothing when that would fall
// below 0: the subtraction must not wrap round to the top of the range.
std::optional<uint32_t> NorManualStartAddress(uint32_t typed);

// What DOWNLOAD is to do for the chosen item.
struct DownloadPlan {
  bool ok = false;
  // On failure: the message boxes to show, in order, and what the failure
  // is. On success with a manual item: the start-address confirmation to
  // show first.
  std::vector<std::string> messages;
  FailureKind failure = FailureKind::None;
  Result result = Result::Ok;
  uint8_t operation = 0;
  ThreadProc proc = nullptr;
};

// Measures every image file of the record into the size beside its path (0
// for a file that cannot be opened).
void MeasureImageFiles(OperationRecord& rec);

// Checks the record for its download item. Rounds the manual start address
// (stored back into the record) as the item requires. A record file that
// does not parse to its last byte is refused with a message naming the file
// and the offset. A missing, misfit or damaged file is a file failure; no
// item, or an address in the protected area, a usage failure.
DownloadPlan PlanDownload(OperationRecord& rec);

// START with "Auto All Download": the first missing file's two messages, the
// message of the first record file that does not parse (a file failure
// either way), or nothing when every file the chain needs is there and sound.
std::vector<std::string> CheckAutoAllFiles(OperationRecord& rec);

}  // namespace vantrel
