#pragma once
// Catching the boot ROM and bringing up the NAND flash loader (START), and
// making a running flash loader give way to the other one. The boot ROM
// handshake keeps its retry allowance in the job state.
#include "jobs/JobState.h"
#include "link/ResultCodes.h"

namespace vantrel {

// What a connect attempt ended with; the values are those the record keeps.
enum class [[nodiscard]] ConnectResult : int {
  Ok = 0,
  Timeout = 1,
  WrongBaud = 2,
  CommError = -1,
  WrongChar = -2,
  InvalidEnv = -3,
  PayloadsRefused = -4,  // reported by the refusal itself
};

// Budgets of the handshake, in seconds.
inline constexpr unsigned char kBootByteIdleSec = 6;
inline constexpr unsigned char kStartAnswerIdleSec = 1;
// Fixed pauses in milliseconds.
inline constexpr unsigned kConnectOpenSettleMs = 1000;
inline constexpr unsigned kStartAcceptedPauseMs = 200;
inline constexpr unsigned kReconnectCommandPauseMs = 1000;

// The connect step: 0 when the handset answered and the NAND loader runs,
// otherwise the connect result the console reports.
[[nodiscard]] ConnectResult ConnectTarget(JobContext& ctx);
// Tells a running loader to give way (UART); the link's result code. The
// jobs do not act on it: it has logged its own outcome, and the loader
// upload that follows fails for itself when the handset did not come back.
Result ReconnectForDriverChange(JobContext& ctx);

}  // namespace vantrel
