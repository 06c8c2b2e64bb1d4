#include "jobs/FlashJobSteps.h"

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/FileInfo.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
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
  ctx.con.AppendLog(StrPrintf(lineFormat, seconds), kLogRed);
}

bool OpenJobLink(JobContext& ctx, const std::string& port, uint8_t code, bool pauseFirst) {
  if (pauseFirst) timing::Pause(kPauseBeforeOpenMs, "job.beforeOpen");
  if (Stopped()) return false;
  std::string why;
  ctx.rec.m_pLink = OpenLink(port, code, &why);
  if (Stopped()) return false;
  if (!ctx.rec.m_pLink) {
    ctx.con.AppendLog("FAIL", kLogRed);
    // A port that another program holds looks like any other failure otherwise.
    if (!why.empty()) ctx.con.AppendLog("\n      " + why, kLogRed);
    return false;
  }
  ctx.con.AppendLog("OK", kLogBlueNote);
  return true;
}

bool RaiseRate(JobContext& ctx, uint8_t code) {
  if (code != kBaseBaudCode) ctx.con.AppendLogPlain(kSetTargetBaudLine);
  int rc = TOOL_SetTargetBaud(*ctx.rec.m_pLink, code, 1);
  if (Stopped()) return false;
  if (rc != 0) {
    ctx.con.AppendLog("FAIL\n", kLogRed);
    return false;
  }
  ctx.con.AppendLog("OK", kLogBlueNote);
  SetHostBaud(*ctx.rec.m_pLink, code);
  return true;
}

int ReturnToBaseRate(JobContext& ctx, uint8_t code) {
  if (code == kBaseBaudCode || !ctx.rec.m_pLink) return 0;
  int rc = TOOL_SetTargetBaud(*ctx.rec.m_pLink, kBaseBaudCode, 0);
  if (rc == 0) SetHostBaud(*ctx.rec.m_pLink, kBaseBaudCode);
  return rc;
}

void ReturnToBaseRateQuietly(JobContext& ctx, uint8_t code) {
  if (Stopped()) return;
  (void)ReturnToBaseRate(ctx, code);
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
