#include "maintenance/OperationControl.h"

#include <cstring>
#include <ctime>

#include "history/History.h"
#include "jobs/ControlIds.h"
#include "jobs/DownloadChecks.h"
#include "jobs/JobRunner.h"
#include "jobs/Jobs.h"
#include "jobs/Printf.h"
#include "jobs/RunRecord.h"
#include "jobs/ThreadProcs.h"
#include "link/ComNames.h"
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
// A window run's "status" in the station log, numbered as the command line's
// exit statuses are: a failure, or stopped like an interrupted run.
constexpr int kStatusFailed = 1;
constexpr int kStatusStopped = 130;

const std::vector<std::string> kEraseWarningLines = {"All NAND flash data are erased.", "Are you sure?"};

// With no port chosen and the first rate in the list, nothing can start.
bool ComCheckFails(const OperationRecord& rec) { return rec.m_nComPort == -1 && rec.m_nBaudRate == 0; }

// The reconnect that makes a running loader give way takes seconds: it runs
// on the job's thread, so the window repaints and Cancel can stop it.
JobBody ReconnectFirst(ThreadProc proc) {
  return [proc](JobContext& ctx) {
    (void)ReconnectForDriverChange(ctx);
    ctx.job.loaderState = kLoaderNone;
    return stop::Requested() ? 0 : proc(ctx);
  };
}

int CheckBadBlockProc(JobContext& ctx) {
  (void)ReconnectForDriverChange(ctx);
  ctx.job.loaderState = kLoaderNone;
  RecordCompletion(ctx);
  return 0;
}

// Closing the boot link on USB and letting the port settle.
int UsbDisconnectProc(JobContext& ctx) {
  ClosePort(ctx.rec.m_linkRecord);
  timing::Pause(kUsbDisconnectPauseMs, "Disconnect");
  ctx.rec.m_bConnected = 0;
  ctx.con.EnterDisconnectedState();
  RecordCompletion(ctx);
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
  con.AppendLog("\n  Settings not saved: " + why + "\n", LogKind::Red);
}

OperationControl::OperationControl(OperationRecord& rec, Console& con, SettingsStore* settings)
    : ctx_{rec, con, settings, session_, job_}, runner_(std::make_unique<JobRunner>(ctx_)) {}

OperationControl::~OperationControl() {
  // Closing the window while a job runs: the job is stopped, says nothing
  // more, and its thread is joined before the record it uses goes away.
  runner_.reset();
}

// The station log's entry and the front end's notice for one job. The
// files are summed on the job's thread, as the job starts: reading images
// of many megabytes must not stall the window.
void OperationControl::StartJob(const char* op, uint8_t filesOf, JobBody proc, JobPriority priority) {
  // Timed on the jobs' own clock, as their "Elapsed Time" lines are: the
  // record, the notice and the log then agree, also when the pauses run
  // scaled down.
  const uint64_t startMs = timing::NowMs();
  std::shared_ptr<RunFacts> facts;
  if (!historyPath_.empty()) {
    facts = std::make_shared<RunFacts>();
    facts->when = std::time(nullptr);
    if (ctx_.rec.m_nComPort >= 0) {
      facts->port = StrPrintf("COM%d", ctx_.rec.m_nComPort + 1);
      facts->device = ComDevicePath(facts->port);
    }
    proc = [proc = std::move(proc), facts, filesOf, name = std::string(op),
            adapterSerialOf = adapterSerialOf_](JobContext& ctx) {
      const int item = name == "download" ? ctx.rec.m_nDownloadItem : -1;
      facts->operations.push_back({{"op", name}, {"files", OperationFiles(ctx.rec, filesOf, item)}});
      if (adapterSerialOf) facts->adapterSerial = adapterSerialOf(facts->device);
      return proc(ctx);
    };
  }
  JobEndHook onEnd;
  if (facts || onJobEnd_) {
    onEnd = [this, facts, startMs, name = std::string(op)](const JobEnd& end) {
      const JobOutcome outcome{name, end.outcome, static_cast<double>(timing::NowMs() - startMs) / 1000.0};
      if (facts) RecordRun(*facts, outcome);
      if (onJobEnd_) onJobEnd_(outcome);
    };
  }
  runner_->Start(std::move(proc), priority, std::move(onEnd));
}

