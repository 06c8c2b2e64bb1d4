#pragma once
// Result codes of every link and protocol operation: 0 is success.
#include <cstdint>

namespace vantrel {

inline constexpr int kResultOk = 0;
inline constexpr int kResultError = 1;                 // checksum echo differs, resend during read-back
inline constexpr int kResultInvalidArgument = 200;
inline constexpr int kResultFileOpen = 201;
inline constexpr int kResultFileCreate = 202;
inline constexpr int kResultFileRead = 203;
inline constexpr int kResultFileWrite = 204;
inline constexpr int kResultInternal = 205;
inline constexpr int kResultInvalidValue = 209;
inline constexpr int kResultComPort = 210;
inline constexpr int kResultSync = 211;
inline constexpr int kResultNoResponse = 212;
inline constexpr int kResultInvalidAddress = 213;

// Operator text of a result code; never fails.
const char* ResultText(uint32_t code);

}  // namespace vantrel
