// NOR dump: reads a half-open range of the NOR flash through the NOR flash
// loader's dump command into a file on the PC.
#include "maintenance/NorDump.h"

#include <cstdio>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/LinkSteps.h"
#include "jobs/OperationRecord.h"
#include "link/Timing.h"
#include "maintenance/DumpRanges.h"
#include "maintenance/MaintenanceSteps.h"
#include "protocol/Constants.h"
#include "protocol/ReadBack.h"

namespace vantrel {

bool NorDumpJob(JobContext& ctx, uint8_t /*code*/) {
  using namespace maint;
  using namespace joblink;
  Console& con = ctx.con;
  OperationRecord& rec = ctx.rec;

  const auto area = AcceptDumpArea(ctx, con.NorDumpDialog(), NorDumpRangeValid);
  if (!area) return false;
  const uint32_t from = area->from;
  const uint32_t to = area->to;
  const uint32_t length = to - from;
  ctx.job.expectedTicks = static_cast<int32_t>(CountNorBlocks(from, length));
  rec.m_nDumpAddress = from;

  DumpFile file(ctx);
  if (!CreateDumpFile(ctx, NorDumpFileName(from, to), length, file)) return false;

  const bool uart = rec.m_nLinkMode == LinkMode::Uart;
  const uint8_t startCode = kBaseBaudCode;
  uint8_t raised = startCode;
  bool ok = false;
  [&] {
    ReconnectAwayFrom(ctx, kLoaderNand);
    if (Halted()) return;
    const std::string port = PortName(ctx);
    if (uart && ctx.job.loaderState != kLoaderNor && !DownloadNorFlashDriver(ctx, LoaderLink(ctx))) return;
    if (Halted()) return;
    con.AppendLog("\n  * NOR Flash DUMP", LogKind::Red);
    EnterPhase(ctx, Phase::Dump);
    const uint8_t selectedCode = SelectedRateOrRefuse(ctx);
    if (selectedCode == 0) return;
    if (!OpenAtSelectedRate(ctx, port, uart, selectedCode, false, raised)) return;
    timing::Pause(kBeforeCommandMs, "NorDump");
    if (Halted()) return;
    con.AppendLogPlain("\n    Now DUMP start!!\n");
    con.AppendLogPlain(SeparatorLine());
    const Result rc = TOOL_Dump(ctx.session, rec.m_nLinkMode, file.Path(), *rec.m_pLink, from, length,
                             proto::kCmdNorDump, DumpProgressTo(ctx), file.Sink());
    if (!CheckDumpOutcome(ctx, rc, file)) return;
    if (!ReturnToBaseRate(ctx, raised)) return;
    con.AppendLogPlain("\n\n      DUMP");
    con.AppendLog("  Completed!!!\n", LogKind::BlueNote);
    ctx.job.loaderState = kLoaderNor;
    ok = true;
  }();

  // A failure after the rate went up leaves a handset the next job could
  // not reach: it goes back to the base rate here, as after the flash jobs.
  (void)ReleaseJobLink(ctx, raised);
  file.Close();
  if (Halted()) return false;
  if (ok) {
    ctx.job.outcome.AddRead({FlashRegion::Nor, from, length});
    ShowNotice(ctx, "DUMP complete", "NOTICE");
  }
  con.EnterReadyState();
  con.EnableControl(ctl::kCancel, true);
  return ok;
}

int NorDumpProc(JobContext& ctx) {
  ctx.rec.m_nProgress = 0;
  ctx.job.progressTicks = 0;
  if (NorDumpJob(ctx, ctx.job.operation)) RecordCompletion(ctx);
  return 1;
}

}  // namespace vantrel