void OperationControl::RecordRun(RunFacts& facts, const JobOutcome& outcome) {
  const OperationOutcome& o = outcome.outcome;
  const bool stopped = o.failure == FailureKind::Interrupted;
  const std::string result = stopped ? "stopped" : o.Succeeded() ? "ok" : "failure";
  const std::string reason = stopped ? "" : FailureReason(o);
  nlohmann::json& entry = facts.operations.back();
  entry["result"] = result;
  if (!reason.empty()) entry["reason"] = reason;
  AddRanges(entry, o);
  facts.result = result;
  facts.status = stopped ? kStatusStopped : o.Succeeded() ? 0 : kStatusFailed;
  facts.reason = reason;
  facts.seconds = outcome.seconds;
  facts.flashId = ctx_.session.FlashType();
  if (platform::FileError e = history::AppendRecord(BuildRunRecord(facts), historyPath_))
    ctx_.con.AppendLog("\n  Cannot add this run to the station log " + historyPath_ + ": " +
                           platform::FileErrorText(e) + "\n",
                       LogKind::Red);
}

bool OperationControl::JobRunning() const { return runner_->Running(); }

void OperationControl::WaitForJob() { runner_->Join(); }

// A job still winding down (a chain already back in the ready state, a
// failed connect closing its port) keeps the next one from starting. The
// operator is told, rather than a press doing nothing or a question being
// asked for an operation that will not run.
bool OperationControl::ReadyForNext() {
  if (runner_->Prepare()) {
    ctx_.job.outcome.Reset();
    return true;
  }
  ctx_.con.AppendLog(kStillFinishingText, LogKind::Red);
  return false;
}

// The start of a press that runs a job: once the last job has made way, the
// console goes busy and the record takes the controls' values.
bool OperationControl::BeginPress() {
  if (!ReadyForNext()) return false;
  ctx_.con.EnterBusyState();
  ctx_.con.ControlsToRecord();
  return true;
}

// Common start of the job-starting handlers. `operation` < 0 leaves
// the operation code as it is; `reconnectWhenLoader` < 0 never reconnects.
void OperationControl::Launch(const char* op, int operation, int reconnectWhenLoader, ThreadProc proc) {
  const OperationRecord& rec = ctx_.rec;
  if (!BeginPress()) return;
  // The console stays busy: without a port nothing can run.
  if (ComCheckFails(rec)) return;
  if (operation >= 0) ctx_.job.operation = static_cast<uint8_t>(operation);
  const uint8_t filesOf = operation >= 0 ? static_cast<uint8_t>(operation) : 0;
  if (reconnectWhenLoader >= 0 && ctx_.job.loaderState == reconnectWhenLoader)
    StartJob(op, filesOf, ReconnectFirst(proc));
  else
    StartJob(op, filesOf, proc);
}

void OperationControl::OnStart() {
  Console& con = ctx_.con;
  OperationRecord& rec = ctx_.rec;
  if (!BeginPress()) return;
  if (rec.m_nCommType == 0) rec.m_nLinkMode = LinkMode::Uart;
  if (rec.m_nCommType == 1) rec.m_nLinkMode = LinkMode::Usb;
  if (rec.m_nCommType == -1) {
    ShowFailure(ctx_, FailureKind::Usage, Result::InvalidValue, "Select a comm type by USB or by UART.\r\nTry again!!");
    con.EnterDisconnectedState();
    return;
  }
  if (rec.m_bAutoAllDownload == 1) {
    MeasureImageFiles(rec);
    const auto missing = CheckAutoAllFiles(rec);
    if (!missing.empty()) {
      for (const auto& text : missing) ShowFailure(ctx_, FailureKind::File, Result::FileOpen, text);
      con.SetLinkIndicator("  Connect", IndicatorKind::FlashIdRed);
      con.EnterDisconnectedState();
      return;
    }
    LogConnectAttempt(ctx_);
    ctx_.job.operation = kOpAllChain;
    StartJob("auto-all", kOpAllChain, AutoAllDownloadProc);
    return;
  }
  StartJob("connect", 0, ConnectProc);
}

