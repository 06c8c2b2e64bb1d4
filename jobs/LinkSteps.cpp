#include "jobs/LinkSteps.h"

#include "jobs/Console.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ComLink.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "protocol/LoaderCommands.h"

namespace vantrel::joblink {

namespace {

bool Stopped() { return stop::Requested(); }

// The command and the host's change, with its result; nothing is said.
Result SendBaseRate(TargetSession& session, ComLink& link) {
  Result rc = TOOL_SetTargetBaud(session, link, kBaseBaudCode, 0);
  if (rc == Result::Ok) SetHostBaud(link, kBaseBaudCode);
  return rc;
}

}  // namespace

uint8_t SelectedRateOrRefuse(JobContext& ctx) {
  const uint8_t code = SelectedBaudCode(ctx);
  if (code == 0) ShowFailure(ctx, FailureKind::Usage, Result::InvalidValue, "BaudRate Error");
  return code;
}

bool OpenJobLink(JobContext& ctx, const std::string& port, uint8_t code, bool pauseFirst) {
  ctx.con.AppendLogPlain(kOpenComportLine);
  if (pauseFirst) timing::Pause(kPauseBeforeOpenMs, "job.beforeOpen");
  if (Stopped()) return false;
  std::string why;
  ctx.rec.m_pLink = OpenLink(port, code, &why);
  if (Stopped()) return false;
  if (!ctx.rec.m_pLink) {
    ctx.con.AppendLog("FAIL", LogKind::Red);
    // A port that another program holds looks like any other failure otherwise.
    if (!why.empty()) ctx.con.AppendLog("\n      " + why, LogKind::Red);
    RecordFailure(ctx, FailureKind::Port, Result::ComPort, why);
    return false;
  }
  ctx.con.AppendLog("OK", LogKind::BlueNote);
  return true;
}

bool RaiseRate(JobContext& ctx, uint8_t code, uint8_t& raised) {
  if (code != kBaseBaudCode) ctx.con.AppendLogPlain(kSetTargetBaudLine);
  Result rc = TOOL_SetTargetBaud(ctx.session, *ctx.rec.m_pLink, code, 1);
  if (Stopped()) return false;
  if (rc != Result::Ok) {
    ctx.con.AppendLog("FAIL\n", LogKind::Red);
    RecordFailure(ctx, FailureKindOf(rc), rc);
    return false;
  }
  ctx.con.AppendLog("OK", LogKind::BlueNote);
  SetHostBaud(*ctx.rec.m_pLink, code);
  raised = code;
  return true;
}

bool OpenAtSelectedRate(JobContext& ctx, const std::string& port, bool raise, uint8_t selected, bool pauseFirst,
                        uint8_t& raised) {
  if (!raise) return OpenJobLink(ctx, port, selected, false);
  return OpenJobLink(ctx, port, kBaseBaudCode, pauseFirst) && RaiseRate(ctx, selected, raised);
}

bool ReturnToBaseRate(JobContext& ctx, uint8_t& raised) {
  if (raised == kBaseBaudCode) return true;
  Result rc = ctx.rec.m_pLink ? SendBaseRate(ctx.session, *ctx.rec.m_pLink) : Result::Ok;
  raised = kBaseBaudCode;
  if (Stopped()) return false;
  if (rc != Result::Ok) {
    ShowFailure(ctx, FailureKindOf(rc), rc, StrPrintf(kErrorChangingBaud, ResultText(rc)));
    return false;
  }
  return true;
}

bool ReleaseJobLink(JobContext& ctx, uint8_t raised) {
  if (Stopped()) {
    CloseLink(ctx.rec.m_pLink);
    return false;
  }
  if (raised != kBaseBaudCode && ctx.rec.m_pLink) (void)SendBaseRate(ctx.session, *ctx.rec.m_pLink);
  CloseLink(ctx.rec.m_pLink);
  return true;
}

}  // namespace vantrel::joblink
