// Bringing up a flash loader on the handset and naming the flash part it
// reports.
#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/FlashJobSteps.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "payloads/Payloads.h"
#include "protocol/BootUpload.h"
#include "protocol/Constants.h"

namespace vantrel {

using namespace flashjob;

namespace {

constexpr unsigned kNorTypeCheckPauseMs = 1000;
constexpr const char* kDriverElapsedLine = "    ( Elapsed Time : %5.1fs)\n";
// Both loader uploads name this file when theirs cannot be opened.
constexpr const char* kNandDriverMissing = "Make sure whether flashdrv_nand.img file is in same folder";

struct FlashPart {
  uint8_t id;
  const char* text;
  int box;
};

// Compared in this order; the first match names the part.
constexpr FlashPart kFlashParts[] = {
    {0x56, "NX6604A0 512", ctl::kFlashIdBox}, {0x55, "NX3302A0 256", ctl::kFlashIdBox},
    {0x10, "NQ4410TB 256", ctl::kNorIdBox},   {0x11, "NQ4410BB 256", ctl::kNorIdBox},
    {0x26, "MLC NOR 512", ctl::kNorIdBox},    {0x34, "EC34", ctl::kFlashIdBox},
    {0x24, "EC24", ctl::kFlashIdBox},         {0x14, "EC14", ctl::kFlashIdBox},
    {0xB1, "ECB1", ctl::kFlashIdBox},         {0xBA, "ECBA", ctl::kFlashIdBox},
};

}  // namespace

bool ShowFlashType(JobContext& ctx, uint8_t deviceId) {
  ctx.con.ShowFlashId(deviceId);
  for (const auto& part : kFlashParts) {
    if (part.id == deviceId) {
      ctx.con.SetControlText(part.box, part.text);
      return true;
    }
  }
  return false;
}

bool PayloadsReady(JobContext& ctx, bool warn) {
  const PayloadSet& set = ActivePayloads();
  if (!set.Usable()) {
    ctx.con.AppendLog("\n  * " + set.Notice() + "\n", LogKind::Red);
    ShowFailure(ctx, FailureKind::File, Result::FileOpen, set.Notice(), "Failure");
    return false;
  }
  if (warn && set.StandIns()) ctx.con.AppendLog(std::string("\n  * ") + kStandInPayloadsNotice, LogKind::Red);
  return true;
}

bool DownloadNorFlashDriver(JobContext& ctx, ComLink& link) {
  if (!PayloadsReady(ctx, true)) {
    ctx.con.EnterDisconnectedState();
    return false;
  }
  ctx.con.AppendLog("\n\n  * NOR Flash Driver Download", LogKind::Red);
  EnterPhase(ctx, Phase::LoaderUpload);
  Stopwatch clock;
  clock.Start();
  ctx.con.AppendLogPlain("\n     NOR Flash driver Downloading\t\t> > > ");
  const Result rc = TOOL_UploadLoader(ctx.session, link, proto::kSelectNorLoader);
  if (rc != Result::Ok) {
    ReportUploadFailure(ctx, rc, kNandDriverMissing, "\n   Turn On/Off the target phone!!!\n");
    ctx.con.EnterDisconnectedState();
    return false;
  }
  ctx.con.AppendLog("OK\n", LogKind::Blue);
  ctx.con.AppendLogPlain("     Flash type Checking\t\t\t> > > ");
  timing::Pause(kNorTypeCheckPauseMs, "NorFlashTypeCheck");
  if (ShowFlashType(ctx, ctx.session.FlashType())) {
    ctx.con.AppendLog("OK\n", LogKind::Blue);
  } else {
    ctx.con.AppendLog("FAIL\n", LogKind::Red);
  }
  ReportElapsed(ctx, clock, kDriverElapsedLine);
  ctx.job.loaderState = kLoaderNor;
  return true;
}

bool DownloadNandFlashDriver(JobContext& ctx, ComLink& link, int variant) {
  if (!PayloadsReady(ctx, true)) {
    ctx.con.EnterReadyState();
    return false;
  }
  ctx.con.AppendLog("\n\n  * NAND Flash Driver Download", LogKind::Red);
  EnterPhase(ctx, Phase::LoaderUpload);
  ctx.con.AppendLogPlain("\n     preboot downloading\t\t\t> > > ");
  Stopwatch clock;
  clock.Start();

  // The memory set-up program's own result does not matter: a failure shows
  // up in the preloader or the loader upload that follows.
  (void)TOOL_DownloadDriver(ctx.session, link, variant == 32 ? DriverForm::SdramInitOnOpen : DriverForm::SdramInit);
  Result rc = TOOL_DownloadDriver(ctx.session, link, DriverForm::Preboot);
  if (rc != Result::Ok) {
    ReportUploadFailure(ctx, rc, "Make sure whether preboot.img file is in same folder");
    ctx.con.EnterReadyState();
    return false;
  }
  ctx.con.AppendLog("OK\n", LogKind::Blue);
  link.baudCode = SelectedBaudCode(ctx);
  ctx.con.AppendLogPlain("     NAND Flash driver downloading\t\t> > > ");

  rc = TOOL_UploadLoader(ctx.session, link, proto::kSelectNandLoader);
  if (rc != Result::Ok) {
    ReportUploadFailure(ctx, rc, kNandDriverMissing);
    ctx.con.EnterReadyState();
    return false;
  }
  ctx.con.AppendLog("OK\n", LogKind::Blue);
  ctx.con.AppendLogPlain("     Flash Type Checking\t\t\t> > > ");
  const uint8_t id = ctx.session.FlashType();
  if (ShowFlashType(ctx, id)) {
    ctx.con.AppendLog("OK\n", LogKind::Blue);
  } else {
    ctx.con.AppendLog(StrPrintf("device_id=%u FAIL\n", static_cast<unsigned>(id)), LogKind::Red);
  }
  ReportElapsed(ctx, clock, kDriverElapsedLine);
  ctx.job.loaderState = kLoaderNand;
  return true;
}

ComLink& LoaderLink(JobContext& ctx) {
  ComLink& link = ctx.rec.m_linkRecord;
  if (!link.IsOpen()) {
    link.SetPortName(PortName(ctx));
    link.baudCode = kBaseBaudCode;
  }
  return link;
}

void ReconnectAwayFrom(JobContext& ctx, uint8_t loader) {
  if (ctx.job.loaderState != loader) return;
  (void)ReconnectForDriverChange(ctx);
  // The reconnect hands the controls back for most items; this job is not done.
  ctx.con.EnterBusyState();
}

bool EnsureNandLoader(JobContext& ctx) {
  if (ctx.job.loaderState != kLoaderNor) return true;
  ReconnectAwayFrom(ctx, kLoaderNor);
  if (Stopped()) return false;
  // Over USB no loader is uploaded, as for the other NAND jobs.
  if (ctx.rec.m_nLinkMode == LinkMode::Usb) return true;
  return DownloadNandFlashDriver(ctx, LoaderLink(ctx), 1) && !Stopped();
}

}  // namespace vantrel
