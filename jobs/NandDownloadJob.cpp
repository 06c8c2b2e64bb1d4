// NAND download job: every DOWNLOAD item's image (image set, calset, Rsrc1,
// Rsrc2, file system, entire flash, manual image at an address) and Boot2 at
// the end of the bootloader download, written through the NAND flash loader.
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
#include "payloads/Payloads.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "protocol/LoaderCommands.h"

namespace vantrel {

using namespace flashjob;
using namespace joblink;

namespace {

constexpr const char* kNandElapsedLine = " ( Elapsed Time : %5.1fs)\n";
// The path that makes the Boot2 session send the embedded Boot2 image.
constexpr const char* kBoot2Path = "boot2";
constexpr const char* kBoot2ShownName = "boot2.img";
constexpr uint32_t kBoot2Address = 0x20000;
constexpr int kItemRsrc1AndFs = 1;
constexpr int kItemAllDownload = 7;

// One row per operation code: what is written and how it is announced.
struct NandItem {
  uint8_t code;
  const char* headline;
  const char* startText;          // plain; the manual rows format address and size into it
  std::string OperationRecord::*path;
  uint32_t OperationRecord::*size;
  uint32_t type;                  // record type of the image-set sessions
  ImageItem item;
};

constexpr NandItem kItems[] = {
    {kOpImgset, "\n  * NAND : Imgset Download", "\n    imgset Download start!!\n",
     &OperationRecord::m_strImageFileName, &OperationRecord::m_nImageFileSize, proto::kTypeImgset, ImageItem::Imgset},
    {kOpCalset, "\n  * NAND : Calset Download", "\n    Now calset Download start!!\n",
     &OperationRecord::m_strParamDepFileName, &OperationRecord::m_nParamDepFileSize, proto::kTypeCalset, ImageItem::Calset},
    {kOpRsrc1, "\n  * NAND : Rsrc1 Download", "\n    Now Rsrc1 Download start!!\n",
     &OperationRecord::m_strRscrFileName, &OperationRecord::m_nRscrFileSize, proto::kTypeRsrc1, ImageItem::Rsrc1},
    {kOpRsrc2, "\n  * NAND : Rsrc2 Download", "\n    Now Rsrc2 Download start!!\n",
     &OperationRecord::m_strRscr2FileName, &OperationRecord::m_nRscr2FileSize, proto::kTypeRsrc2, ImageItem::Rsrc2},
    {kOpVlf, "\n  * NAND : VLF Format & Download", "\n    Now VLF Download start!!\n",
     &OperationRecord::m_strFactoryFSFileName, &OperationRecord::m_nFactoryFSFileSize, proto::kTypeVlf, ImageItem::FileSystem},
    {kOpEntireFlash, "\n  * NAND : Entire Flash Download", "\n    Now VLF Flash Download start!!\n",
     &OperationRecord::m_strEntireFlashFileName, &OperationRecord::m_nEntireFlashFileSize, proto::kTypeVlfFlash, ImageItem::EntireFlash},
    {kOpNandManual, "\n  * NAND : Manual Download",
     "\n    Now Manual Download start!!( Start address : 0x%x File Size : %d )\n",
     &OperationRecord::m_strManualNandImage, &OperationRecord::m_nManualNandImageSize, 0, ImageItem::Manual},
};

const NandItem* FindItem(uint8_t code) {
  for (const NandItem& item : kItems)
    if (item.code == code) return &item;
  return nullptr;
}

// Shows the file, announces the transfer and runs the session that fits the
// image and the link; the session's result.
Result TransferNandImage(JobContext& ctx, uint8_t code) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  const LinkMode mode = rec.m_nLinkMode;
  const bool usb = mode == LinkMode::Usb;
  ComLink& link = *rec.m_pLink;

  if (code == kOpBoot2) {
    const uint32_t size = Boot2Image().size;
    con.SetControlText(ctl::kFileSize, StrPrintf("%u bytes", size));
    con.SetControlText(ctl::kFileName, kBoot2ShownName);
    con.AppendLogPlain(StrPrintf("\n    Now Boot2 Download start!! ( Start address : 0x%x File Size : %d )\n",
                              kBoot2Address, static_cast<int>(size)));
    con.AppendLogPlain(SeparatorLine());
    rec.m_strManualNandImage = kBoot2Path;
    return TOOL_DownloadBoot2(ctx.session, mode, link, kBoot2Path, kBoot2Address, ProgressTo(ctx));
  }

  const NandItem* item = FindItem(code);
  if (!item) return Result::Ok;
  const std::string path = rec.*(item->path);
  const uint32_t size = rec.*(item->size);
  ShowFileRow(ctx, path, size);
  if (code == kOpNandManual)
    con.AppendLogPlain(StrPrintf(item->startText, rec.m_nStartAddress, static_cast<int>(size)));
  else
    con.AppendLogPlain(item->startText);
  con.AppendLogPlain(SeparatorLine());

