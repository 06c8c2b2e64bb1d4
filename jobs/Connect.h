#pragma once
// Catching the boot ROM and bringing up the NAND flash loader (START), and
// making a running flash loader give way to the other one. The boot ROM
// handshake keeps its retry allowance in the job state.
#include "jobs/JobState.h"

namespace vantrel {

// Budgets of the handshake, in seconds.
inline constexpr unsigned char kBootByteIdleSec = 6;
inline constexpr unsigned char kStartAnswerIdleSec = 1;
// Fixed pauses in milliseconds.
inline constexpr unsigned kConnectOpenSettleMs = 1000;
inline constexpr unsigned kStartAcceptedPauseMs = 200;
inline constexpr unsigned kReconnectCommandPauseMs = 1000;

// The connect step: 0 when the handset answered and the NAND loader runs,
// otherwise the connect result the console reports.
int ConnectTarget(JobContext& ctx);
// Tells a running loader to give way (UART); the link's result code.
int ReconnectForDriverChange(JobContext& ctx);

}  // namespace vantrel
