#pragma once
// Steps the maintenance jobs (NOR and NAND dumps, partial erase, PZL format)
// share besides the job's own link (jobs/LinkSteps.h): the dump file with its
// block sink and the report of a dump's outcome.
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "jobs/Console.h"
#include "jobs/JobState.h"
#include "protocol/BlockLayer.h"

namespace vantrel::maint {

// Fixed pauses of the maintenance jobs, in milliseconds.
inline constexpr unsigned kBeforeOpenMs = 1000;            // NAND job, before a UART link is opened
inline constexpr unsigned kBeforeCommandMs = 1000;         // before the dump, erase or format command
inline constexpr unsigned kAfterNandCommandMs = 2000;      // NAND job, before the rate goes back

// The dump file filter of the save dialog.
inline constexpr const char* kDumpFileFilter = "All Files (*.*)|*.*|All Files (*.*)|*.*||";

// True once Cancel has asked the running job to stop: from then on the job
// releases what it holds and says nothing more to the operator.
bool Halted();

// The dump file of one run. It is written block by block as the handset
// delivers, into a file of its own beside the chosen name ("NAME.partial"):
// only a complete dump is renamed over the chosen name, so a failed dump
// never destroys an older file of that name. A dump that fails keeps the
// bytes that arrived and were stored under the partial's name (never more
// than the range asked for); one that stored nothing leaves no file.
class DumpFile {
 public:
  explicit DumpFile(JobContext& ctx) : ctx_(ctx) {}
  ~DumpFile() { Close(); }
  DumpFile(const DumpFile&) = delete;
  DumpFile& operator=(const DumpFile&) = delete;

  // Creates the partial file and makes it ctx.rec.m_dumpFile. False when
  // the chosen name is taken by anything but a regular file or a link (a
  // FIFO, a device, a folder), or when no partial can be created.
  bool Create(const std::string& path, uint32_t expectedBytes);
  // The block sink for TOOL_Dump: stores each block through
  // DumpDataCallBackFunc and keeps count. A block that would take the file
  // past the requested length is refused.
  DumpDataCallBack Sink();
  // Closes the file and clears ctx.rec.m_dumpFile; false when the last
  // bytes could not be written out. A partial that holds nothing is removed.
  bool Close();
  // Closes the file and renames it over the chosen name (a link of that name
  // is replaced, its target left alone); false, as a write failure, when
  // that fails.
  bool Commit();

  uint32_t Written() const { return written_; }
  uint32_t Expected() const { return expected_; }
  bool WriteFailed() const { return writeFailed_; }
  bool Overrun() const { return overrun_; }
  // Operator-readable reason of the write failure ("No space left on device").
  std::string WriteError() const;
  // The chosen name.
  const std::string& Path() const { return path_; }
  // Where the bytes are until the dump is complete.
  const std::string& PartialPath() const { return partial_; }

 private:
  JobContext& ctx_;
  std::string path_;
  std::string partial_;
  uint32_t expected_ = 0;
  uint32_t written_ = 0;
  bool writeFailed_ = false;
  bool overrun_ = false;
  bool committed_ = false;
  int errno_ = 0;
};

// The area the operator asked for (`answer`, the dialog's result) when the
// dialog was not cancelled and `valid` accepts its range. Otherwise the
// console goes back to ready, after "Dump range invalid" for a refused range;
// a cancelled dialog is a refused confirmation.
std::optional<DumpArea> AcceptDumpArea(JobContext& ctx, std::optional<DumpArea> answer,
                                       bool (*valid)(uint32_t from, uint32_t to));

// The save dialog proposing `defaultName`, the file-name box, then `file`
// created at the chosen path for `length` bytes. A cancelled dialog ("File
// select canceled", a refused confirmation) or a file that cannot be created
// ("Internal Error! (file creation)", a file failure) puts the console back
// to ready; false then.
bool CreateDumpFile(JobContext& ctx, const std::string& defaultName, uint32_t length, DumpFile& file);

// After a dump command: reports a failed run (log line and message box)
// and returns false, or commits the file and returns true when it holds the
// whole range. `result` is TOOL_Dump's result. A file that could not be
// written fails the run on the operator's file, not on the handset.
bool CheckDumpOutcome(JobContext& ctx, Result result, DumpFile& file);

}  // namespace vantrel::maint
