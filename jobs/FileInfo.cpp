#include "jobs/FileInfo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"

namespace vantrel {

namespace {

constexpr char kSep = '/';
constexpr size_t kReadPiece = 256 * 1024;

// Opens a regular file for reading; -1 otherwise. O_NONBLOCK keeps a FIFO
// from blocking the open; it is dropped again for the reads.
int OpenRegular(const std::string& path, struct stat* st) {
  if (path.empty()) return -1;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  if (::fstat(fd, st) != 0 || !S_ISREG(st->st_mode)) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

uint32_t Clamp32(off_t size) {
  if (size < 0) return 0;
  if (static_cast<unsigned long long>(size) > 0xFFFFFFFFull) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(size);
}

}  // namespace

bool CanReadFile(const std::string& path) {
  struct stat st {};
  int fd = OpenRegular(path, &st);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

uint32_t GetFileLength(const std::string& path) {
  struct stat st {};
  int fd = OpenRegular(path, &st);
  if (fd < 0) return 0;
  ::close(fd);
  return Clamp32(st.st_size);
}

std::optional<FileSummary> SummariseFile(const std::string& path) {
  struct stat st {};
  int fd = OpenRegular(path, &st);
  if (fd < 0) return std::nullopt;
  FileSummary summary;
  summary.length = Clamp32(st.st_size);
  std::vector<unsigned char> buf(kReadPiece);
  for (;;) {
    ssize_t got = ::read(fd, buf.data(), buf.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      return std::nullopt;
    }
    if (got == 0) break;
    uint32_t sum = summary.sum;
    for (ssize_t i = 0; i < got; ++i) sum += buf[static_cast<size_t>(i)];
    summary.sum = sum;
  }
  ::close(fd);
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
