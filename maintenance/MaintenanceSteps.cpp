#include "maintenance/MaintenanceSteps.h"

#include <cerrno>
#include <cstring>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"

namespace vantrel::maint {

bool Halted() { return stop::Requested(); }

bool DumpFile::Create(const std::string& path, uint32_t expectedBytes) {
  Close();
  path_ = path;
  expected_ = expectedBytes;
  written_ = 0;
  writeFailed_ = overrun_ = false;
  errno_ = 0;
  // Write only, created empty: an older file of that name is truncated.
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
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
    if (!DumpDataCallBackFunc(data, length) || f == nullptr || std::fflush(f) != 0) {
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
  if (f == nullptr) return true;
  ctx_.rec.m_dumpFile = nullptr;
  errno = 0;
  const bool flushed = std::fflush(f) == 0;
  const int flushErrno = errno;
  const bool closed = std::fclose(f) == 0;
  if (!flushed || !closed) {
    if (!writeFailed_) errno_ = flushed ? errno : flushErrno;
    writeFailed_ = true;
    return false;
  }
  return true;
}

std::string DumpFile::WriteError() const {
  return errno_ != 0 ? std::strerror(errno_) : ResultText(kResultFileWrite);
}

std::optional<DumpArea> AcceptDumpArea(JobContext& ctx, std::optional<DumpArea> answer,
                                       bool (*valid)(uint32_t from, uint32_t to)) {
  if (answer && !valid(answer->from, answer->to)) {
    ctx.con.MessageBox("Dump range invalid", "Error");
    answer.reset();
  }
  if (!answer) ctx.con.EnterReadyState();
  return answer;
}

bool CreateDumpFile(JobContext& ctx, const std::string& defaultName, uint32_t length, DumpFile& file) {
  Console& con = ctx.con;
  const auto path = con.SaveFileDialog(defaultName, kDumpFileFilter);
  if (!path) {
    con.MessageBox("File select canceled", "Error");
    con.EnterReadyState();
    return false;
  }
  con.SetControlText(ctl::kFileName, defaultName);
  if (!file.Create(*path, length)) {
    con.MessageBox("Internal Error! (file creation)");
    con.EnterReadyState();
    return false;
  }
  return true;
}

namespace {

void ReportDumpFailure(JobContext& ctx, const std::string& message) {
  ctx.con.AppendLog("\r\n\r\n -  Fail!!!!!!!!", kLogRed);
  ctx.con.MessageBox(message);
}

}  // namespace

bool CheckDumpOutcome(JobContext& ctx, int result, DumpFile& file) {
  // A full disk or an I/O error must not end in "complete": the blocks that
  // were stored stay in the file, and the operator learns why it is short.
  if (result == kResultOk && !file.WriteFailed()) file.Close();
  if (Halted()) return false;
  if (file.WriteFailed()) {
    ReportDumpFailure(ctx, "Error writing dump file : " + file.WriteError() + "\n" + file.Path() + "\n" +
                               "The dump stopped after " + std::to_string(file.Written()) + " of " +
                               std::to_string(file.Expected()) + " bytes.\n");
    return false;
  }
  if (file.Overrun()) {
    ReportDumpFailure(ctx, "Dump error : the target phone sent more than the " +
                               std::to_string(file.Expected()) + " bytes asked for.\n");
    return false;
  }
  if (result != kResultOk) {
    ReportDumpFailure(ctx, std::string("Error flashing erase : ") + ResultText(result) + "\n");
    return false;
  }
  if (file.Written() != file.Expected()) {
    ReportDumpFailure(ctx, "Dump error : the target phone sent " + std::to_string(file.Written()) + " of " +
                               std::to_string(file.Expected()) + " bytes.\n");
    return false;
  }
  return true;
}

}  // namespace vantrel::maint
