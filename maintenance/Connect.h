#pragma once
// Connect and reconnect (ConnectTarget, ReconnectForDriverChange are declared
// in jobs/Jobs.h). The boot ROM handshake keeps one process-wide flag: the
// retry allowance, set when the alternative BOOT byte is heard and used up by
// one retry after an unexpected answer.
namespace vantrel {

// Budgets of the handshake, in seconds.
inline constexpr unsigned char kBootByteIdleSec = 6;
inline constexpr unsigned char kStartAnswerIdleSec = 1;
// Fixed pauses in milliseconds.
inline constexpr unsigned kConnectOpenSettleMs = 1000;
inline constexpr unsigned kStartAcceptedPauseMs = 200;
inline constexpr unsigned kReconnectCommandPauseMs = 1000;

bool ConnectRetryAllowed();
// Clears the allowance (as at program start); for tests.
void ResetConnectRetryAllowance();

}  // namespace vantrel
