#include "jobs/ThreadProcs.h"

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/Timing.h"
#include "protocol/ImageSession.h"

namespace vantrel {

namespace {

constexpr int kExitCode = 1;

// The end of a thread procedure: its chain ran to the end when `ok`.
int Finish(JobContext& ctx, bool ok) {
  if (ok) RecordCompletion(ctx);
  return kExitCode;
}

void ResetProgress(JobContext& ctx) { ctx.rec.m_nProgress = 0; }

int32_t Ticks(uint32_t count) { return static_cast<int32_t>(count); }

// The file-system image is one stream that the session sends under the rest
// rule; with the rest flag at 0 the session would send nothing and still
// report success. Whatever earlier steps left in the other flags stays.
void SelectFileSystemStream(TargetSession& session) { session.Selection().rest = 1; }

// The records each NAND image step sends. The entire flash (and anything
// else) keeps the selection it finds: its session looks after itself.
void SelectImage(TargetSession& session, uint8_t code) {
  switch (code) {
    case kOpImgset: session.SetSelection(1, 1, 0, 0, 0, 0); break;
    case kOpCalset: session.SetSelection(0, 0, 0, 0, 1, 0); break;
    case kOpRsrc1: session.SetSelection(0, 0, 1, 0, 0, 0); break;
    case kOpRsrc2: session.SetSelection(0, 0, 0, 1, 0, 0); break;
    case kOpVlf: SelectFileSystemStream(session); break;
    default: break;
  }
}

// Where each NAND image lands and which record field holds its size.
struct NandImage {
  uint8_t code;
  uint32_t start;
  uint32_t OperationRecord::*size;
};

constexpr NandImage kNandImages[] = {
    {kOpImgset, kImgsetStart, &OperationRecord::m_nImageFileSize},
    {kOpCalset, kCalsetStart, &OperationRecord::m_nParamDepFileSize},
    {kOpRsrc1, kRsrc1Start, &OperationRecord::m_nRscrFileSize},
    {kOpRsrc2, kRsrc2Start, &OperationRecord::m_nRscr2FileSize},
    {kOpVlf, kVlfStart, &OperationRecord::m_nFactoryFSFileSize},
    {kOpEntireFlash, kEntireFlashStart, &OperationRecord::m_nEntireFlashFileSize},
};

const NandImage* FindNandImage(uint8_t code) {
  for (const NandImage& image : kNandImages)
    if (image.code == code) return &image;
  return nullptr;
}

// Progress ticks of one NAND image (one per flash block it covers).
int32_t NandTicks(const OperationRecord& rec, uint8_t code) {
  const NandImage* image = FindNandImage(code);
  return image ? Ticks(CountNandBlocks(image->start, rec.*(image->size))) : 0;
}

// One image of a chain: its records selected, then the NAND download job.
bool NandStep(JobContext& ctx, uint8_t code, int chained) {
  SelectImage(ctx.session, code);
  return NandDownloadJob(ctx, code, chained);
}

}  // namespace

void LogConnectAttempt(JobContext& ctx) {
  ctx.con.AppendLog("\n  * Connecting to target phone", LogKind::Red);
  ctx.con.AppendLog(StrPrintf("\n     Try to open COM%d\t>", ctx.rec.m_nComPort + 1), LogKind::BlueNote);
}

int ConnectStep(JobContext& ctx) {
  EnterPhase(ctx, Phase::Connecting);
  const ConnectResult result = ConnectTarget(ctx);
  ctx.rec.m_nConnectResult = static_cast<int>(result);
  ReportConnectResult(ctx, result);
  return static_cast<int>(result);
}

int AutoAllDownloadProc(JobContext& ctx) {
  OperationRecord& rec = ctx.rec;
  ResetProgress(ctx);
  ctx.job.expectedTicks = 0;
  if (ConnectStep(ctx) != 0 || ctx.job.operation != kOpAllChain) return kExitCode;

  int32_t expected = NandTicks(rec, kOpRsrc2) + NandTicks(rec, kOpRsrc1) + NandTicks(rec, kOpVlf) +
                     Ticks(CountNorBlocks(kImgsetStart, rec.m_nImageFileSize));
  if (rec.m_bCalsetDefault == 1) expected += Ticks(CountNorBlocks(kCalsetStart, rec.m_nParamDepFileSize));
  ctx.job.expectedTicks = expected;
  ctx.job.progressTicks = 0;

  if (!NorDownloadJob(ctx, kOpImgset, 1)) return kExitCode;
  if (rec.m_bCalsetDefault == 1 && !NorDownloadJob(ctx, kOpCalset, 1)) return kExitCode;
  (void)ReconnectForDriverChange(ctx);
  // The reconnect may leave the console ready; the loader upload and erase
  // that follow take up to half a minute and must stay cancellable.
  ctx.con.EnterBusyState();
  ctx.con.EnableControl(ctl::kCancel, true);
  // The reconnect makes the NOR loader give way; the NAND steps that follow
  // upload no loader of their own, so the NAND loader is brought up here.
  if (!DownloadNandFlashDriver(ctx, ctx.rec.m_linkRecord, 1)) return kExitCode;
  if (!NandEraseJob(ctx, kOpAllChain)) return kExitCode;
  // Each image step selects its own records, as the single-item steps do;
  // left as the NOR steps found it, the selection would skip every record.
  if (!NandStep(ctx, kOpRsrc1, 1)) return kExitCode;
  if (!NandStep(ctx, kOpRsrc2, 1)) return kExitCode;
  if (!NandStep(ctx, kOpVlf, 1)) return kExitCode;
  ReportAllFinished(ctx);
  return Finish(ctx, true);
}

int ConnectProc(JobContext& ctx) {
  LogConnectAttempt(ctx);
  return Finish(ctx, ConnectStep(ctx) == 0);
}

int NandItemDownloadProc(JobContext& ctx) {
  OperationRecord& rec = ctx.rec;
  ResetProgress(ctx);
  const uint8_t code = ctx.job.operation;
  switch (code) {
    case kOpNandManual:
      ctx.job.expectedTicks = Ticks(CountNandBlocks(rec.m_nStartAddress, rec.m_nManualNandImageSize));
      break;
    case kOpAllChain:
      // The Rsrc1-and-file-system item: the two images it writes.
      ctx.job.expectedTicks = NandTicks(rec, kOpRsrc1) + NandTicks(rec, kOpVlf);
      ctx.job.progressTicks = 0;
      if (!NandStep(ctx, kOpRsrc1, 1)) return kExitCode;
      timing::Pause(kChainStepPauseMs, "ChainStep");
      if (!NandStep(ctx, kOpVlf, 1)) return kExitCode;
      ReportAllFinished(ctx);
      return Finish(ctx, true);
    default:
      if (!FindNandImage(code)) break;
      SelectImage(ctx.session, code);
      ctx.job.expectedTicks = NandTicks(rec, code) + (code == kOpVlf ? kVlfFormatTicks : 0);
      break;
  }
  ctx.job.progressTicks = 0;
  return Finish(ctx, NandDownloadJob(ctx, code, 0));
}

int NandAllDownloadProc(JobContext& ctx) {
  OperationRecord& rec = ctx.rec;
  ResetProgress(ctx);
  ctx.job.expectedTicks = 0;
  if (ctx.job.operation != kOpAllChain) return kExitCode;
  const bool calset = rec.m_bCalset == 1;

  int32_t expected = NandTicks(rec, kOpRsrc2) + NandTicks(rec, kOpRsrc1) + NandTicks(rec, kOpVlf) +
                     NandTicks(rec, kOpImgset) + kVlfFormatTicks;
  if (calset) expected += NandTicks(rec, kOpCalset);
  ctx.job.expectedTicks = expected;
  ctx.job.progressTicks = 0;

  if (!NandEraseJob(ctx, kOpAllChain)) return kExitCode;
  ShowFlashRegion(ctx, kLoaderNand, 1, kImgsetStart);

  if (!NandStep(ctx, kOpImgset, 2)) return kExitCode;
  ShowFlashRegion(ctx, kLoaderNand, 1, kImgsetStart);

  if (calset) {
    timing::Pause(kChainStepPauseMs, "ChainStep");
    if (!NandStep(ctx, kOpCalset, 2)) return kExitCode;
    ShowFlashRegion(ctx, kLoaderNand, 1, kCalsetStart);
  }
  ShowFlashRegion(ctx, kLoaderNand, 1, kImgsetStart);
  if (calset) ShowFlashRegion(ctx, kLoaderNand, 1, kCalsetStart);

  if (!NandStep(ctx, kOpRsrc1, 2)) return kExitCode;
  ShowFlashRegion(ctx, kLoaderNand, 1, kRsrc1Start);

  if (!NandStep(ctx, kOpRsrc2, 2)) return kExitCode;
  ShowFlashRegion(ctx, kLoaderNand, 1, kRsrc2Start);

  timing::Pause(kChainStepPauseMs, "ChainStep");
  if (!NandStep(ctx, kOpVlf, 2)) return kExitCode;
  ReportAllFinished(ctx);
  return Finish(ctx, true);
}

int NorManualDownloadProc(JobContext& ctx) {
  ResetProgress(ctx);
  ctx.job.expectedTicks = Ticks(CountNorBlocks(ctx.rec.m_nStartAddress, ctx.rec.m_nManualImageSize));
  ctx.job.progressTicks = 0;
  return Finish(ctx, NorDownloadJob(ctx, kOpNorManual, 0));
}

int BootloaderDownloadProc(JobContext& ctx) {
  if (!BootStageDownloadJob(ctx, 'q')) return kExitCode;
  if (!BootStageDownloadJob(ctx, 'r')) return kExitCode;
  if (!BootStageDownloadJob(ctx, 's')) return kExitCode;
  ctx.job.progressTicks = 0;
  ctx.job.expectedTicks = 2;
  return Finish(ctx, NandDownloadJob(ctx, kOpBoot2, 2));
}

int NandEraseProc(JobContext& ctx) {
  return Finish(ctx, NandEraseJob(ctx, ctx.job.operation));
}

int NorFormatProc(JobContext& ctx) {
  ResetProgress(ctx);
  ctx.job.progressTicks = 0;
  ctx.job.expectedTicks = ctx.job.operation == kOpBootAreaErase ? Ticks(CountNorBlocks(0, 0x10000))
                                                    : Ticks(CountNorBlocks(0x36E0000, 0x20000));
  return Finish(ctx, NorFormatJob(ctx, ctx.job.operation));
}

int VlfFormatProc(JobContext& ctx) {
  return Finish(ctx, VlfFormatJob(ctx));
}

}  // namespace vantrel
