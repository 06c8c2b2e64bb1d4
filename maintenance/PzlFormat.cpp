// PZL format: formats the handset's block-management layer in NAND flash.
#include "maintenance/PzlFormat.h"

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/LinkSteps.h"
#include "jobs/OperationRecord.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "maintenance/MaintenanceSteps.h"
#include "protocol/LoaderCommands.h"

namespace vantrel {

bool PzlFormatJob(JobContext& ctx) {
  using namespace maint;
  using namespace joblink;
  Console& con = ctx.con;
  OperationRecord& rec = ctx.rec;

  const bool uart = rec.m_nLinkMode == LinkMode::Uart;
  const std::string port = PortName(ctx);
  uint8_t raised = kBaseBaudCode;
  bool ok = false;
  [&] {
    if (uart && ctx.job.loaderState != kLoaderNand && !DownloadNandFlashDriver(ctx, LoaderLink(ctx), 1)) return;
    if (Halted()) return;
    con.AppendLog("\n  * PZL Format", LogKind::Red);
    EnterPhase(ctx, Phase::Format);
    const uint8_t selectedCode = SelectedRateOrRefuse(ctx);
    if (selectedCode == 0) return;
    if (!OpenAtSelectedRate(ctx, port, uart, selectedCode, false, raised)) return;
    timing::Pause(maint::kBeforeCommandMs, "PzlFormat");
    if (Halted()) return;
    con.AppendLogPlain("\n    Now NAND PZL Format Setting\t\t> > > ");
    const Result rc = TOOL_FormatPzl(ctx.session, *rec.m_pLink);
    if (Halted()) return;
    // A command that never left the PC has not formatted anything: say so
    // instead of reporting it done.
    if (rc != Result::Ok) {
      con.AppendLog("FAIL\n", LogKind::Red);
      ShowFailure(ctx, FailureKindOf(rc), rc, std::string("Error formatting PZL : ") + ResultText(rc) + "\n");
      return;
    }
    con.AppendLog("OK\n", LogKind::BlueNote);
    if (!ReturnToBaseRate(ctx, raised)) return;
    ctx.job.loaderState = kLoaderNand;
    ok = true;
  }();

  // A failure after the rate went up leaves a handset the next job could
  // not reach: it goes back to the base rate here, as after the flash jobs.
  (void)ReleaseJobLink(ctx, raised);
  if (Halted()) return false;
  // Shown after failures too: whatever happened, the handset has to be
  // switched off and on before the next operation.
  ShowNotice(ctx, "PZL All Erased. Turn On/Off", "  NOTICE  ");
  AskOperator(ctx, Prompt::PowerCycle);
  con.EnterReadyState();
  return ok;
}

int PzlFormatProc(JobContext& ctx) {
  if (PzlFormatJob(ctx)) RecordCompletion(ctx);
  return 1;
}

}  // namespace vantrel
