#include "cli/CliConsole.h"

#include <cstdio>
#include <iostream>

#include "platform/Terminal.h"
#include "platform/TerminalText.h"
#include "jobs/ControlIds.h"
#include "jobs/FileInfo.h"

namespace vantrel::cli {

std::optional<bool> TerminalAsker::Ask(const std::string& question) {
  if (!platform::IsTerminal(stdin)) return std::nullopt;
  std::fprintf(stderr, "%s [y/N] ", platform::EscapeControls(question).c_str());
  std::fflush(stderr);
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return !line.empty() && (line[0] == 'y' || line[0] == 'Y');
}

CliConsole::CliConsole(EventSink& sink, OperationRecord& rec, Asker* asker, bool yes)
    : sink_(sink), rec_(rec), asker_(asker), yes_(yes) {}

void CliConsole::BeginOperation(const Operation& op, const ControlValues& controls) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    op_ = op;
    controls_ = controls;
    refusal_ = {};
  }
  rangeLow_ = 0;
  rangeHigh_ = 100;
  rangePos_ = 0;
  ControlsToRecord();
  // As the window's address box does when edited: the address is not part of
  // the data exchange, so the rounding DOWNLOAD stores into the record is
  // what the job uses, not the address as typed.
  rec_.m_nStartAddress = controls.startAddress;
}

int CliConsole::RangePercent() const {
  int low = rangeLow_, high = rangeHigh_, pos = rangePos_;
  if (high <= low) return 0;
  long pct = (static_cast<long>(pos) - low) * 100 / (high - low);
  return static_cast<int>(pct < 0 ? 0 : pct > 100 ? 100 : pct);
}

Refusal CliConsole::FirstRefusal() const {
  std::lock_guard<std::mutex> lock(mu_);
  return refusal_;
}

void CliConsole::Refused(const std::string& question) {
  std::lock_guard<std::mutex> lock(mu_);
  if (refusal_.kind == FailureKind::None)
    refusal_ = {interrupted_ ? FailureKind::Interrupted : FailureKind::NotConfirmed, question};
}

void CliConsole::AppendLog(const std::string& text, LogKind kind) { sink_.Log(text, kind); }

void CliConsole::AppendLogPlain(const std::string& text) { sink_.Log(text, std::nullopt); }

void CliConsole::SetLinkIndicator(const std::string& text, IndicatorKind kind) { sink_.Indicator(text, static_cast<int>(kind)); }

void CliConsole::SetControlText(int controlId, const std::string& text) { sink_.Control(controlId, text); }

// The counts go out as the JSON "control" events scripts already read, under
// the window's box numbers.
void CliConsole::ShowTicks(int ticks, int expected) { sink_.Control(ctl::kTickCount, TickText(ticks, expected)); }

void CliConsole::ShowPercent(int percent) { sink_.Control(ctl::kStatusCaption, std::to_string(percent)); }

void CliConsole::SetProgressRange(int low, int high) {
  rangeLow_ = low;
  rangeHigh_ = high;
}

void CliConsole::SetProgressPos(int pos) { rangePos_ = pos; }

// The ready and disconnected states end an operation's percentage, as in the window.
void CliConsole::EnterDisconnectedState() {
  rec_.m_nProgress = 0;
  rangePos_ = 0;
  sink_.State("disconnected");
}
void CliConsole::EnterReadyState() {
  rec_.m_nProgress = 0;
  rangePos_ = 0;
  sink_.State("ready");
}
void CliConsole::EnterBusyState() { sink_.State("busy"); }

void CliConsole::ControlsToRecord() {
  std::lock_guard<std::mutex> lock(mu_);
  const ControlValues& c = controls_;
  rec_.m_nComPort = c.comPort;
  rec_.m_nBaudRate = c.baudIndex;
  rec_.m_nCommType = c.commType;
  rec_.m_nDownloadItem = c.downloadItem;
  rec_.m_strImageFileName = c.imgset;
  rec_.m_nImageFileSize = GetFileLength(c.imgset);
  rec_.m_strParamDepFileName = c.calset;
  rec_.m_nParamDepFileSize = GetFileLength(c.calset);
  rec_.m_strRscrFileName = c.rsrc1;
  rec_.m_nRscrFileSize = GetFileLength(c.rsrc1);
  rec_.m_strRscr2FileName = c.rsrc2;
  rec_.m_nRscr2FileSize = GetFileLength(c.rsrc2);
  // The "File System" button fills both file-system members.
  rec_.m_strFactoryFSFileName = c.fs;
  rec_.m_nFactoryFSFileSize = GetFileLength(c.fs);
  rec_.m_strOgmPath = c.fs;
  rec_.m_nOgmSize = rec_.m_nFactoryFSFileSize;
  rec_.m_bFsChosen = c.fsChosen;
  rec_.m_strEntireFlashFileName = c.entire;
  rec_.m_nEntireFlashFileSize = GetFileLength(c.entire);
  rec_.m_strManualNandImage = c.nandManual;
  rec_.m_nManualNandImageSize = GetFileLength(c.nandManual);
  rec_.m_strManualImage = c.norManual;
  rec_.m_nManualImageSize = GetFileLength(c.norManual);
  rec_.m_bAutoAllDownload = c.autoAll;
  rec_.m_bReboot = c.reboot;
  rec_.m_bCalsetDefault = c.calsetDefault;
  rec_.m_bIncludeBootloader = c.includeBootloader;
  rec_.m_bCalset = c.nandCalset;
}

