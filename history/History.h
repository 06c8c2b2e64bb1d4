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

#include "platform/Files.h"
#include "platform/Lines.h"

namespace vantrel::history {

// $XDG_DATA_HOME/vantrel-downloader/history.jsonl (or ~/.local/share/...).
std::string HistoryPath();

// Appends `record` as one line. The line goes out in one write under an
// exclusive lock and reaches the disk before the call returns, so concurrent
// writers never interleave. Creates the folders. Only a regular file is
// written: a link planted at the path is not followed, and a FIFO or a
// folder there is refused, saying what it is.
[[nodiscard]] platform::FileError AppendRecord(const nlohmann::json& record, const std::string& path = HistoryPath());

// The deepest nesting of arrays and objects a line may have. A record is a
// few levels deep; a line nested thousands deep is no record, and would
// exhaust the stack of whatever prints it.
inline constexpr int kMaxJsonDepth = 64;
// One line of JSON, parsed when it is JSON nested at most kMaxJsonDepth deep;
// a discarded value otherwise. For every line another program wrote.
nlohmann::json ParseJsonLine(const std::string& line);

// The log read one record at a time, in the order written, so that a long
// history costs the memory of one line. A missing file is an empty history.
class RecordReader {
 public:
  explicit RecordReader(const std::string& path = HistoryPath());
  // Why the log cannot be read: it is a folder, a FIFO, a link, or the
  // system refused (from the start, or after a failed read).
  const platform::FileError& Error() const { return error_; }
  // The next record; false at the end or on an error.
  bool Next(nlohmann::json* record);
  // Lines that are not a JSON object (a torn write), or longer than any
  // record should be.
  int Damaged() const { return damaged_ + static_cast<int>(lines_.DroppedLines()); }

 private:
  platform::File file_;
  platform::FileError error_;
  platform::LineSplitter lines_;
  std::vector<std::string> ready_;
  size_t next_ = 0;
  bool ended_ = false;
  int damaged_ = 0;
};

struct Contents {
  std::vector<nlohmann::json> records;  // in the order written
  int damaged = 0;                      // see RecordReader::Damaged
  platform::FileError error;            // see RecordReader::Error
};
// The whole log at once (small logs and tests; the history command reads
// one record at a time).
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
// CSV (RFC 4180): a header line, then one row per record. A cell that a
// spreadsheet would take for a formula (it begins with =, +, -, @, a tab or a
// carriage return) is set off with a single quote.
std::string CsvHeader();
std::string CsvRow(const nlohmann::json& record);

}  // namespace vantrel::history
