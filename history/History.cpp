#include "history/History.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vantrel::history {

namespace {

constexpr const char* kFolderName = "vantrel-downloader";
constexpr const char* kFileName = "history.jsonl";

std::string Str(const nlohmann::json& j, const char* key) {
  auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

int MakeFolders(const std::string& dir) {
  for (size_t pos = 1; pos <= dir.size(); ++pos) {
    if (pos != dir.size() && dir[pos] != '/') continue;
    if (::mkdir(dir.substr(0, pos).c_str(), 0700) != 0 && errno != EEXIST) return errno;
  }
  return 0;
}

int WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? errno : EIO;
    done += static_cast<size_t>(n);
  }
  return 0;
}

std::string CsvField(const std::string& text) {
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

std::string HistoryPath() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  // Relative values are invalid for XDG_DATA_HOME and are ignored.
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr && home[0] != '\0' ? home : "/tmp") + "/.local/share";
  }
  return base + "/" + kFolderName + "/" + kFileName;
}

int AppendRecord(const nlohmann::json& record, const std::string& path) {
  // Paths and texts from a handset's port may hold bytes that are not UTF-8;
  // they are replaced rather than losing the record.
  std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
  const size_t slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (int rc = MakeFolders(path.substr(0, slash)); rc != 0) return rc;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return errno;
  int rc = 0;
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      rc = errno;
      break;
    }
  }
  if (rc == 0) {
    // A writer killed in the middle of its line (or a power cut) leaves the
    // file without its final line break; the new record must not continue
    // that torn line, or it would be lost with it.
    struct stat st {};
    char last = '\n';
    if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
      line.insert(line.begin(), '\n');
    rc = WriteAll(fd, line);
    if (rc == 0 && ::fdatasync(fd) != 0) rc = errno;
  }
  if (::close(fd) != 0 && rc == 0) rc = errno;
  return rc;
}

Contents ReadRecords(const std::string& path) {
  Contents c;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno != ENOENT) c.error = errno;
    return c;
  }
  for (std::string line; std::getline(in, line);) {
    if (line.empty()) continue;
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    if (j.is_discarded() || !j.is_object()) {
      ++c.damaged;
      continue;
    }
    c.records.push_back(std::move(j));
  }
  return c;
}

std::string UtcText(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
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
    const char* end = ::strptime(t.c_str(), format, &tm);
    if (end == nullptr || *end != '\0') continue;
    tm.tm_isdst = -1;
    const std::time_t v = utc ? ::timegm(&tm) : std::mktime(&tm);
    if (v != static_cast<std::time_t>(-1)) return v;
  }
  return std::nullopt;
}

bool Matches(const nlohmann::json& record, const Filter& filter) {
  if (filter.failedOnly && Str(record, "result") == "ok") return false;
  if (!filter.port.empty() && strcasecmp(Str(record, "port").c_str(), filter.port.c_str()) != 0) return false;
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
