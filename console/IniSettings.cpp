#include "console/IniSettings.h"

#include "link/ComNames.h"

#include <cerrno>
#include <climits>
#include <string_view>
#include <vector>

#include "platform/Files.h"
#include "platform/Folders.h"

namespace vantrel {

namespace {

enum class ReadState { Missing, Ok, Unreadable };

ReadState ReadWhole(const std::string& path, std::string& out) {
  out.clear();
  platform::File file;
  if (platform::FileError e = platform::OpenForReading(path, platform::Links::Follow, &file)) {
    return e.fault == platform::FileFault::Missing || e.code == ENOTDIR ? ReadState::Missing : ReadState::Unreadable;
  }
  char buf[8192];
  for (;;) {
    size_t got = 0;
    if (file.Read(buf, sizeof buf, &got)) return ReadState::Unreadable;
    if (got == 0) break;
    out.append(buf, got);
  }
  return ReadState::Ok;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
  return s;
}

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// "[name]" with optional blanks; the name between the brackets.
std::optional<std::string_view> SectionName(std::string_view line) {
  std::string_view t = Trim(line);
  if (t.empty() || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return Trim(t.substr(1, close - 1));
}

bool IsComment(std::string_view line) {
  std::string_view t = Trim(line);
  return !t.empty() && (t.front() == ';' || t.front() == '#');
}

// Key of a "key=value" line, or nothing for any other line.
std::optional<std::string_view> KeyOf(std::string_view line) {
  if (IsComment(line)) return std::nullopt;
  size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  std::string_view key = Trim(line.substr(0, eq));
  if (key.empty()) return std::nullopt;
  return key;
}

// The value is everything after the first '=', as written; only the line
// end of a file saved with CR LF is dropped.
std::string ValueOf(std::string_view line) {
  std::string_view v = line.substr(line.find('=') + 1);
  if (!v.empty() && v.back() == '\r') v.remove_suffix(1);
  return std::string(v);
}

struct Located {
  bool sectionFound = false;
  size_t sectionLine = 0;   // header line
  size_t insertAt = 0;      // after the section's last non-blank line
  std::optional<size_t> keyLine;
};

Located Locate(const std::vector<std::string>& lines, const std::string& section, const std::string& key) {
  Located loc;
  bool inSection = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto name = SectionName(lines[i])) {
      if (inSection) break;  // the first section of that name is the one used
      if (EqualNoCase(*name, section)) {
        inSection = true;
        loc.sectionFound = true;
        loc.sectionLine = i;
        loc.insertAt = i + 1;
      }
      continue;
    }
    if (!inSection) continue;
    if (!Trim(lines[i]).empty()) loc.insertAt = i + 1;
    if (!loc.keyLine) {
      auto k = KeyOf(lines[i]);
      if (k && EqualNoCase(*k, key)) loc.keyLine = i;
    }
  }
  return loc;
}

bool HasLineBreak(const std::string& s) { return s.find_first_of("\r\n") != std::string::npos; }

// Writes `data` to a temporary file beside `path` and renames it over
// `path`: readers see either the old file or the new one, never a part.
platform::FileError ReplaceFile(const std::string& path, const std::string& data) {
  if (const std::string dir = platform::FolderOf(path); !dir.empty()) {
    if (platform::FileError e = platform::MakeFolders(dir)) return e;
  }
  return platform::ReplaceContents(path, data);
}

}  // namespace

IniSettings::IniSettings(std::string filePath) : path_(std::move(filePath)) {}

std::string IniSettings::DefaultPath() { return SettingsFolder() + "/vantrel-downloader.INI"; }

int IniSettings::ParseIntValue(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long v = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    v = v * 10 + (text[i] - '0');
    if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) v = -v;
  if (v > INT_MAX) v = INT_MAX;
  if (v < INT_MIN) v = INT_MIN;
  return static_cast<int>(v);
}

std::optional<std::string> IniSettings::Lookup(const std::string& section, const std::string& key) {
  std::string text;
  if (ReadWhole(path_, text) != ReadState::Ok) return std::nullopt;
  std::vector<std::string> lines = SplitLines(text);
  Located loc = Locate(lines, section, key);
  if (!loc.keyLine) return std::nullopt;
  return ValueOf(lines[*loc.keyLine]);
}

int IniSettings::ReadInt(const std::string& section, const std::string& key, int def) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> v = Lookup(section, key);
  return v ? ParseIntValue(*v) : def;
}

std::string IniSettings::ReadString(const std::string& section, const std::string& key, const std::string& def) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::optional<std::string> v = Lookup(section, key);
  return v ? *v : def;
}

void IniSettings::WriteInt(const std::string& section, const std::string& key, int value) {
  WriteString(section, key, std::to_string(value));
}

void IniSettings::WriteString(const std::string& section, const std::string& key, const std::string& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  lastWriteFailure_ = Store(section, key, value);
  lastWriteOk_ = lastWriteFailure_.empty();
}

std::string IniSettings::LastWriteFailure() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lastWriteFailure_;
}

std::string IniSettings::Store(const std::string& section, const std::string& key, const std::string& value) {
  // A line break in any part would turn into lines of its own and could
  // plant other keys; such a value is not stored at all.
  if (HasLineBreak(section) || HasLineBreak(key) || HasLineBreak(value) || key.find('=') != std::string::npos ||
      section.find(']') != std::string::npos || key.empty())
    return key + ": this value cannot be stored in " + path_;

  // Write through a link to the file it names, so the link stays.
  std::string target = path_;
  if (platform::LookAt(path_) == platform::PathKind::Link) target = platform::ResolvePath(path_);

  std::string text;
  switch (ReadWhole(target, text)) {
    case ReadState::Unreadable:
      // What cannot be read cannot be kept: leave it alone rather than
      // replace it with a file that holds only this one key.
      return target + " cannot be read; it is left as it is";
    case ReadState::Ok: {
      // A file the operator made read-only stays as it is.
      if (!platform::MayWrite(target)) return target + " is read-only";
      break;
    }
    case ReadState::Missing:
      break;
  }

  std::vector<std::string> lines = SplitLines(text);
  Located loc = Locate(lines, section, key);
  std::string entry = key + "=" + value;
  bool crlf = !lines.empty() && !lines.front().empty() && lines.front().back() == '\r';
  if (crlf) entry += '\r';
  if (loc.keyLine) {
    lines[*loc.keyLine] = entry;
  } else if (loc.sectionFound) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(loc.insertAt), entry);
  } else {
    lines.push_back("[" + section + "]" + (crlf ? "\r" : ""));
    lines.push_back(entry);
  }
  std::string out;
  for (const std::string& l : lines) {
    out += l;
    out += '\n';
  }
  if (platform::FileError e = ReplaceFile(target, out)) return target + ": " + platform::FileErrorText(e);
  return {};
}

}  // namespace vantrel
