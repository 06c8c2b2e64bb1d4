#include "jobs/FileInfo.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "platform/Files.h"
#include "platform/Folders.h"

namespace vantrel {

namespace {

constexpr size_t kReadPiece = 256 * 1024;

uint32_t Clamp32(uint64_t size) { return size > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(size); }

}  // namespace

bool CanReadFile(const std::string& path) {
  platform::File file;
  return !platform::OpenForReading(path, platform::Links::Follow, &file);
}

bool NameIsTaken(const std::string& path) { return platform::LookAt(path) != platform::PathKind::Nothing; }

uint32_t GetFileLength(const std::string& path) {
  platform::File file;
  if (platform::OpenForReading(path, platform::Links::Follow, &file)) return 0;
  return Clamp32(file.Size());
}

std::optional<FileSummary> SummariseFile(const std::string& path) {
  platform::File file;
  if (platform::OpenForReading(path, platform::Links::Follow, &file)) return std::nullopt;
  FileSummary summary;
  summary.length = file.Size();
  std::vector<unsigned char> buf(kReadPiece);
  // Holes read as zeros and add nothing: only the data is read.
  for (uint64_t at = 0; at < summary.length;) {
    uint64_t data = 0, hole = 0;
    if (file.SeekData(at, &data, &hole)) return std::nullopt;
    if (data >= summary.length) break;
    for (uint64_t left = hole - data; left > 0;) {
      size_t got = 0;
      if (file.Read(buf.data(), static_cast<size_t>(std::min<uint64_t>(left, buf.size())), &got)) return std::nullopt;
      if (got == 0) break;
      uint32_t sum = summary.sum;
      for (size_t i = 0; i < got; ++i) sum += buf[i];
      summary.sum = sum;
      left -= got;
    }
    at = hole;
  }
  return summary;
}

std::string FileNamePart(const std::string& path) {
  size_t last = path.find_last_of(platform::PathSeparators());
  return last == std::string::npos ? path : path.substr(last + 1);
}

void ShowFileName(Console& con, const std::string& path) {
  con.SetControlText(ctl::kFileName, FileNamePart(path));
}

void ShowFileChecksum(Console& con, const std::string& path) {
  std::optional<FileSummary> summary = SummariseFile(path);
  if (!summary) return;
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", static_cast<unsigned>(summary->sum));
  con.SetControlText(ctl::kCheckSum, text);
}

CompanionPaths DeriveCompanionPaths(const std::string& imageSetPath) {
  const std::string& p = imageSetPath;
  size_t last = p.find_last_of(platform::PathSeparators());
  std::string name = last == std::string::npos ? p : p.substr(last + 1);
  bool packageTree = name.find("Q77T_") != std::string::npos || name.rfind("Q77T", 0) != 0;
  CompanionPaths out;
  if (packageTree) {
    size_t prev = (last == std::string::npos || last == 0) ? std::string::npos : p.find_last_of(platform::PathSeparators(), last - 1);
    std::string root = prev == std::string::npos ? std::string() : p.substr(0, prev);
    out.calset = root + "/build/mavo_bin/Q77T_calset.img";
    out.rsrc1 = root + "/build/tzk_bin/Q77T.rc1";
    out.rsrc2 = root + "/build/nand_img/Q77T.rc2";
    out.fileSystem = root + "/build/tzk_bin/Q77T.vlf";
  } else {
    std::string dir = last == std::string::npos ? std::string() : p.substr(0, last + 1);
    std::string base = name.substr(0, name.find('.'));
    out.calset = dir + base + ".img";
    out.rsrc1 = dir + base + ".rc1";
    out.rsrc2 = dir + base + ".rc2";
    out.fileSystem = dir + base + ".vlf";
  }
  return out;
}

}  // namespace vantrel
