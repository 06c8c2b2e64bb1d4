// NOR download job: the image set (16), the calibration set (17) or a raw
// file at the operator's address (22), written through the NOR flash loader.
#include <string>

#include "jobs/Console.h"
#include "jobs/FlashJobSteps.h"
#include "jobs/Jobs.h"
#include "jobs/LinkSteps.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ResultCodes.h"
#include "protocol/Constants.h"
#include "protocol/LoaderCommands.h"
#include "protocol/ReadBack.h"

namespace vantrel {

using namespace flashjob;
using namespace joblink;

namespace {

constexpr const char* kNorElapsedLine = "  ( Elapsed Time : %5.1fs)\n";
constexpr int kItemAllDownload = 7;

struct NorItem {
  uint8_t code;
  const char* headline;
  ImageItem item;
};

constexpr NorItem kNorItems[] = {
    {kOpImgset, "\n  * NOR : Imgset Download", ImageItem::Imgset},
    {kOpCalset, "\n  * NOR : Calset Download", ImageItem::Calset},
    {kOpNorManual, "\n  * NOR : Manual Download", ImageItem::Manual},
};

const NorItem* FindNorItem(uint8_t code) {
  for (const NorItem& item : kNorItems)
    if (item.code == code) return &item;
  return nullptr;
}

// Shows the file, announces the transfer and streams it; the result of the
// exchange. Any other code transfers nothing.
Result TransferNorImage(JobContext& ctx, uint8_t code) {
  OperationRecord& rec = ctx.rec;
  const LinkMode mode = rec.m_nLinkMode;
  ComLink& link = *rec.m_pLink;
  switch (code) {
    case kOpImgset: {
      ShowFileRow(ctx, rec.m_strImageFileName, rec.m_nImageFileSize);
      ctx.con.AppendLogPlain("\n    imgset Download start!!\n");
      ctx.con.AppendLogPlain(SeparatorLine());
      uint32_t marker = rec.m_bIncludeBootloader ? proto::kNorRecordMarkerBoot : proto::kNorRecordMarker;
      Result rc = TOOL_DownloadNorImage(ctx.session, mode, link, rec.m_strImageFileName, marker, 0, ProgressTo(ctx));
      // The date stamps a good image set only: a failed transfer keeps its
      // own result and the handset gets no date for it.
      if (rc != Result::Ok || Stopped()) return rc;
      const std::string date = DownloadDate(ctx);
      return TOOL_SendDownloadDate(ctx.session, link, date.data(), mode);
    }
    case kOpCalset:
      ShowFileRow(ctx, rec.m_strParamDepFileName, rec.m_nParamDepFileSize);
      ctx.con.AppendLogPlain("\n    Now W5K1_calset Downloading start!!\n");
      ctx.con.AppendLogPlain(SeparatorLine());
      return TOOL_DownloadNorImage(ctx.session, mode, link, rec.m_strParamDepFileName, proto::kNorRecordMarker, 0,
                                   ProgressTo(ctx));
    case kOpNorManual:
      ShowFileRow(ctx, rec.m_strManualImage, rec.m_nManualImageSize);
      ctx.con.AppendLogPlain(StrPrintf("\n    Now Manual Download start!!( Start address : 0x%x File Size : %d\n",
                                    rec.m_nStartAddress, static_cast<int>(rec.m_nManualImageSize)));
      ctx.con.AppendLogPlain(SeparatorLine());
      return TOOL_DownloadNorImage(ctx.session, mode, link, rec.m_strManualImage, rec.m_nStartAddress, rec.m_nManualImageSize,
                                   ProgressTo(ctx));
    default:
      return Result::Ok;
  }
}

}  // namespace

bool NorDownloadJob(JobContext& ctx, uint8_t code, int chained) {
  OperationRecord& rec = ctx.rec;
  Console& con = ctx.con;
  con.EnterBusyState();
  const std::string port = PortName(ctx);
  const bool uart = rec.m_nLinkMode == LinkMode::Uart;
  uint8_t raised = kBaseBaudCode;  // the rate the handset runs at while this job holds the link
  bool ok = false;
  bool sessionEnded = false;
  Stopwatch clock;

  auto closing = [&]() -> bool {
    clock.Stop();  // the failure's moment, before the clean-up's own pauses
    if (!ReleaseJobLink(ctx, raised)) return false;
    ReportElapsed(ctx, clock, kNorElapsedLine);
    if (!rec.m_bAutoAllDownload || rec.m_bReboot) {
      if (!chained && ok) ShowNotice(ctx, kDownloadFinished, kNoticeCaption);
      if (rec.m_bReboot) con.EnterDisconnectedState();
    }
    // The loader session has ended: the console must not offer loader work.
    if (sessionEnded) return true;
    if (rec.m_nDownloadItem == kItemAllDownload && ok) return true;
    con.EnterReadyState();
    return ok;
  };

  ReconnectAwayFrom(ctx, kLoaderNand);
  if (Stopped()) return closing();
  if (uart && ctx.job.loaderState != kLoaderNor) {
    if (!DownloadNorFlashDriver(ctx, rec.m_linkRecord)) return closing();
  }
  if (Stopped()) return closing();

  if (const NorItem* item = FindNorItem(code)) {
    con.AppendLog(item->headline, LogKind::Red);
    BeginTransfer(ctx, item->item, FlashRegion::Nor);
  }

  const uint8_t chosen = SelectedRateOrRefuse(ctx);
  if (chosen == 0) return false;

  clock.Start();
  if (!OpenAtSelectedRate(ctx, port, uart, chosen, true, raised)) return closing();

  const Result rc = TransferNorImage(ctx, code);
  clock.Stop();
  if (Stopped()) return closing();

  if (!ReportTransfer(ctx, rc)) return closing();

  if (!ReturnToBaseRate(ctx, raised)) return closing();

  if (!chained && rec.m_bReboot) {
    if (!EndLoaderSession(ctx)) return closing();
    sessionEnded = true;
  }
  ok = true;
  return closing();
}

}  // namespace vantrel
