#include "jobs/FileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <vector>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "protocol/ImageFiles.h"

namespace vantrel {

namespace {

constexpr char kSep = '/';
constexpr size_t kReadPiece = 256 * 1024;

uint32_t Clamp32(off_t size) {
  if (size < 0) return 0;
  if (static_cast<unsigned long long>(size) > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(size);
}

}  // namespace

bool CanReadFile(const std::string& path) {
  struct stat st {};
  int fd = OpenRegularFile(path, &st);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool NameIsTaken(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::lstat(path.c_str(), &st) == 0;
}

uint32_t GetFileLength(const std::string& path) {
  struct stat st {};
  int fd = OpenRegularFile(path, &st);
  if (fd < 0) return 0;
  ::close(fd);
  return Clamp32(st.st_size);
}

std::optional<FileSummary> SummariseFile(const std::string& path) {
  struct stat st {};
  int fd = OpenRegularFile(path, &st);
  if (fd < 0) return std::nullopt;
  FileSummary summary;
  summary.length = static_cast<uint64_t>(st.st_size);
  std::vector<unsigned char> buf(kReadPiece);
  off_t at = 0;
  bool ok = true;
  while (ok) {
    // Holes read as zeros and add nothing: only the data is read. A file
    // system that cannot tell holes apart reports all of the file as data.
    off_t data = ::lseek(fd, at, SEEK_DATA);
    if (data < 0) {
      if (errno == ENXIO) break;  // no data after `at`
      data = at;
    }
    off_t hole = ::lseek(fd, data, SEEK_HOLE);
    if (hole < 0) hole = st.st_size;
    if (::lseek(fd, data, SEEK_SET) < 0) break;
    for (off_t left = hole - data; left > 0;) {
      ssize_t got = ::read(fd, buf.data(), static_cast<size_t>(std::min<off_t>(left, static_cast<off_t>(buf.size()))));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) ok = false;
      if (got <= 0) break;
      uint32_t sum = summary.sum;
      for (ssize_t i = 0; i < got; ++i) sum += buf[static_cast<size_t>(i)];
      summary.sum = sum;
      left -= got;
    }
    if (hole >= st.st_size) break;
    at = hole;
  }
  ::close(fd);
  if (!ok) return std::nullopt;
  return summary;
}

std::string FileNamePart(const std::string& path) {
  size_t last = path.rfind(kSep);
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
  size_t last = p.rfind(kSep);
  std::string name = last == std::string::npos ? p : p.substr(last + 1);
  bool packageTree = name.find("Q77T_") != std::string::npos || name.rfind("Q77T", 0) != 0;
  CompanionPaths out;
  if (packageTree) {
    size_t prev = (last == std::string::npos || last == 0) ? std::string::npos : p.rfind(kSep, last - 1);
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
