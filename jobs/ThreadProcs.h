#pragma once
// The thread procedures the download, erase and format buttons start, one
// per operation (the maintenance jobs have theirs beside them). Each runs its
// jobs in order and stops at the first that fails; each returns the thread's
// exit code, 1.
#include "jobs/JobState.h"

namespace vantrel {

inline constexpr uint32_t kImgsetStart = 0x4A0000;
inline constexpr uint32_t kCalsetStart = 0x240000;
inline constexpr uint32_t kRsrc1Start = 0x2000000;
inline constexpr uint32_t kRsrc2Start = 0x4600000;
inline constexpr uint32_t kVlfStart = 0xCC0000;
inline constexpr uint32_t kEntireFlashStart = 0x5000000;
inline constexpr int32_t kVlfFormatTicks = 145;  // the file-system format's own blocks
inline constexpr unsigned kChainStepPauseMs = 1000;

int AutoAllDownloadProc(JobContext& ctx);
int ConnectProc(JobContext& ctx);
int NandItemDownloadProc(JobContext& ctx);
int NandAllDownloadProc(JobContext& ctx);
int NorManualDownloadProc(JobContext& ctx);
int BootloaderDownloadProc(JobContext& ctx);
int NandEraseProc(JobContext& ctx);
int NorFormatProc(JobContext& ctx);
int VlfFormatProc(JobContext& ctx);

// Logs the connection attempt ("Connecting to target phone", "Try to open COMn").
void LogConnectAttempt(JobContext& ctx);
// The connect step: ConnectTarget, its result kept in the record and reported.
int ConnectStep(JobContext& ctx);

}  // namespace vantrel
