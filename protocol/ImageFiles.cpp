#include "protocol/ImageFiles.h"

#include <cerrno>
#include <cstdio>

#include "platform/TerminalText.h"
#include "protocol/SessionSupport.h"

namespace vantrel {

namespace {

constexpr uint64_t kRecordHeaderBytes = 8;

std::string Offset(uint64_t offset) {
  char text[48];
  std::snprintf(text, sizeof text, "offset %llu (0x%llX)", static_cast<unsigned long long>(offset),
                static_cast<unsigned long long>(offset));
  return text;
}

}  // namespace

std::optional<RecordFileFault> CheckRecordFile(const std::string& path) {
  detail::ImageFile file;
  if (!file.Open(path)) return RecordFileFault{};
  return detail::CheckRecordLayout(file);
}

namespace detail {

std::optional<RecordFileFault> CheckRecordLayout(ImageFile& file) {
  using Kind = RecordFileFault::Kind;
  const int64_t length = file.Length();
  if (length < 0 || !file.SeekTo(0)) return RecordFileFault{};
  const uint64_t size = static_cast<uint64_t>(length);
  uint64_t offset = 0;
  uint64_t data = 0;
  for (;;) {
    const uint64_t left = size - offset;
    if (left == 0 && offset != 0) break;
    if (left < kRecordHeaderBytes) return RecordFileFault{offset == 0 ? Kind::NoRecord : Kind::CutHeader, offset, 0, left};
    uint32_t address = 0;
    uint32_t claimed = 0;
    if (!file.ReadWordLe(&address) || !file.ReadWordLe(&claimed)) return RecordFileFault{Kind::Unreadable, offset, 0, left};
    if (claimed > left - kRecordHeaderBytes) return RecordFileFault{Kind::DataPastEnd, offset, claimed, left - kRecordHeaderBytes};
    offset += kRecordHeaderBytes + claimed;
    data += claimed;
    if (!file.SeekTo(offset)) return RecordFileFault{Kind::Unreadable, offset, 0, size - offset};
  }
  // Headers alone would end in "Download Finished" with nothing written.
  if (data == 0) return RecordFileFault{Kind::NoData, 0, 0, size};
  if (!file.SeekTo(0)) return RecordFileFault{};
  return std::nullopt;
}

}  // namespace detail

std::string RecordFileFaultText(const std::string& path, const RecordFileFault& fault) {
  std::string why;
  switch (fault.kind) {
    case RecordFileFault::Kind::Unreadable:
      why = "The file cannot be read.";
      break;
    case RecordFileFault::Kind::NoRecord:
      why = "It holds no complete record: " + std::to_string(fault.left) + " bytes at " + Offset(fault.offset) + ".";
      break;
    case RecordFileFault::Kind::CutHeader:
      why = std::to_string(fault.left) + " bytes are left over after the last record, at " + Offset(fault.offset) +
            ".";
      break;
    case RecordFileFault::Kind::DataPastEnd:
      why = "The record at " + Offset(fault.offset) + " claims " + std::to_string(fault.claimed) +
            " bytes; the file holds " + std::to_string(fault.left) + " after its header.";
      break;
    case RecordFileFault::Kind::NoData:
      why = "Its records hold no data bytes: there is nothing to write.";
      break;
  }
  // The path is a line of its own in the message.
  return "Image file format error\r\n" + platform::EscapeField(path) + "\r\n" + why;
}

}  // namespace vantrel
