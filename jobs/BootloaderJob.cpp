// One stage of the bootloader download: from the boot ROM through memory
// set-up, preloader and the boot-image flash driver to the stage image.
#include <string>

#include "jobs/Console.h"
#include "jobs/FlashJobSteps.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "protocol/BlockLayer.h"
#include "protocol/BootUpload.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"

namespace vantrel {

using namespace flashjob;

namespace {

constexpr const char* kUartOnlyNotice = "Bootloader Download available in UART Comport";
constexpr const char* kFlashDriverMissing = "Make sure whether flashdrv_all.img file is in same folder";

struct BootStage {
  const char* text;
  uint32_t address;
};

BootStage StageOf(uint8_t stage) {
  switch (stage) {
    case proto::kSelectSecBoot: return {"  Now SEC_BOOT Downloading........ ", 0};
    case proto::kSelectBoot1a: return {"  Now BOOT1a Downloading........ ", 0x1000};
    default: return {"  Now BOOT1b Downloading........ ", 0x4000};
  }
}

std::string Rule() { return std::string(77, '-'); }

void AnnounceDownloadMode(JobContext& ctx) {
  static const char* const kRates[] = {"115k", "460k", "921k"};
  const std::string announcement = "\n" + Rule() + "\n  Bootloader Download mode ";
  ctx.con.AppendLog(announcement, LogKind::BlueNote);
  const int selection = ctx.rec.m_nBaudRate;
  if (selection >= 0 && selection < 3) {
    ctx.con.AppendLog(StrPrintf("( COM%d  BaudRate : %s )\n", ctx.rec.m_nComPort + 1, kRates[selection]) + Rule() + "\n",
                      LogKind::BlueNote);
  } else {
    ctx.con.AppendLog(announcement, LogKind::BlueNote);
  }
}

}  // namespace

bool BootStageDownloadJob(JobContext& ctx, uint8_t stage) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  const bool first = stage == proto::kSelectSecBoot;
  if (first) con.MessageBox(kUartOnlyNotice);
  if (Stopped()) return false;
  con.EnterBusyState();
  // Every stage starts again from the boot ROM; the stand-ins are named once.
  if (!PayloadsReady(ctx, first)) {
    con.EnterDisconnectedState();
    return false;
  }

  // The boot-ROM routines open and close this record's port themselves; the
  // operator's code only has to be one they accept (they run at the base rate).
  ComLink& link = rec.m_linkRecord;
  if (link.IsOpen()) ClosePort(link);
  link = ComLink{};
  link.SetPortName(PortName(ctx));
  link.baudCode = SelectedBaudCode(ctx);

  if (first) AnnounceDownloadMode(ctx);

  con.AppendLogPlain("  SDRAM initializing...........");
  // A failure of either shows up as a failure of the flash driver upload.
  (void)TOOL_DownloadDriver(ctx.session, link, DriverForm::SdramInit);
  if (Stopped()) return false;
  (void)TOOL_DownloadDriver(ctx.session, link, DriverForm::Preboot);
  if (Stopped()) return false;
  con.AppendLog("  OK \n", LogKind::Blue);

  EnterPhase(ctx, Phase::LoaderUpload);
  con.AppendLogPlain("  FlashLoader download & running...........");
  Result rc = TOOL_DownloadFlashDriver(ctx.session, link);
  if (Stopped()) return false;
  if (rc != Result::Ok) {
    ReportUploadFailure(ctx, rc, kFlashDriverMissing);
    con.EnterDisconnectedState();
    return false;
  }
  con.AppendLog("  OK\n", LogKind::Blue);
  ctx.session.SetImageCursor(0);
  timing::Pause(kPauseBeforeStageMs, "BootStageDownloadJob.beforeStage");
  if (Stopped()) return false;

  const BootStage target = StageOf(stage);
  BeginTransfer(ctx, ImageItem::BootStage, FlashRegion::Nand);
  con.AppendLogPlain(target.text);
  rc = TOOL_DownloadImage(ctx.session, link, target.address, ProgressTo(ctx), stage);
  if (Stopped()) return false;
  if (rc != Result::Ok) {
    // The chain goes on: the operator power-cycles and the next stage starts
    // again from the boot ROM.
    con.AppendLog("FAIL\n", LogKind::Red);
    ShowFailure(ctx, FailureKindOf(rc), rc, StrPrintf("%s", ResultText(rc)), kDownloadingFailure);
    con.AppendLog(kPowerCycleHint, LogKind::Red);
    AskOperator(ctx, Prompt::PowerCycle);
    return true;
  }
  con.AppendLog("OK\n\n", LogKind::BlueNote);
  ctx.job.loaderState = kLoaderNone;
  return true;
}

}  // namespace vantrel