void CliConsole::RecordToControls() {
  std::lock_guard<std::mutex> lock(mu_);
  ControlValues& c = controls_;
  c.comPort = rec_.m_nComPort;
  c.baudIndex = rec_.m_nBaudRate;
  c.commType = rec_.m_nCommType;
  c.downloadItem = rec_.m_nDownloadItem;
  c.imgset = rec_.m_strImageFileName;
  c.calset = rec_.m_strParamDepFileName;
  c.rsrc1 = rec_.m_strRscrFileName;
  c.rsrc2 = rec_.m_strRscr2FileName;
  c.fs = rec_.m_strOgmPath;
  c.fsChosen = rec_.m_bFsChosen;
  c.entire = rec_.m_strEntireFlashFileName;
  c.nandManual = rec_.m_strManualNandImage;
  c.norManual = rec_.m_strManualImage;
  c.autoAll = rec_.m_bAutoAllDownload;
  c.reboot = rec_.m_bReboot;
  c.calsetDefault = rec_.m_bCalsetDefault;
  c.includeBootloader = rec_.m_bIncludeBootloader;
  c.nandCalset = rec_.m_bCalset;
}

bool CliConsole::Answer(const std::string& question, const char** how) {
  if (interrupted_) {
    *how = "interrupted";
    return false;
  }
  if (yes_) {
    *how = "--yes";
    return true;
  }
  sink_.ProgressEnd();
  if (asker_ != nullptr) {
    if (auto a = asker_->Ask(question)) {
      *how = "terminal";
      return *a;
    }
  }
  *how = "no terminal";
  std::lock_guard<std::mutex> lock(mu_);
  if (!noTerminalNoted_) {
    noTerminalNoted_ = true;
    sink_.Note("no terminal to ask for confirmation on: refused (give --yes to confirm)");
  }
  return false;
}

MsgAnswer CliConsole::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) {
  if (buttons == MsgButtons::OkCancel) {
    const char* how = "";
    bool ok = Answer(text, &how);
    sink_.Message(caption, text, ok ? "ok" : "cancel");
    if (!ok) Refused(text);
    return ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
  }
  sink_.Message(caption, text, nullptr);
  return MsgAnswer::Ok;
}

bool CliConsole::Confirm(const std::string& title, const std::vector<std::string>& lines) {
  std::string question = title;
  for (const std::string& l : lines) question += " " + l;
  const char* how = "";
  bool ok = Answer(question, &how);
  sink_.Confirm(title, lines, ok, how);
  if (!ok) Refused(question);
  return ok;
}

std::optional<std::string> CliConsole::SaveFileDialog(const std::string& proposedName, const std::string&) {
  std::string path;
  {
    std::lock_guard<std::mutex> lock(mu_);
    path = op_.file.empty() ? proposedName : op_.file;
  }
  if (NameIsTaken(path)) {
    const char* how = "";
    if (!Answer(path + " exists. Overwrite it?", &how)) {
      sink_.Dialog("save", "");
      Refused(path + " exists and was not overwritten");
      return std::nullopt;
    }
  }
  sink_.Dialog("save", path);
  return path;
}

std::optional<DumpArea> CliConsole::NorDumpDialog() {
  Operation op;
  {
    std::lock_guard<std::mutex> lock(mu_);
    op = op_;
  }
  if (op.kind != OpKind::NorDump) {
    sink_.Dialog("nor-dump", "");
    return std::nullopt;
  }
  char buf[64];
  std::snprintf(buf, sizeof buf, "FROM 0x%X TO 0x%X", op.from, op.to);
  sink_.Dialog("nor-dump", buf);
  return DumpArea{op.from, op.to, 0};
}

std::optional<DumpArea> CliConsole::NandDumpDialog() {
  Operation op;
  {
    std::lock_guard<std::mutex> lock(mu_);
    op = op_;
  }
  if (op.kind != OpKind::NandDump && op.kind != OpKind::NandErase) {
    sink_.Dialog("nand-dump", "");
    return std::nullopt;
  }
  int erase = op.kind == OpKind::NandErase ? 1 : 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "FROM 0x%X TO 0x%X erase %d", op.from, op.to, erase);
  sink_.Dialog("nand-dump", buf);
  return DumpArea{op.from, op.to, erase};
}

}  // namespace vantrel::cli
