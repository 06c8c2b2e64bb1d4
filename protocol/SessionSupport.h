#pragma once
// Helpers shared by the protocol routines of this folder only: image files,
// wire words read from the handset and the record selection rules.
#include <cstdint>
#include <cstdio>
#include <string>

#include "link/ComLink.h"
#include "protocol/ImageFiles.h"
#include "protocol/TargetSession.h"

namespace vantrel::detail {

// An image file opened for binary reading; closed when it goes out of scope.
class ImageFile {
 public:
  ImageFile() = default;
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;
  ~ImageFile();

  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  // Reads exactly `count` bytes; false when the file ends first.
  bool ReadExactly(void* buffer, uint32_t count);
  // Reads a 32-bit word stored least significant byte first.
  bool ReadWordLe(uint32_t* value);
  // Moves the read position by `delta` bytes (may be negative).
  bool Skip(int64_t delta);
  bool SeekTo(uint64_t offset);
  int64_t Position() const;
  int64_t Length() const;

 private:
  std::FILE* file_ = nullptr;
};

// Walks the records of an open image file from its start; nothing when
// every byte belongs to a complete record. Leaves the file at its start.
std::optional<RecordFileFault> CheckRecordLayout(ImageFile& file);

// Reads one block of an image file for a UART or USB session. In UART mode a
// block below 128 KiB is followed by a 1000 ms pause (tag "ReadFileBlock").
bool ReadFileBlock(LinkMode mode, ImageFile& file, uint8_t* buffer, uint32_t count);

// Reads a 4-byte big-endian word from the handset (idle 6 s).
Result ReceiveWordBe(ComLink& link, uint32_t* value);
// Reads one byte from the handset (idle 6 s).
Result ReceiveByte(ComLink& link, uint8_t* value);
// Sends one byte to the handset (idle 6 s).
Result SendByte(ComLink& link, uint8_t value);

// The answers that end an image exchange before FP_Finished, traced as
// received: FP_AddrWrong and FP_ImageTooLarge refuse the start command's
// address or length (Result::InvalidAddress), FP_Failed means the loader lost
// step (Result::Sync). Any other byte is Result::Internal.
Result EarlyEndResult(uint8_t answer);

// What the record-file sessions do with the next record of a given type.
enum class RecordVerdict { Send, Skip, End };
// Applies the selection rules to a session's selection state, using the
// counters of the UART form or of the USB form.
RecordVerdict SelectRecord(RecordSelection& selection, uint32_t type, bool usbForm);

}  // namespace vantrel::detail

namespace vantrel::detail {

// Sends a 32-bit number most significant byte first (idle 6 s).
Result SendWordBe(ComLink& link, uint32_t value);

// Reads a 32-bit number stored least significant byte first at `at`.
inline uint32_t WordLeAt(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | (static_cast<uint32_t>(at[1]) << 8) | (static_cast<uint32_t>(at[2]) << 16) |
         (static_cast<uint32_t>(at[3]) << 24);
}

}  // namespace vantrel::detail
