#include "history/History.h"

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "platform/Folders.h"
#include "platform/Host.h"

namespace vantrel::history {

namespace {

constexpr const char* kFileName = "history.jsonl";
// A line longer than this is no record of ours: skipped as damaged, without
// ever holding more of it than this.
constexpr size_t kMaxLineBytes = 16u << 20;
constexpr size_t kReadPiece = 64u << 10;

std::string Str(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// "com7" is COM7: operators type port names in either case.
bool SameLetters(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

std::string CsvField(const std::string& field) {
  // A file named "+1+cmd|calc.img" must not become a formula that the
  // spreadsheet runs; the quote shows as nothing but marks the cell as text.
  const std::string text = !field.empty() && std::string_view("=+-@\t\r").find(field[0]) != std::string_view::npos
                               ? "'" + field
                               : field;
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string out = "\"";
  for (char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

std::string OperationsText(const nlohmann::json& record) {
  std::string out;
  auto ops = record.find("operations");
  if (ops == record.end() || !ops->is_array()) return out;
  for (const auto& op : *ops) {
    if (!op.is_object()) continue;
    if (!out.empty()) out += "; ";
    out += Str(op, "op");
    const std::string result = Str(op, "result");
    if (!result.empty() && result != "ok") out += " (" + result + ")";
  }
  return out;
}

std::string FilesText(const nlohmann::json& record) {
  std::string out;
  auto ops = record.find("operations");
  if (ops == record.end() || !ops->is_array()) return out;
  for (const auto& op : *ops) {
    auto files = op.is_object() ? op.find("files") : op.end();
    if (!op.is_object() || files == op.end() || !files->is_array()) continue;
    for (const auto& f : *files) {
      if (!f.is_object()) continue;
      if (!out.empty()) out += "; ";
      auto size = f.find("size");
      out += Str(f, "path") + " (" + (size != f.end() && size->is_number() ? size->dump() : "?") + " bytes, " +
             Str(f, "checksum") + ")";
    }
  }
  return out;
}

std::string SecondsText(const nlohmann::json& record) {
  auto s = record.find("seconds");
  if (s == record.end() || !s->is_number()) return "";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.1f", s->get<double>());
  return buf;
}

}  // namespace

std::string HistoryPath() { return platform::InFolder(platform::DataFolder(), kFileName); }

platform::FileError AppendRecord(const nlohmann::json& record, const std::string& path) {
  // Paths and texts from a handset's port may hold bytes that are not UTF-8;
  // they are replaced rather than losing the record.
  const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  if (const std::string folder = platform::FolderOf(path); !folder.empty()) {
    if (platform::FileError e = platform::MakeFolders(folder)) return e;
  }
  // A writer killed in the middle of its line (or a power cut) leaves the
  // file without its final line break; the new record must not continue
  // that torn line, or it would be lost with it.
  return platform::AppendLocked(path, line, true);
}

nlohmann::json ParseJsonLine(const std::string& line) {
  // The parser itself keeps its nesting on the heap, but printing or walking
  // what it built recurses: the depth is counted first, in the text.
  int depth = 0;
  bool inString = false;
  for (size_t i = 0; i < line.size(); ++i) {
    const char c = line[i];
    if (inString) {
      if (c == '\\') ++i;
      else if (c == '"') inString = false;
    } else if (c == '"') {
      inString = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) return nlohmann::json(nlohmann::json::value_t::discarded);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return nlohmann::json::parse(line, nullptr, false);
}

RecordReader::RecordReader(const std::string& path) : lines_(kMaxLineBytes) {
  error_ = platform::OpenForReading(path, platform::Links::Refuse, &file_);
  if (error_.fault == platform::FileFault::Missing) error_ = {};
  if (!file_.IsOpen()) ended_ = true;
}

bool RecordReader::Next(nlohmann::json* record) {
  for (;;) {
    while (next_ < ready_.size()) {
      std::string& line = ready_[next_++];
      if (line.empty()) continue;
      nlohmann::json j = ParseJsonLine(line);
      if (j.is_discarded() || !j.is_object()) {
        ++damaged_;
        continue;
      }
      *record = std::move(j);
      return true;
    }
    ready_.clear();
    next_ = 0;
    if (ended_) return false;
    std::string piece(kReadPiece, '\0');
    size_t got = 0;
    error_ = file_.Read(piece.data(), piece.size(), &got);
    if (error_ || got == 0) {
      ended_ = true;
      file_.Close();
      if (!error_) lines_.Finish(ready_);
      continue;
    }
    lines_.Feed(piece.data(), got, ready_);
  }
}

Contents ReadRecords(const std::string& path) {
  Contents c;
  RecordReader reader(path);
  for (nlohmann::json r; reader.Next(&r);) c.records.push_back(std::move(r));
  c.damaged = reader.Damaged();
  c.error = reader.Error();
  return c;
}

std::string UtcText(std::time_t t) {
  const std::tm tm = platform::UtcTime(t);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return buf;
}

std::optional<std::time_t> ParseTime(const std::string& text) {
  std::string t = text;
  const bool utc = !t.empty() && (t.back() == 'Z' || t.back() == 'z');
  if (utc) t.pop_back();
  for (const char* format : {"%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M", "%Y-%m-%d %H:%M", "%Y-%m-%d"}) {
    std::tm tm{};
    if (!platform::ParseCalendar(t, format, &tm)) continue;
    tm.tm_isdst = -1;
    const std::time_t v = utc ? platform::FromUtc(tm) : std::mktime(&tm);
    if (v != static_cast<std::time_t>(-1)) return v;
  }
  return std::nullopt;
}

bool Matches(const nlohmann::json& record, const Filter& filter) {
  if (filter.failedOnly && Str(record, "result") == "ok") return false;
  if (!filter.port.empty() && !SameLetters(Str(record, "port"), filter.port)) return false;
  if (filter.since) {
    std::optional<std::time_t> when = ParseTime(Str(record, "when"));
    if (!when || *when < *filter.since) return false;
  }
  return true;
}

std::string TextLine(const nlohmann::json& record) {
  const std::string result = Str(record, "result");
  std::ostringstream out;
  out << Str(record, "when") << "  " << Str(record, "port") << "  ";
  if (result == "ok") out << "ok";
  else out << "FAILED (" << (result.empty() ? "?" : result) << ")";
  const std::string seconds = SecondsText(record);
  if (!seconds.empty()) out << "  " << seconds << " s";
  out << "  " << OperationsText(record);
  const std::string flash = Str(record, "flash_id"), adapter = Str(record, "adapter_serial");
  if (!flash.empty()) out << "  flash " << flash;
  if (!adapter.empty()) out << "  adapter " << adapter;
  const std::string reason = Str(record, "reason");
  if (result != "ok" && !reason.empty()) out << ": " << reason;
  return out.str();
}

std::string CsvHeader() {
  return "when,host,port,device,adapter_serial,flash_id,result,reason,seconds,operations,files,tool_version,"
         "payload_set";
}

std::string CsvRow(const nlohmann::json& r) {
  std::string row;
  for (const std::string& field :
       {Str(r, "when"), Str(r, "host"), Str(r, "port"), Str(r, "device"), Str(r, "adapter_serial"),
        Str(r, "flash_id"), Str(r, "result"), Str(r, "reason"), SecondsText(r), OperationsText(r), FilesText(r),
        Str(r, "tool_version"), Str(r, "payload_set")}) {
    if (!row.empty()) row += ',';
    row += CsvField(field);
  }
  return row;
}

}  // namespace vantrel::history
