#include "protocol/LoaderCommands.h"

#include "link/ResultCodes.h"
#include "protocol/Constants.h"
#include "protocol/SessionSupport.h"

namespace vantrel {

namespace {

// Reads until `wanted` arrives. Without it the wait ends in the read's
// failure; `strayIsEnough` lets any byte heard before that count instead.
Result WaitForByte(ComLink& link, uint8_t wanted, uint8_t idleSeconds, bool strayIsEnough) {
  bool heard = false;
  for (;;) {
    uint8_t byte = 0;
    const Result rc = ReceiveExactly(link, &byte, 1, idleSeconds);
    if (rc != Result::Ok) return heard && strayIsEnough ? Result::Ok : rc;
    heard = true;
    if (byte == wanted) return Result::Ok;
  }
}

// The loader reports the end of an erase with 'F' and then 0xB9.
Result WaitForEraseCompletion(ComLink& link, uint8_t firstIdleSeconds, uint8_t secondIdleSeconds) {
  // Only the loader's 'F' says the erase is over: silence or a stray byte on
  // the line must not pass for a finished erase. The 0xB9 after it is
  // waited for quietly, as before.
  const Result first = WaitForByte(link, proto::kEraseDone1, firstIdleSeconds, false);
  if (first != Result::Ok) return first;
  (void)WaitForByte(link, proto::kEraseDone2, secondIdleSeconds, true);
  return Result::Ok;
}

// A loader command as a command block on the UART, or as a framed command of
// `kind` on a USB link.
Result SendLoaderCommand(TargetSession& session, ComLink& link, LinkMode mode, uint8_t kind, uint32_t command, uint32_t arg1, uint32_t arg2,
                      uint32_t framedArgument) {
  if (mode == LinkMode::Uart) return SendCommandBlock(link, command, arg1, arg2, kIdleDefaultSec);
  return SendFramedCommand(session, link, kind, command, framedArgument, kIdleDefaultSec);
}

}  // namespace

Result TOOL_SetTargetBaud(TargetSession& /*session*/, ComLink& link, uint8_t code, uint32_t direction) {
  const Result rc = SendCommandBlock(link, proto::kCmdSetTargetBaud, code, direction, kIdleDefaultSec);
  PauseAfterSend(link, proto::kSetTargetBaudPauseMs, "TOOL_SetTargetBaud");
  return rc;
}

Result TOOL_EndSession(TargetSession& /*session*/, ComLink& link) {
  const Result rc = SendCommandBlock(link, proto::kCmdEndSession, 0, 0, kIdleDefaultSec);
  PauseAfterSend(link, proto::kEndSessionPauseMs, "TOOL_EndSession");
  return rc;
}

Result TOOL_Reconnect(TargetSession& /*session*/, ComLink& link) { return SendCommandBlock(link, proto::kCmdReconnect, 0, 0, kIdleDefaultSec); }

Result TOOL_FormatPzl(TargetSession& /*session*/, ComLink& link) {
  const Result rc = SendCommandBlock(link, proto::kCmdFormatPzl, 0, 0, kIdleDefaultSec);
  PauseAfterSend(link, proto::kFormatPzlPauseMs, "TOOL_FormatPzl");
  return rc;
}

Result TOOL_FormatVlfArea(TargetSession& session, ComLink& link, LinkMode mode) {
  const Result rc = SendLoaderCommand(session, link, mode, proto::kFrameVlfAreaFormat, proto::kCmdFormatVlfArea, 0xE00000,
                                   0x20000, 0);
  PauseAfterSend(link, proto::kFormatVlfAreaPauseMs, "TOOL_FormatVlfArea");
  return rc;
}

Result TOOL_EraseAll(TargetSession& session, ComLink& link, uint8_t kind, LinkMode mode) {
  // Kind 0x19 erases only the boot area and the loader does not report back.
  const uint32_t argument = kind == 0x19 ? 1 : 0;
  const Result rc =
      SendLoaderCommand(session, link, mode, proto::kFrameLoaderCommand, proto::kCmdEraseAll, argument, 0, argument);
  Result waited = Result::Ok;
  if (kind != 0x19) waited = WaitForEraseCompletion(link, kIdleEraseSec, kIdleEraseSec);
  PauseAfterSend(link, proto::kEraseAllPauseMs, "TOOL_EraseAll");
  return rc != Result::Ok ? rc : waited;
}

Result TOOL_PartialErase(TargetSession& /*session*/, ComLink& link, uint32_t start, uint32_t length) {
  const Result rc = SendCommandBlock(link, proto::kCmdPartialErase, start, length, kIdleDefaultSec);
  if (rc != Result::Ok) return rc;
  PauseAfterSend(link, proto::kPartialErasePauseMs, "TOOL_PartialErase");
  return WaitForEraseCompletion(link, kIdleEraseSec, kIdleEraseLongSec);
}

Result TOOL_SendDownloadDate(TargetSession& session, ComLink& link, const char date[8], LinkMode mode) {
  (void)SendLoaderCommand(session, link, mode, proto::kFrameLoaderCommand, proto::kCmdDownloadDate, 0, 0, 0);
  PauseAfterSend(link, proto::kDatePreSendMs, "TOOL_SendDownloadDate");
  const Result rc = SendAll(link, date, 8, kIdleDefaultSec);
  PauseAfterSend(link, proto::kDatePostSendMs, "TOOL_SendDownloadDate");
  return rc;
}

Result TOOL_FormatVlf(TargetSession& /*session*/, ComLink& link, uint32_t address, const ProgressCallBack& progress) {
  const uint32_t length = address != 0 ? 0x20000 : 0x10000;
  Result rc = SendCommandBlock(link, proto::kCmdFormatVlf, address, length, kIdleDefaultSec);
  if (rc != Result::Ok) return rc;
  // These two areas are formatted without step reports.
  if (address == 0 || address == 0x1E90000) return Result::Ok;

  const auto report = [&progress](ProgressFault fault) {
    if (progress) progress(ProgressEvent::Fault(fault));
  };
  const uint64_t end = static_cast<uint64_t>(address) + length;
  uint64_t running = address;
  for (;;) {
    uint32_t count = 0;
    if ((rc = detail::ReceiveWordBe(link, &count)) != Result::Ok) {
      report(ProgressFault::NoResponse);
      return rc;
    }
    if (count == 0) return Result::Ok;
    if (progress) progress(ProgressEvent::Erased(static_cast<uint32_t>(running), count));
    running += count;
    uint8_t byte = 0;
    if ((rc = detail::ReceiveByte(link, &byte)) != Result::Ok) {
      report(ProgressFault::NoResponse);
      return rc;
    }
    if (byte == proto::kFpSectorOk) {
      // Counted in 64 bits: a count that jumps past the end still ends here.
      if (running >= end) return Result::Ok;
      continue;
    }
    report(byte == proto::kFpResend   ? ProgressFault::Resend
           : byte == proto::kFpFailed ? ProgressFault::Sync
                                      : ProgressFault::InvalidAck);
    return Result::Internal;
  }
}

}  // namespace vantrel
