// Helpers the jobs share: tick counting, the operator's baud code and port
// name, the date digits, and the two reports at the end of a connect and of a
// chain.
#include <ctime>

#include "jobs/Console.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"
#include "link/Stop.h"
#include "platform/Host.h"

namespace vantrel {

namespace {

constexpr uint32_t kNorMainBlockBytes = 0x20000;
constexpr uint32_t kNorParamBlockBytes = 0x8000;
constexpr uint32_t kNorTotalBytes = 0x2000000;
constexpr uint32_t kNorBottomParamBlocks = 0;
constexpr uint32_t kNorTopParamBlocks = 4;
constexpr uint32_t kNandBlockBytes = 0x20000;

}  // namespace

uint32_t CountNorBlocks(uint32_t start, uint32_t length) {
  const uint32_t end = start + length;  // wraps like the 32-bit flash address it is
  const uint64_t bottomEnd = uint64_t{kNorBottomParamBlocks} * kNorParamBlockBytes;
  const uint64_t topStart = kNorTotalBytes - uint64_t{kNorTopParamBlocks} * kNorParamBlockBytes;
  // The cursor is wider than an address so that a range ending near 4 GiB
  // cannot wrap it back below the end and count forever.
  uint64_t a = start;
  uint32_t n = 0;
  while (a < end) {
    ++n;
    a += (a < bottomEnd || a >= topStart) ? kNorParamBlockBytes : kNorMainBlockBytes;
  }
  return n;
}

uint32_t CountNandBlocks(uint32_t /*start*/, uint32_t length) {
  return static_cast<uint32_t>((uint64_t{length} + kNandBlockBytes - 1) / kNandBlockBytes);
}

uint8_t SelectedBaudCode(const JobContext& ctx) {
  const int sel = ctx.rec.m_nBaudRate;
  if (sel < 0 || sel >= static_cast<int>(sizeof kOperatorBaudCodes)) return 0;
  return kOperatorBaudCodes[sel];
}

std::string PortName(const JobContext& ctx) { return StrPrintf("COM%d", ctx.rec.m_nComPort + 1); }

std::string TodayDigits() {
  const std::tm local = platform::LocalTime(std::time(nullptr));
  return StrPrintf("%04d%02d%02d", local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
}

const char* SeparatorLine() {
  return "-----------------------------------------------------------------------------------------------\n";
}

void ShowFailure(JobContext& ctx, FailureKind kind, Result rc, const std::string& text, const std::string& caption) {
  ctx.con.MessageBox(text, caption, MsgButtons::Ok);
  if (!stop::Requested()) ctx.job.outcome.FailWithMessage(kind, rc, {text, caption});
}

void RecordFailure(JobContext& ctx, FailureKind kind, Result rc, const std::string& portProblem) {
  if (!stop::Requested()) ctx.job.outcome.Fail(kind, rc, portProblem);
}

void ShowNotice(JobContext& ctx, const std::string& text, const std::string& caption) {
  ctx.con.MessageBox(text, caption, MsgButtons::Ok);
  if (!stop::Requested()) ctx.job.outcome.Notice({text, caption});
}

void RecordCompletion(JobContext& ctx) {
  if (!stop::Requested()) ctx.job.outcome.Complete();
}

void EnterPhase(JobContext& ctx, Phase phase) { ctx.con.ShowPhase(phase, ImageItem::None); }

void BeginTransfer(JobContext& ctx, ImageItem item, FlashRegion region) {
  ctx.con.ShowPhase(Phase::Download, item);
  ctx.job.outcome.BeginTransfer(item, region);
}

void AskOperator(JobContext& ctx, Prompt prompt) { ctx.con.ShowPrompt(prompt); }

void ReportConnectResult(JobContext& ctx, ConnectResult code) {
  const char* box = nullptr;
  FailureKind kind = FailureKind::Handset;
  Result rc = Result::NoResponse;
  switch (code) {
    case ConnectResult::Ok:
      ctx.con.AppendLog("Available\n\n", LogKind::BlueNote);
      ctx.con.EnterReadyState();
      return;
    case ConnectResult::Timeout: box = "Timeout : No Response at the target phone"; break;
    case ConnectResult::WrongBaud:
      box = "Wrong BaudRate";
      kind = FailureKind::Usage;
      rc = Result::InvalidValue;
      break;
    case ConnectResult::CommError:
      // A port that did not open was recorded as such where it failed.
      box = "Comm Error";
      rc = Result::ComPort;
      break;
    case ConnectResult::WrongChar:
      box = "Received Wrong Char from MS";
      rc = Result::Sync;
      break;
    case ConnectResult::InvalidEnv:
      box = "Invalid Env";
      kind = FailureKind::Usage;
      rc = Result::InvalidValue;
      break;
    default: return;  // the refusal has reported itself
  }
  ShowFailure(ctx, kind, rc, box, "Failure");
  ctx.con.EnterDisconnectedState();
}

void ReportAllFinished(JobContext& ctx) {
  ctx.con.AppendLog(StrPrintf("\n  * TOTAL Elapsed Time : %5.1fs\n", ctx.rec.m_dTotalElapsed), LogKind::Red);
  ShowNotice(ctx, "All Download Finished", "NOTICE");
}

}  // namespace vantrel
