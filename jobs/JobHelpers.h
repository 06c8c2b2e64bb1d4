#pragma once
// Helpers the jobs share: tick counting, the operator's baud code and port
// name, the date digits, and the reports at the end of a connect and of a
// chain.
#include <cstdint>
#include <string>
#include "jobs/Connect.h"
#include "jobs/JobState.h"

namespace vantrel {

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