  // A stream (the file system on the UART, the entire flash on either link)
  // has no records to choose from: it goes under the rest rule, and a rest
  // flag left at 0 by an earlier session would end it before its first byte
  // while the job reported "Completed".
  const bool stream = code == kOpEntireFlash || (code == kOpVlf && !usb);
  if (stream && ctx.session.Selection().rest == 0) ctx.session.Selection().rest = 1;

  switch (code) {
    case kOpEntireFlash:
      // The entire-flash stream has only the UART form, on either link.
      return TOOL_DownloadImageSet(ctx.session, mode, link, path, item->type, ProgressTo(ctx));
    case kOpNandManual:
      return usb ? TOOL_DownloadFileUsb(ctx.session, mode, path, link, rec.m_nStartAddress, ProgressTo(ctx))
                 : TOOL_DownloadBoot2(ctx.session, mode, link, path, rec.m_nStartAddress, ProgressTo(ctx));
    default:
      break;
  }
  Result rc = usb ? TOOL_DownloadImageSetUsb(ctx.session, mode, path, link, item->type, ProgressTo(ctx))
               : TOOL_DownloadImageSet(ctx.session, mode, link, path, item->type, ProgressTo(ctx));
  if (code != kOpImgset) return rc;
  // The date stamps a good image set only: a failed transfer keeps its own
  // result and the handset gets no date for it.
  if (rc != Result::Ok || Stopped()) return rc;
  const std::string date = DownloadDate(ctx);
  return TOOL_SendDownloadDate(ctx.session, link, date.data(), mode);
}

const char* NandHeadline(uint8_t code) {
  if (code == kOpBoot2) return "\n  * Boot2 Download";
  const NandItem* item = FindItem(code);
  return item ? item->headline : nullptr;
}

ImageItem NandImageItem(uint8_t code) {
  if (code == kOpBoot2) return ImageItem::Boot2;
  const NandItem* item = FindItem(code);
  return item ? item->item : ImageItem::None;
}

}  // namespace

bool NandDownloadJob(JobContext& ctx, uint8_t code, int chained) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  con.EnterBusyState();
  const std::string port = PortName(ctx);
  const bool boot2 = code == kOpBoot2;
  uint8_t raised = kBaseBaudCode;  // the rate the handset runs at while this job holds the link
  bool ok = false;
  bool sessionEnded = false;
  Stopwatch clock;

  auto closing = [&]() -> bool {
    clock.Stop();  // the failure's moment, before the clean-up's own pauses
    if (!ReleaseJobLink(ctx, raised)) return false;
    ReportElapsed(ctx, clock, kNandElapsedLine);
    // The loader session has ended: as after a NOR download with Reboot, the
    // console must not offer loader work.
    if (sessionEnded) {
      if (!chained) ShowNotice(ctx, kDownloadFinished, kNoticeCaption);
      con.EnterDisconnectedState();
      return true;
    }
    if (boot2) {
      // Shown whatever happened; a failure before it has been recorded.
      ShowNotice(ctx, kDownloadFinished, kNoticeCaption);
      ctx.job.loaderState = kLoaderNone;
      con.EnterDisconnectedState();
      return ok;
    }
    if (!chained && ok) ShowNotice(ctx, kDownloadFinished, kNoticeCaption);
    if (code == kOpVlf || code == kOpRsrc1) con.EnterReadyState();
    if ((rec.m_nDownloadItem == kItemRsrc1AndFs || rec.m_nDownloadItem == kItemAllDownload) && ok) return true;
    con.EnterReadyState();
    return ok;
  };

  if (boot2) {
    // Boot2 goes over the UART whatever was chosen, and it is never part of a
    // chain as far as the boxes go.
    rec.m_nLinkMode = LinkMode::Uart;
    chained = 0;
    ctx.job.loaderState = kLoaderNone;
    if (!DownloadNandFlashDriver(ctx, rec.m_linkRecord, 1)) return closing();
    if (Stopped()) return closing();
  } else if (!EnsureNandLoader(ctx)) {
    return closing();
  }
  const bool uart = boot2 || rec.m_nLinkMode != LinkMode::Usb;

  if (const char* headline = NandHeadline(code)) {
    con.AppendLog(headline, LogKind::Red);
    BeginTransfer(ctx, NandImageItem(code), FlashRegion::Nand);
  }

  const uint8_t chosen = SelectedRateOrRefuse(ctx);
  if (chosen == 0) return false;

  clock.Start();
  if (!OpenAtSelectedRate(ctx, port, uart, chosen, true, raised)) return closing();

  const Result rc = TransferNandImage(ctx, code);
  clock.Stop();
  if (Stopped()) return closing();

  if (!ReportTransfer(ctx, rc)) return closing();
  timing::Pause(kPauseAfterDownloadMs, "NandDownloadJob.completed");
  if (Stopped()) return closing();

  // Back to the base rate before anything ends the session or closes the
  // link: the next job opens at the base rate and speaks there first.
  if (!ReturnToBaseRate(ctx, raised)) return closing();

  if (code == kOpVlf && rec.m_bReboot) {
    if (!EndLoaderSession(ctx)) return closing();
    sessionEnded = true;
  }
  ok = true;
  return closing();
}

}  // namespace vantrel
