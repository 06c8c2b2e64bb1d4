#include "maintenance/OperationControl.h"

#include "jobs/ControlIds.h"
#include "jobs/DownloadChecks.h"
#include "jobs/JobRunner.h"
#include "jobs/Jobs.h"
#include "jobs/Printf.h"
#include "jobs/ThreadProcs.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "maintenance/NandDump.h"
#include "maintenance/NorDump.h"
#include "maintenance/PzlFormat.h"
#include "maintenance/RawReadBack.h"
#include "protocol/ImageSession.h"

namespace vantrel {

namespace {

constexpr const char* kCanceledText = "  CANCELED\n\n  Turn Off the target phone!!!!!\n";
constexpr const char* kStillFinishingText =
    "\n  The last operation is still finishing. Try again in a moment.\n";
constexpr unsigned kUsbDisconnectPauseMs = 1000;
constexpr int kLinkModeUartCode = 201;
constexpr int kLinkModeUsbCode = 85;

const std::vector<std::string> kEraseWarningLines = {"All NAND flash data are erased.", "Are you sure?"};

// With no port chosen and the first rate in the list, nothing can start.
bool ComCheckFails(const OperationRecord& rec) { return rec.m_nComPort == -1 && rec.m_nBaudRate == 0; }

// The reconnect that makes a running loader give way takes seconds: it runs
// on the job's thread, so the window repaints and Cancel can stop it.
JobBody ReconnectFirst(ThreadProc proc) {
  return [proc](JobContext& ctx) {
    ReconnectForDriverChange(ctx);
    ctx.job.loaderState = kLoaderNone;
    return stop::Requested() ? 0 : proc(ctx);
  };
}

int CheckBadBlockProc(JobContext& ctx) {
  ReconnectForDriverChange(ctx);
  ctx.job.loaderState = kLoaderNone;
  return 0;
}

// Closing the boot link on USB and letting the port settle.
int UsbDisconnectProc(JobContext& ctx) {
  ClosePort(ctx.rec.m_linkRecord);
  timing::Pause(kUsbDisconnectPauseMs, "Disconnect");
  ctx.rec.m_bConnected = 0;
  ctx.con.EnterDisconnectedState();
  return 0;
}

}  // namespace

void ReportSettingsWrite(Console& con, const SettingsStore& settings, bool* shown) {
  const std::string why = settings.LastWriteFailure();
  if (why.empty()) {
    *shown = false;
    return;
  }
  if (*shown) return;
  *shown = true;
  con.AppendLog("\n  Settings not saved: " + why + "\n", kLogRed);
}

OperationControl::OperationControl(OperationRecord& rec, Console& con, SettingsStore* settings)
    : ctx_{rec, con, settings, session_, job_}, runner_(std::make_unique<JobRunner>(ctx_)) {}

OperationControl::~OperationControl() {
  // Closing the window while a job runs: the job is stopped, says nothing
  // more, and its thread is joined before the record it uses goes away.
  runner_.reset();
}

bool OperationControl::JobRunning() const { return runner_->Running(); }

void OperationControl::WaitForJob() { runner_->Join(); }

// A job still winding down (a chain already back in the ready state, a
// failed connect closing its port) keeps the next one from starting. The
// operator is told, rather than a press doing nothing or a question being
// asked for an operation that will not run.
bool OperationControl::ReadyForNext() {
  if (runner_->Prepare()) return true;
  ctx_.con.AppendLog(kStillFinishingText, kLogRed);
  return false;
}

// Common start of the job-starting handlers. `operation` < 0 leaves
// the operation code as it is; `reconnectWhenLoader` < 0 never reconnects.
void OperationControl::Launch(int operation, int reconnectWhenLoader, ThreadProc proc) {
  Console& con = ctx_.con;
  OperationRecord& rec = ctx_.rec;
  if (!ReadyForNext()) return;
  con.EnterBusyState();
  con.ControlsToRecord();
  // The console stays busy: without a port nothing can run.
  if (ComCheckFails(rec)) return;
  if (operation >= 0) ctx_.job.operation = static_cast<uint8_t>(operation);
  if (reconnectWhenLoader >= 0 && ctx_.job.loaderState == reconnectWhenLoader)
    runner_->Start(ReconnectFirst(proc));
  else
    runner_->Start(proc);
}

void OperationControl::OnStart() {
  Console& con = ctx_.con;
  OperationRecord& rec = ctx_.rec;
  if (!ReadyForNext()) return;
  con.EnterBusyState();
  con.ControlsToRecord();
  if (rec.m_nCommType == 0) rec.m_nLinkMode = kLinkModeUartCode;
  if (rec.m_nCommType == 1) rec.m_nLinkMode = kLinkModeUsbCode;
  if (rec.m_nCommType == -1) {
    con.MessageBox("Select a comm type by USB or by UART.\r\nTry again!!", "", MsgButtons::Ok);
    con.EnterDisconnectedState();
    return;
  }
  if (rec.m_bAutoAllDownload == 1) {
    MeasureImageFiles(rec);
    const auto missing = CheckAutoAllFiles(rec);
    if (!missing.empty()) {
      for (const auto& text : missing) con.MessageBox(text, "", MsgButtons::Ok);
      con.SetLinkIndicator("  Connect", 4);
      con.EnterDisconnectedState();
      return;
    }
    LogConnectAttempt(ctx_);
    ctx_.job.operation = kOpAllChain;
    runner_->Start(AutoAllDownloadProc);
    return;
  }
  runner_->Start(ConnectProc);
}

void OperationControl::OnDownload() {
  Console& con = ctx_.con;
  OperationRecord& rec = ctx_.rec;
  if (!ReadyForNext()) return;
  con.EnterBusyState();
  con.ControlsToRecord();
  rec.m_dTotalElapsed = 0.0;
  // The console stays busy: without a port nothing can run. Nothing started,
  // so nothing is counted.
  if (ComCheckFails(rec)) return;

  MeasureImageFiles(rec);
  const DownloadPlan plan = PlanDownload(rec);
  if (!plan.ok) {
    for (const auto& text : plan.messages) con.MessageBox(text, "", MsgButtons::Ok);
    con.EnterReadyState();
    return;
  }
  for (const auto& text : plan.messages) con.MessageBox(text, "", MsgButtons::Ok);

  // Counted before the job starts: the data exchange with the controls
  // rewrites the record, which the job reads once it runs.
  rec.m_nDownloadNum += 1;
  if (ctx_.settings != nullptr) {
    ctx_.settings->WriteInt(kSettingsSection, "m_nDownloadNum", rec.m_nDownloadNum);
    ReportSettingsWrite(con, *ctx_.settings, &settingsFailureShown_);
  }
  con.SetControlText(ctl::kDownloadCounter, StrPrintf("%d", rec.m_nDownloadNum));
  con.ControlsToRecord();
  con.RecordToControls();

  // A NAND item's job itself makes a running NOR loader give way and brings
  // up the NAND loader, a NOR item's job the other way round.
  ctx_.job.operation = plan.operation;
  runner_->Start(plan.proc);
}

void OperationControl::OnCancel() {
  Console& con = ctx_.con;
  // The job stops before its next exchange with the handset and closes its
  // own links and files on its own thread; from here on it reaches neither
  // the console nor the handset.
  runner_->Stop();
  con.AppendLog(kCanceledText, kLogRed);
  con.AppendLog(kCanceledText, kLogRed);
  con.SetProgressPos(0);
  con.AppendLog(" ", kLogScratch);
  ctx_.job.loaderState = kLoaderNone;
  con.EnterDisconnectedState();
  ctx_.rec.m_bConnected = 0;
}

void OperationControl::OnDisconnect() {
  Console& con = ctx_.con;
  OperationRecord& rec = ctx_.rec;
  if (!ReadyForNext()) return;
  con.SetControlText(ctl::kNorIdBox, "Disconnected");
  con.SetControlText(ctl::kHiddenBox1117, "Disconnected");
  ctx_.job.loaderState = kLoaderNone;
  if (rec.m_nLinkMode == kLinkModeUsbCode) {
    con.EnterBusyState();
    runner_->Start(UsbDisconnectProc);
    return;
  }
  rec.m_bConnected = 0;
  con.EnterDisconnectedState();
}

void OperationControl::OnBootloaderDownload() {
  Console& con = ctx_.con;
  if (!ReadyForNext()) return;
  if (!con.Confirm("Warning!!!!!!!!!!!!!!!!!!!", {"* NOTICE *", "In case of first access to NOR Flash,",
                                                  "it is available to download bootloader.", "Are you sure?"}))
    return;
  if (ctx_.rec.m_nCommType == 1) {
    con.MessageBox("Only uart mode available!!!!", "", MsgButtons::Ok);
    return;
  }
  Launch(-1, -1, BootloaderDownloadProc);
}

// Every press of an erase button asks first: the chains erase through the
// job itself, never through these handlers.
bool OperationControl::ConfirmErase() {
  if (!ReadyForNext()) return false;
  if (ctx_.con.Confirm("WARNING!!!!!!!!", kEraseWarningLines)) return true;
  ctx_.con.EnterReadyState();
  return false;
}

void OperationControl::OnNandEraseAll() {
  if (!ConfirmErase()) return;
  // The erase job brings up the NAND loader itself when the NOR loader runs.
  Launch(kOpNandEraseAll, -1, NandEraseProc);
}

void OperationControl::OnEraseBootloader() {
  if (!ConfirmErase()) return;
  Launch(kOpBootAreaErase, -1, NandEraseProc);
}

void OperationControl::OnNandDump() { Launch(kOpNandDump, -1, NandDumpProc); }

void OperationControl::OnNorDump() { Launch(kOpNorDump, -1, NorDumpProc); }

void OperationControl::OnNorAllSectorsErase() {
  if (!ConfirmErase()) return;
  Launch(kOpNorVlfFormat, kLoaderNand, NorFormatProc);
}

void OperationControl::OnVlfFormat() { Launch(-1, kLoaderNor, VlfFormatProc); }

void OperationControl::OnPzlFormat() { Launch(-1, kLoaderNor, PzlFormatProc); }

void OperationControl::OnCheckBadBlock() {
  Console& con = ctx_.con;
  if (!ReadyForNext()) return;
  con.EnterBusyState();
  con.ControlsToRecord();
  if (ComCheckFails(ctx_.rec)) return;
  if (ctx_.job.loaderState == kLoaderNor) {
    runner_->Start(CheckBadBlockProc);
    return;
  }
  // Nothing to do: give the controls back instead of leaving them disabled.
  con.EnterReadyState();
}

void OperationControl::OnRawDump() {
  // Starts without the busy state or any check, but never beside a running
  // job: two jobs on one port would garble both.
  if (!ReadyForNext()) return;
  runner_->Start(RawDumpProc, JobPriority::TimeCritical);
}

void OperationControl::OnSelectionCheckBox(int controlId) {
  OperationRecord& rec = ctx_.rec;
  // A running job reads the record in its closing steps; the box counts
  // from the next operation on, when the launch copies the controls again.
  if (!ReadyForNext()) return;
  ctx_.con.ControlsToRecord();
  RecordSelection& sel = ctx_.session.Selection();
  switch (controlId) {
    case ctl::kChkErRo: sel.head = 1; break;
    case ctl::kChkParam: sel.middle = 1; break;
    case ctl::kChkResource1164: sel.resource1 = static_cast<uint8_t>(rec.m_bResource1164 != 0); break;
    case ctl::kChkBoot2: sel.rest = static_cast<uint8_t>(rec.m_bBoot2 != 0); break;
    default: break;
  }
}

}  // namespace vantrel
