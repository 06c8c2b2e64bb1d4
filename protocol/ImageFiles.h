#pragma once
// Image files the operator names: their record layout, checked before any
// of it goes to the handset. (They are opened through the platform layer,
// so that a pipe or a device never blocks the program.)
#include <cstdint>
#include <optional>
#include <string>


namespace vantrel {

// Why a record file does not parse: records are a 32-bit address and a
// 32-bit length, least significant byte first, then that many data bytes,
// back to back to the file's end.
struct RecordFileFault {
  enum class Kind {
    Unreadable,    // cannot be opened or read
    NoRecord,      // shorter than one record header
    CutHeader,     // 1 to 7 bytes left after the last record
    DataPastEnd,   // a record claims more data than the file holds after its header
    NoData,        // every record is empty: there is nothing to write
  };
  Kind kind = Kind::Unreadable;
  uint64_t offset = 0;   // where the faulty header (or the leftover) starts
  uint64_t claimed = 0;  // DataPastEnd: the record's length word
  uint64_t left = 0;     // bytes the file holds from `offset` on
};

// Nothing when every byte of the file belongs to a complete record and
// there is at least one data byte.
std::optional<RecordFileFault> CheckRecordFile(const std::string& path);

// The operator's message for a file that does not parse, naming the file
// and the offset.
std::string RecordFileFaultText(const std::string& path, const RecordFileFault& fault);

}  // namespace vantrel
