// NAND dump and partial erase: reads an inclusive range of the NAND flash
// into a file on the PC, or erases it, through the NAND flash loader that the
// connect step (or a NAND download) left running.
#include "maintenance/NandDump.h"

#include <cstdio>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/LinkSteps.h"
#include "jobs/OperationRecord.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "maintenance/DumpRanges.h"
#include "maintenance/MaintenanceSteps.h"
#include "protocol/Constants.h"
#include "protocol/LoaderCommands.h"
#include "protocol/ReadBack.h"

namespace vantrel {

bool NandDumpJob(JobContext& ctx, uint8_t code) {
  using namespace maint;
  using namespace joblink;
  Console& con = ctx.con;
  OperationRecord& rec = ctx.rec;

  const auto area = AcceptDumpArea(ctx, con.NandDumpDialog(), NandDumpRangeValid);
  if (!area) return false;
  const uint32_t from = area->from;
  const uint32_t to = area->to;
  const uint32_t length = to - from + 1;
  ctx.job.expectedTicks = static_cast<int32_t>(CountNandBlocks(from, to - from));
  rec.m_nDumpAddress = from;
  // Read once, before any file or port work.
  const bool erase = area->erase == 1;

  DumpFile file(ctx);
  if (!erase && !CreateDumpFile(ctx, NandDumpFileName(from, to), length, file)) return false;

  const bool uart = rec.m_nLinkMode == LinkMode::Uart;
  // The UART way raises the rate after opening at the start code; on a USB
  // link the job opens its own link directly at the selected rate (the
  // handset is not asked to change rate there).
  const bool raiseRate = uart || code == kOpBoot2;
  uint8_t raised = kBaseBaudCode;
  bool ok = false;
  [&] {
    if (!EnsureNandLoader(ctx) || Halted()) return;
    const std::string port = PortName(ctx);
    con.AppendLog(erase ? "\n  * NAND Flash partial erase" : "\n  * NAND Flash DUMP", LogKind::Red);
    EnterPhase(ctx, erase ? Phase::Erase : Phase::Dump);
    const uint8_t selectedCode = SelectedRateOrRefuse(ctx);
    if (selectedCode == 0) return;
    if (raiseRate) {
      timing::Pause(kBeforeOpenMs, "NandDump");
      if (Halted()) return;
    }
    if (!OpenAtSelectedRate(ctx, port, raiseRate, selectedCode, false, raised)) return;
    timing::Pause(kBeforeCommandMs, "NandDump");
    if (Halted()) return;
    con.AppendLogPlain(erase ? "\n    Now Partial erase start!!\n" : "\n    Now DUMP start!!\n");
    con.AppendLogPlain(SeparatorLine());
    if (erase) {
      const Result rc = TOOL_PartialErase(ctx.session, *rec.m_pLink, from, length);
      if (Halted()) return;
      if (rc != Result::Ok) {
        con.AppendLog("\r\n\r\n -  Fail!!!!!!!!", LogKind::Red);
        ShowFailure(ctx, FailureKindOf(rc), rc, std::string("Error flashing erase : ") + ResultText(rc) + "\n");
        return;
      }
    } else {
      const Result rc = TOOL_Dump(ctx.session, rec.m_nLinkMode, file.Path(), *rec.m_pLink, from, length,
                               proto::kCmdNandDump, DumpProgressTo(ctx), file.Sink());
      if (!CheckDumpOutcome(ctx, rc, file)) return;
    }
    if (raiseRate) {
      timing::Pause(kAfterNandCommandMs, "NandDump");
      if (Halted()) return;
      if (!ReturnToBaseRate(ctx, raised)) return;
    }
    con.AppendLogPlain("\n\n      DUMP");
    con.AppendLog("  Completed!!!\n", LogKind::BlueNote);
    ctx.job.loaderState = kLoaderNand;
    ok = true;
  }();

  file.Close();
  // A failure after the rate went up leaves a handset the next job could
  // not reach: it goes back to the base rate here, as after the flash jobs.
  (void)ReleaseJobLink(ctx, raised);
  if (Halted()) return false;
  if (ok) {
    if (!erase) ctx.job.outcome.AddRead({FlashRegion::Nand, from, length});
    ShowNotice(ctx, "DUMP Complete", "NOTICE");
  }
  con.EnterReadyState();
  con.EnableControl(ctl::kCancel, true);
  return ok;
}

int NandDumpProc(JobContext& ctx) {
  ctx.rec.m_nProgress = 0;
  ctx.job.progressTicks = 0;
  if (NandDumpJob(ctx, ctx.job.operation)) RecordCompletion(ctx);
  return 1;
}

}  // namespace vantrel
