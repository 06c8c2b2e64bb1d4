#pragma once
// The jobs the thread procedures chain. Each returns true on success; a
// failing job has already reported its own failure (log line and message box)
// before it returns.
#include <cstdint>
#include <string>

#include "jobs/JobState.h"
#include "link/ComLink.h"

namespace vantrel {

// Before anything is sent that leads to a payload upload: false (after a red
// log line and a failure box naming the reason) when the payload folder was
// refused, so that nothing reaches the handset. With `warn`, the built-in
// stand-ins are named in red, since a real handset cannot start with them.
bool PayloadsReady(JobContext& ctx, bool warn);

// Flash loader uploads and the flash-type check (job steps, not jobs of their own).
bool DownloadNorFlashDriver(JobContext& ctx, ComLink& link);
bool DownloadNandFlashDriver(JobContext& ctx, ComLink& link, int variant);  // 32: port already open; 1: others
bool ShowFlashType(JobContext& ctx, uint8_t deviceId);
// A running loader serves the commands of its own flash only; one flash's
// job must not reach the other flash's loader.
// When `loader` is known to run, it is told to give way (the reconnect step);
// the controls stay busy, as the job goes on.
void ReconnectAwayFrom(JobContext& ctx, uint8_t loader);
// NAND work: when the NOR loader is known to run, it gives way and (on the
// UART) the NAND loader is brought up. False when that upload failed (it has
// reported) or the job was stopped.
bool EnsureNandLoader(JobContext& ctx);
// The console's loader-upload link: named after the chosen port, at the base
// rate, unless it is still open from the connect step.
ComLink& LoaderLink(JobContext& ctx);

// Downloads.
bool NorDownloadJob(JobContext& ctx, uint8_t code, int chained);
bool NandDownloadJob(JobContext& ctx, uint8_t code, int chained);
bool BootStageDownloadJob(JobContext& ctx, uint8_t stage);

// Erase and format.
bool NandEraseJob(JobContext& ctx, uint8_t code);
bool NorFormatJob(JobContext& ctx, uint8_t code);
bool VlfFormatJob(JobContext& ctx);

// Connection and maintenance.
int ConnectTarget(JobContext& ctx);
int ReconnectForDriverChange(JobContext& ctx);
bool NorDumpJob(JobContext& ctx, uint8_t code);
bool NandDumpJob(JobContext& ctx, uint8_t code);
bool PzlFormatJob(JobContext& ctx);
void RawReadBackExchange(JobContext& ctx);

// Console reports shared by the jobs.
void ReportConnectResult(JobContext& ctx, int code);
void ReportAllFinished(JobContext& ctx);

// Progress bookkeeping.
uint32_t CountNorBlocks(uint32_t start, uint32_t length);
uint32_t CountNandBlocks(uint32_t start, uint32_t length);
void ShowFlashRegion(JobContext& ctx, uint8_t loaderState, int phase, uint32_t address);

// The three callbacks handed to the protocol routines. They report to
// CallbackContext(): on a job thread the running job's own context, else
// MainContext().
void ProgressCallBackFunc(uint8_t step, uint8_t status, uint32_t code, uint32_t value, uint8_t erase);
void DumpProgressCallBackFunc(uint8_t step, const uint8_t* ignored, uint32_t address);
bool DumpDataCallBackFunc(const uint8_t* data, uint32_t length);

// Helpers the jobs share: the operator's baud code (0 when the selection is
// outside the list), the port name "COM%d", today's date as eight digits.
uint8_t SelectedBaudCode(const JobContext& ctx);
std::string PortName(const JobContext& ctx);
std::string TodayDigits();
// The separator line: 95 '-' characters and "\n".
const char* SeparatorLine();

}  // namespace vantrel
