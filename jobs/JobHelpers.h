#pragma once
// Helpers the jobs share: tick counting, the operator's baud code and port
// name, the date digits, and the reports at the end of a connect and of a
// chain.
#include <cstdint>
#include <string>
#include "jobs/Connect.h"
#include "jobs/JobState.h"
#include "jobs/Outcome.h"

namespace vantrel {

// What the operator is told and what the operation's outcome keeps of it,
// set together where a job decides. Nothing is recorded once Cancel has
// stopped the job: the stop is what it came to.
//
// A failure's box (an empty caption is the application's name), and the
// failure in the outcome.
void ShowFailure(JobContext& ctx, FailureKind kind, Result rc, const std::string& text,
                 const std::string& caption = "");
// A failure the log has told without a box of its own.
void RecordFailure(JobContext& ctx, FailureKind kind, Result rc, const std::string& portProblem = {});
// A notice box: the operation's words unless it failed.
void ShowNotice(JobContext& ctx, const std::string& text, const std::string& caption = "");
// The chain of the thread procedure ran to its end.
void RecordCompletion(JobContext& ctx);
// The stage the operation enters; a download names its item and starts a
// transfer in the outcome.
void EnterPhase(JobContext& ctx, Phase phase);
void BeginTransfer(JobContext& ctx, ImageItem item, FlashRegion region);
// What the operator is to do with the handset now.
void AskOperator(JobContext& ctx, Prompt prompt);

// Console reports shared by the jobs.
void ReportConnectResult(JobContext& ctx, ConnectResult code);
void ReportAllFinished(JobContext& ctx);

// Progress bookkeeping: the flash blocks a range covers.
uint32_t CountNorBlocks(uint32_t start, uint32_t length);
uint32_t CountNandBlocks(uint32_t start, uint32_t length);

// The operator's baud code (0 when the selection is outside the list), the
// port name "COM%d", today's date as eight digits.
uint8_t SelectedBaudCode(const JobContext& ctx);
std::string PortName(const JobContext& ctx);
std::string TodayDigits();
// The separator line: 95 '-' characters and "\n".
const char* SeparatorLine();

}  // namespace vantrel
