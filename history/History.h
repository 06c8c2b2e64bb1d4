#pragma once
// The station log: an append-only file of JSON Lines, one record per handset
// and run, in the user's data folder. Every program that talks to handsets
// appends to the same file; a crash or a power cut while a record is written
// costs that record and never an earlier one.
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vantrel::history {

// $XDG_DATA_HOME/vantrel-downloader/history.jsonl (or ~/.local/share/...).
std::string HistoryPath();

// Appends `record` as one line. The line goes out in one write() on a file
// opened with O_APPEND under an exclusive flock, then reaches the disk
// (fdatasync) before the call returns, so concurrent writers never
// interleave. Creates the folders. Returns 0 or the errno of the failed step.
[[nodiscard]] int AppendRecord(const nlohmann::json& record, const std::string& path = HistoryPath());

struct Contents {
  std::vector<nlohmann::json> records;  // in the order written
  int damaged = 0;                      // lines that are not a JSON object (a torn write)
  int error = 0;                        // errno when the file exists but cannot be read
};
// A missing file is an empty history.
Contents ReadRecords(const std::string& path = HistoryPath());

// "2026-12-08T10:15:30Z" (UTC), the form of a record's "when".
std::string UtcText(std::time_t t);
// A record's "when", or what an operator types for --since: "2026-12-08",
// "2026-12-08 10:15", "2026-12-08T10:15:30" (local time) or the same with a
// trailing "Z" (UTC).
std::optional<std::time_t> ParseTime(const std::string& text);

struct Filter {
  std::optional<std::time_t> since;
  std::string port;  // "COM3"; empty: every port
  bool failedOnly = false;
};
bool Matches(const nlohmann::json& record, const Filter& filter);

// One line for a person: when, port, result, time taken, operations, IDs.
std::string TextLine(const nlohmann::json& record);
// CSV (RFC 4180): a header line, then one row per record.
std::string CsvHeader();
std::string CsvRow(const nlohmann::json& record);

}  // namespace vantrel::history