void OperationControl::OnDownload() {
  Console& con = ctx_.con;
  OperationRecord& rec = ctx_.rec;
  if (!BeginPress()) return;
  rec.m_dTotalElapsed = 0.0;
  // The console stays busy: without a port nothing can run. Nothing started,
  // so nothing is counted.
  if (ComCheckFails(rec)) return;

  MeasureImageFiles(rec);
  const DownloadPlan plan = PlanDownload(rec);
  if (!plan.ok) {
    for (const auto& text : plan.messages) ShowFailure(ctx_, plan.failure, plan.result, text);
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
  StartJob("download", plan.operation, plan.proc);
}

void OperationControl::OnCancel() {
  Console& con = ctx_.con;
  // The job stops before its next exchange with the handset and closes its
  // own links and files on its own thread; from here on it reaches neither
  // the console nor the handset.
  runner_->Stop();
  con.AppendLog(kCanceledText, LogKind::Red);
  con.AppendLog(kCanceledText, LogKind::Red);
  con.SetProgressPos(0);
  con.AppendLog(" ", LogKind::Scratch);
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
  if (rec.m_nLinkMode == LinkMode::Usb) {
    con.EnterBusyState();
    StartJob("disconnect", 0, UsbDisconnectProc);
    return;
  }
  rec.m_bConnected = 0;
  con.EnterDisconnectedState();
  RecordCompletion(ctx_);
}

void OperationControl::OnBootloaderDownload() {
  Console& con = ctx_.con;
  if (!ReadyForNext()) return;
  if (!con.Confirm("Warning!!!!!!!!!!!!!!!!!!!", {"* NOTICE *", "In case of first access to NOR Flash,",
                                                  "it is available to download bootloader.", "Are you sure?"})) {
    RecordFailure(ctx_, FailureKind::NotConfirmed, Result::Ok);
    return;
  }
  if (ctx_.rec.m_nCommType == 1) {
    ShowFailure(ctx_, FailureKind::Usage, Result::InvalidValue, "Only uart mode available!!!!");
    return;
  }
  Launch("bootloader", -1, -1, BootloaderDownloadProc);
}

// Every press of an erase button asks first: the chains erase through the
// job itself, never through these handlers.
bool OperationControl::ConfirmErase() {
  if (!ReadyForNext()) return false;
  if (ctx_.con.Confirm("WARNING!!!!!!!!", kEraseWarningLines)) return true;
  RecordFailure(ctx_, FailureKind::NotConfirmed, Result::Ok);
  ctx_.con.EnterReadyState();
  return false;
}

void OperationControl::OnNandEraseAll() {
  if (!ConfirmErase()) return;
  // The erase job brings up the NAND loader itself when the NOR loader runs.
  Launch("erase all", kOpNandEraseAll, -1, NandEraseProc);
}

void OperationControl::OnEraseBootloader() {
  if (!ConfirmErase()) return;
  Launch("erase boot", kOpBootAreaErase, -1, NandEraseProc);
}

void OperationControl::OnNandDump() { Launch("nand-dump", kOpNandDump, -1, NandDumpProc); }

void OperationControl::OnNorDump() { Launch("nor-dump", kOpNorDump, -1, NorDumpProc); }

void OperationControl::OnNorAllSectorsErase() {
  if (!ConfirmErase()) return;
  Launch("nor-format", kOpNorVlfFormat, kLoaderNand, NorFormatProc);
}

void OperationControl::OnVlfFormat() { Launch("vlf-format", -1, kLoaderNor, VlfFormatProc); }

void OperationControl::OnPzlFormat() { Launch("pzl-format", -1, kLoaderNor, PzlFormatProc); }

void OperationControl::OnCheckBadBlock() {
  Console& con = ctx_.con;
  if (!BeginPress()) return;
  if (ComCheckFails(ctx_.rec)) return;
  if (ctx_.job.loaderState == kLoaderNor) {
    StartJob("check-bad-block", 0, CheckBadBlockProc);
    return;
  }
  // Nothing to do: give the controls back instead of leaving them disabled.
  con.EnterReadyState();
  RecordCompletion(ctx_);
}

void OperationControl::OnRawDump() {
  // Starts without the busy state or any check, but never beside a running
  // job: two jobs on one port would garble both.
  if (!ReadyForNext()) return;
  StartJob("raw-readback", 0, RawDumpProc, JobPriority::TimeCritical);
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
