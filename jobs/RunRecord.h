#pragma once
// One entry of the station log, built alike by every front end: the command
// line fills in its operations from its arguments, the window from the
// operation record, and both leave the host, the tool version and the payload
// set to BuildRunRecord.
#include <cstdint>
#include <ctime>
#include <string>

#include <nlohmann/json.hpp>

#include "jobs/OperationRecord.h"
#include "jobs/Outcome.h"

namespace vantrel {

// Which handset payloads this build carries, for the record.
std::string PayloadSetText();

// {"role", "path", "size", "checksum"}: the file's size and byte sum as it is
// now (size and checksum are left out when it cannot be read).
nlohmann::json FileEntry(const std::string& role, const std::string& path);
// The files that the window's operation `operation` (a JobState::operation code)
// sends, taken from the record; an empty array for the others. `item` is the
// download item for a DOWNLOAD (the chains differ by it), else -1.
nlohmann::json OperationFiles(const OperationRecord& rec, uint8_t operation, int item = -1);

// [{"region": "NAND", "address": "0x4A0000", "length": 131072}, ...], the
// ranges joined where they touch.
nlohmann::json RangesJson(const std::vector<FlashRange>& ranges);
// An operation's entry gets the flash ranges it wrote and read.
void AddRanges(nlohmann::json& entry, const OperationOutcome& outcome);

struct RunFacts {
  std::time_t when = 0;
  std::string port;    // "COM3"
  std::string device;  // what COM3 stands for, "" when unknown
  std::string adapterSerial;  // the USB adapter's serial number, "" when none
  uint8_t flashId = 0;        // the loader's answer to the flash-type query; 0 when no loader ran
  // {"op", "files", "result"[, "reason"], "written", "read"}
  nlohmann::json operations = nlohmann::json::array();
  std::string result;  // "ok" for success, otherwise what kind of failure
  int status = 0;
  std::string reason;  // empty for success
  double seconds = 0;
};
nlohmann::json BuildRunRecord(const RunFacts& facts);

}  // namespace vantrel
