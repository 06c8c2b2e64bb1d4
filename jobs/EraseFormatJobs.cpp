// Jobs that prepare flash without writing an image: the NAND erase (all
// blocks or the bootloader area), the NOR bootloader erase and file-system
// format, and the NAND file-system area set-up.
#include <string>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/FlashJobSteps.h"
#include "jobs/Jobs.h"
#include "jobs/LinkSteps.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "protocol/LoaderCommands.h"

namespace vantrel {

using namespace flashjob;
using namespace joblink;

namespace {

constexpr const char* kAllEraseComplete = "All Erase complete";
constexpr const char* kVlfFormatComplete = "VLF Format complete";
constexpr const char* kVlfAllErased = "VLF All Erased. Turn On/Off";
constexpr const char* kTurnOnOffAfterFailure = "Turn On/Off the target phone!!!";
constexpr uint32_t kNorBootAreaAddress = 0;
constexpr uint32_t kNorVlfAreaAddress = 0x1E90000;

// After the erase or format command: its failure reported, or `okText` (when
// there is one) and the handset back at the base rate. True when all worked.
bool FinishCommand(JobContext& ctx, Result rc, const char* okText, uint8_t& raised) {
  if (Stopped()) return false;
  if (rc != Result::Ok) {
    ctx.con.AppendLog("Fail", LogKind::Red);
    ShowFailure(ctx, FailureKindOf(rc), rc, StrPrintf(kErrorFlashingErase, ResultText(rc)));
    return false;
  }
  if (okText) ctx.con.AppendLog(okText, LogKind::BlueNote);
  return ReturnToBaseRate(ctx, raised);
}

}  // namespace

bool NandEraseJob(JobContext& ctx, uint8_t code) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  const std::string port = PortName(ctx);
  uint8_t raised = kBaseBaudCode;
  bool ok = false;

  auto closing = [&]() -> bool {
    if (!ReleaseJobLink(ctx, raised)) return false;
    if (ok && !rec.m_bAutoAllDownload && code != kOpAllChain) ShowNotice(ctx, kAllEraseComplete, kNoticeCaptionPlain);
    con.EnterReadyState();
    con.EnableControl(ctl::kCancel, true);
    return ok;
  };

  // A loader upload and an erase take up to half a minute, also inside the
  // chains that reach here from a ready console: Cancel works throughout.
  con.EnterBusyState();
  con.EnableControl(ctl::kCancel, true);
  if (!EnsureNandLoader(ctx)) return closing();
  con.AppendLog(code == kOpBootAreaErase ? "\n  * Bootloader area erase" : "\n  * NAND Flash all erase", LogKind::Red);
  EnterPhase(ctx, Phase::Erase);
  const uint8_t chosen = SelectedRateOrRefuse(ctx);
  if (chosen == 0) return closing();
  // The loader listens at the base rate on either link.
  if (!OpenJobLink(ctx, port, kBaseBaudCode, false)) return closing();
  if (code != kOpBootAreaErase && !RaiseRate(ctx, chosen, raised)) return closing();

  con.AppendLogPlain("\n    Now NAND All blocks erasing\t\t> > > ");
  const Result rc = TOOL_EraseAll(ctx.session, *rec.m_pLink, code, rec.m_nLinkMode);
  if (!FinishCommand(ctx, rc, "OK\n", raised)) return closing();
  ctx.job.loaderState = kLoaderNand;
  ok = true;
  return closing();
}

