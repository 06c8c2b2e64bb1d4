#pragma once
// Result codes of every link and protocol operation: 0 is success.
#include <cstdint>

namespace vantrel {

// A routine that returns one cannot be called for its effect alone: every
// caller looks at it, or says with a (void) cast why it need not.
enum class [[nodiscard]] Result : int {
  Ok = 0,
  Error = 1,  // checksum echo differs, resend during read-back
  InvalidArgument = 200,
  FileOpen = 201,
  FileCreate = 202,
  FileRead = 203,
  FileWrite = 204,
  Internal = 205,
  InvalidValue = 209,
  ComPort = 210,
  Sync = 211,
  NoResponse = 212,
  InvalidAddress = 213,
};

// The code's number, where a number is wanted (traces, test oracles).
constexpr int ResultNumber(Result code) { return static_cast<int>(code); }

// Operator text of a result code (also of the handset's own codes that the
// host never returns itself); never fails.
const char* ResultText(uint32_t code);
inline const char* ResultText(Result code) { return ResultText(static_cast<uint32_t>(code)); }

}  // namespace vantrel
