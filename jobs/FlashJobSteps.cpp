#include "jobs/FlashJobSteps.h"

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/FileInfo.h"
#include "jobs/Jobs.h"
#include "jobs/LinkSteps.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "protocol/LoaderCommands.h"

namespace vantrel::flashjob {

bool Stopped() { return stop::Requested(); }

void Stopwatch::Start() {
  start_ = timing::NowMs();
  started_ = true;
}

void Stopwatch::Stop() {
  if (stopped_) return;
  end_ = timing::NowMs();
  if (!started_) {
    start_ = end_;
    started_ = true;
  }
  stopped_ = true;
}

double Stopwatch::Seconds() const {
  if (!stopped_ || end_ < start_) return 0.0;
  return static_cast<double>(end_ - start_) * 0.001;
}

void ReportElapsed(JobContext& ctx, Stopwatch& clock, const char* lineFormat) {
  clock.Stop();
  double seconds = clock.Seconds();
  ctx.rec.m_dTotalElapsed += seconds;
  ctx.con.AppendLog(StrPrintf(lineFormat, seconds), LogKind::Red);
}

void ReportUploadFailure(JobContext& ctx, Result rc, const char* missingFileText, const char* powerCycleHint) {
  ShowFailure(ctx, FailureKindOf(rc), rc,
              rc == Result::FileOpen ? std::string(missingFileText) : StrPrintf("%s", ResultText(rc)),
              kDownloadingFailure);
  ctx.con.AppendLog("FAIL\n", LogKind::Red);
  ctx.con.AppendLog(powerCycleHint, LogKind::Red);
  AskOperator(ctx, Prompt::PowerCycle);
}

bool ReportTransfer(JobContext& ctx, Result rc) {
  ctx.con.AppendLogPlain("\n      Download");
  if (rc != Result::Ok) {
    ctx.con.AppendLog("  Failed", LogKind::Red);
    ShowFailure(ctx, FailureKindOf(rc), rc, StrPrintf(kErrorFlashingImage, ResultText(rc)));
    return false;
  }
  ctx.con.AppendLog("  Completed", LogKind::BlueNote);
  return true;
}

bool EndLoaderSession(JobContext& ctx) {
  Result rc = TOOL_EndSession(ctx.session, *ctx.rec.m_pLink);
  if (Stopped()) return false;
  if (rc != Result::Ok) {
    ShowFailure(ctx, FailureKindOf(rc), rc, StrPrintf(joblink::kErrorChangingBaud, ResultText(rc)));
    return false;
  }
  return true;
}

void ShowFileRow(JobContext& ctx, const std::string& path, uint32_t size) {
  ctx.con.SetControlText(ctl::kFileSize, StrPrintf("%u bytes", size));
  ShowFileChecksum(ctx.con, path);
  ShowFileName(ctx.con, path);
}

std::string DownloadDate(const JobContext& ctx) {
  const std::string& today = ctx.rec.m_strToday;
  bool digits = today.size() == 8;
  for (char c : today) digits = digits && c >= '0' && c <= '9';
  return digits ? today : TodayDigits();
}

}  // namespace vantrel::flashjob