bool NorFormatJob(JobContext& ctx, uint8_t code) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  const std::string port = PortName(ctx);
  const bool uart = rec.m_nLinkMode == LinkMode::Uart;
  const bool bootArea = code == kOpBootAreaErase;
  uint8_t raised = kBaseBaudCode;
  bool ok = false;

  auto closing = [&]() -> bool {
    if (!ReleaseJobLink(ctx, raised)) return false;
    if (ok) ShowNotice(ctx, bootArea ? kAllEraseComplete : kVlfFormatComplete, kNoticeCaptionPlain);
    con.EnterDisconnectedState();
    con.EnableControl(ctl::kCancel, true);
    return ok;
  };

  if (uart && (ctx.job.loaderState == kLoaderNone || ctx.job.loaderState == kLoaderNand || code == kOpAllChain)) {
    if (!DownloadNorFlashDriver(ctx, rec.m_linkRecord)) return closing();
    if (Stopped()) return closing();
  }
  con.AppendLog(bootArea ? "\n  * Bootloader erase" : "\n  * VLF FORMAT ", LogKind::Red);
  EnterPhase(ctx, bootArea ? Phase::Erase : Phase::Format);
  const uint8_t chosen = SelectedRateOrRefuse(ctx);
  if (chosen == 0) return closing();
  if (uart) {
    if (!OpenJobLink(ctx, port, kBaseBaudCode, true)) return closing();
    timing::Pause(kPauseAfterOpenMs, "NorFormatJob.afterOpen");
    if (Stopped() || !RaiseRate(ctx, chosen, raised)) return closing();
  } else if (!OpenJobLink(ctx, port, chosen, false)) {
    return closing();
  }

  timing::Pause(kPauseBeforeFormatMs, "NorFormatJob.beforeFormat");
  if (Stopped()) return closing();
  con.AppendLogPlain(bootArea ? "\n    Now erasing start!!\n" : "\n    VLF Format start!!\n");
  con.AppendLogPlain(SeparatorLine());
  const Result rc = TOOL_FormatVlf(ctx.session, *rec.m_pLink, bootArea ? kNorBootAreaAddress : kNorVlfAreaAddress, ProgressTo(ctx));
  if (!FinishCommand(ctx, rc, nullptr, raised)) return closing();
  con.AppendLogPlain(bootArea ? "\n      Erase" : "\n      Format");
  con.AppendLog("  Completed!!!\n\n", LogKind::BlueNote);
  (void)TOOL_EndSession(ctx.session, *rec.m_pLink);
  if (Stopped()) return closing();
  ctx.job.loaderState = kLoaderNor;
  ok = true;
  return closing();
}

bool VlfFormatJob(JobContext& ctx) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  if (!con.Confirm("WARNING!!!", {"VLF Area will be erased", "Are You SURE?"})) {
    RecordFailure(ctx, FailureKind::NotConfirmed, Result::Ok);
    con.EnterReadyState();
    return false;
  }
  const std::string port = PortName(ctx);
  const bool uart = rec.m_nLinkMode == LinkMode::Uart;
  uint8_t raised = kBaseBaudCode;
  bool ok = false;

  auto closing = [&]() -> bool {
    if (!ReleaseJobLink(ctx, raised)) return false;
    // The notice claims the area is erased: only a format that worked may say
    // so. A failed one still needs the handset switched off and on.
    ShowNotice(ctx, ok ? kVlfAllErased : kTurnOnOffAfterFailure, kNoticeCaption);
    AskOperator(ctx, Prompt::PowerCycle);
    con.EnterReadyState();
    return ok;
  };

  if (uart && (ctx.job.loaderState == kLoaderNone || ctx.job.loaderState == kLoaderNor)) {
    if (!DownloadNandFlashDriver(ctx, rec.m_linkRecord, 1)) return closing();
    if (Stopped()) return closing();
  }
  con.AppendLog("\n  * VLF Format", LogKind::Red);
  EnterPhase(ctx, Phase::Format);
  const uint8_t chosen = SelectedRateOrRefuse(ctx);
  if (chosen == 0) return closing();
  if (!OpenAtSelectedRate(ctx, port, uart, chosen, false, raised)) return closing();

  timing::Pause(kPauseBeforeFormatMs, "VlfFormatJob.beforeFormat");
  if (Stopped()) return closing();
  con.AppendLogPlain("\n    Now NAND VLF Format Setting\t\t> > > ");
  const Result rc = TOOL_FormatVlfArea(ctx.session, *rec.m_pLink, rec.m_nLinkMode);
  if (!FinishCommand(ctx, rc, "OK\n", raised)) return closing();
  ctx.job.loaderState = kLoaderNand;
  ok = true;
  return closing();
}

}  // namespace vantrel
