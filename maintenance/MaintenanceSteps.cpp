#include "maintenance/MaintenanceSteps.h"

#include <cerrno>
#include <cstring>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "platform/Files.h"

namespace vantrel::maint {

namespace {

constexpr const char* kPartialSuffix = ".partial";
// How many older partials of the same name a new dump steps around.
constexpr int kMaxPartialNames = 100;

}  // namespace

bool Halted() { return stop::Requested(); }

bool DumpFile::Create(const std::string& path, uint32_t expectedBytes) {
  Close();
  path_ = path;
  partial_.clear();
  expected_ = expectedBytes;
  written_ = 0;
  writeFailed_ = overrun_ = committed_ = false;
  errno_ = 0;
  // The name is replaced, never opened: a FIFO would block the open and a
  // device would take the bytes, so anything but a file or a link is refused.
  if (const platform::PathKind kind = platform::LookAt(path);
      kind == platform::PathKind::Folder || kind == platform::PathKind::Other) {
    errno_ = kind == platform::PathKind::Folder ? EISDIR : EINVAL;
    return false;
  }
  // A partial left by an earlier run is not this run's to overwrite.
  std::FILE* f = nullptr;
  platform::FileError e{platform::FileFault::Failed, EEXIST};
  for (int n = 1; e && e.code == EEXIST && n <= kMaxPartialNames; ++n) {
    partial_ = path + kPartialSuffix;
    if (n > 1) partial_ += '-' + std::to_string(n);
    e = platform::CreateNew(partial_, &f);
  }
  if (e) {
    errno_ = e.code != 0 ? e.code : EINVAL;
    partial_.clear();
    return false;
  }
  ctx_.rec.m_dumpFile = f;
  return true;
}

DumpDataCallBack DumpFile::Sink() {
  return [this](const uint8_t* data, uint32_t length) -> bool {
    // The handset is not trusted to stop at the end of the range: a block
    // past it is refused, so the file never claims more than was asked for.
    if (length > expected_ - written_) {
      overrun_ = true;
      return false;
    }
    errno = 0;
    // Each block goes out to the file before the next is asked for, so that a
    // full disk shows at the block that did not fit, and a dump that stops
    // later still leaves every block before it on disk.
    std::FILE* f = ctx_.rec.m_dumpFile;
    if (!DumpDataCallBackFunc(ctx_, data, length) || f == nullptr || std::fflush(f) != 0) {
      writeFailed_ = true;
      errno_ = errno;
      return false;
    }
    written_ += length;
    return true;
  };
}

bool DumpFile::Close() {
  std::FILE* f = ctx_.rec.m_dumpFile;
  if (f == nullptr) return !writeFailed_;
  ctx_.rec.m_dumpFile = nullptr;
  errno = 0;
  const bool flushed = std::fflush(f) == 0;
  const int flushErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!flushed || !closed) {
    if (!writeFailed_) errno_ = flushed ? errno : flushErrno;
    writeFailed_ = true;
  }
  // Nothing arrived: there is no partial dump to keep.
  if (written_ == 0 && !committed_ && !partial_.empty()) platform::Remove(partial_);
  return !writeFailed_;
}

bool DumpFile::Commit() {
  if (!Close()) return false;
  if (partial_.empty()) return false;
  if (platform::FileError e = platform::Rename(partial_, path_)) {
    errno_ = e.code;
    writeFailed_ = true;
    return false;
  }
  committed_ = true;
  return true;
}

std::string DumpFile::WriteError() const {
  return errno_ != 0 ? std::strerror(errno_) : ResultText(Result::FileWrite);
}

std::optional<DumpArea> AcceptDumpArea(JobContext& ctx, std::optional<DumpArea> answer,
                                       bool (*valid)(uint32_t from, uint32_t to)) {
  if (!answer) {
    RecordFailure(ctx, FailureKind::NotConfirmed, Result::Ok);  // the operator closed the dialog
  } else if (!valid(answer->from, answer->to)) {
    ShowFailure(ctx, FailureKind::Usage, Result::InvalidValue, "Dump range invalid", "Error");
    answer.reset();
  }
  if (!answer) ctx.con.EnterReadyState();
  return answer;
}

bool CreateDumpFile(JobContext& ctx, const std::string& defaultName, uint32_t length, DumpFile& file) {
  Console& con = ctx.con;
  const auto path = con.SaveFileDialog(defaultName, kDumpFileFilter);
  if (!path) {
    ShowFailure(ctx, FailureKind::NotConfirmed, Result::Ok, "File select canceled", "Error");
    con.EnterReadyState();
    return false;
  }
  con.SetControlText(ctl::kFileName, defaultName);
  if (!file.Create(*path, length)) {
    ShowFailure(ctx, FailureKind::File, Result::FileCreate, "Internal Error! (file creation)");
    con.EnterReadyState();
    return false;
  }
  return true;
}

namespace {

void ReportDumpFailure(JobContext& ctx, DumpFile& file, FailureKind kind, Result rc, const std::string& message) {
  ctx.con.AppendLog("\r\n\r\n -  Fail!!!!!!!!", LogKind::Red);
  if (file.Written() != 0)
    ctx.con.AppendLogPlain("\n    " + std::to_string(file.Written()) + " bytes kept in " + file.PartialPath() + "\n");
  ShowFailure(ctx, kind, rc, message);
}

}  // namespace

bool CheckDumpOutcome(JobContext& ctx, Result result, DumpFile& file) {
  // A full disk or an I/O error must not end in "complete": the blocks that
  // were stored stay in the partial file, and the operator learns why it is
  // short. Only a whole range replaces the chosen name.
  if (result == Result::Ok && !file.WriteFailed() && !file.Overrun() && file.Written() == file.Expected())
    file.Commit();
  if (Halted()) return false;
  if (file.WriteFailed()) {
    const std::string& where = file.Written() != 0 ? file.PartialPath() : file.Path();
    ReportDumpFailure(ctx, file, FailureKind::File, Result::FileWrite,
                      "Error writing dump file : " + file.WriteError() + "\n" + where + "\n" +
                          "The dump stopped after " + std::to_string(file.Written()) + " of " +
                          std::to_string(file.Expected()) + " bytes.\n");
    return false;
  }
  if (file.Overrun()) {
    ReportDumpFailure(ctx, file, FailureKind::Handset, Result::Internal,
                      "Dump error : the target phone sent more than the " + std::to_string(file.Expected()) +
                          " bytes asked for.\n");
    return false;
  }
  if (result != Result::Ok) {
    ReportDumpFailure(ctx, file, FailureKindOf(result), result,
                      std::string("Error flashing erase : ") + ResultText(result) + "\n");
    return false;
  }
  if (file.Written() != file.Expected()) {
    ReportDumpFailure(ctx, file, FailureKind::Handset, Result::NoResponse,
                      "Dump error : the target phone sent " + std::to_string(file.Written()) + " of " +
                          std::to_string(file.Expected()) + " bytes.\n");
    return false;
  }
  return true;
}

}  // namespace vantrel::maint
