#include "protocol/BootUpload.h"

#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "link/Trace.h"
#include "payloads/Payloads.h"
#include "protocol/BlockLayer.h"
#include "protocol/Constants.h"
#include "protocol/SessionSupport.h"

namespace vantrel {

namespace {

constexpr const char* kDriverErrorTrace = "Flash driver download error: Closing ComPort\n";

// Codes the boot ROM uploads accept: the rates the flash driver can switch to.
bool IsDriverBaudCode(uint8_t code) { return (code >= 0x88 && code <= 0x8B) || code == kBaud812000; }

// Codes a UART flash loader upload accepts: the operator's three choices.
bool IsOperatorBaudCode(uint8_t code) {
  return code == kBaud115200 || code == kBaud460800 || code == kBaud921600;
}

// A payload whose stored length differs from the length the protocol sends
// cannot be sent whole; this only happens with a broken payload build.
const Payload* CheckedPayload(const Payload& p, uint32_t expected) {
  return (p.data != nullptr && p.size == expected) ? &p : nullptr;
}

}  // namespace

Result TOOL_DownloadDriver(TargetSession& /*session*/, ComLink& link, DriverForm form) {
  Trace("Updater: Entering TOOL_DownloadDriver");
  const Payload* payload = form == DriverForm::Preboot ? CheckedPayload(PrebootImage(), kPrebootImageSize)
                                                       : CheckedPayload(SdramInitImage(), kSdramInitImageSize);
  Result rc = Result::Ok;
  if (payload == nullptr) {
    rc = Result::Internal;
  } else if (!IsDriverBaudCode(link.baudCode)) {
    rc = Result::InvalidValue;
  } else {
    if (form != DriverForm::SdramInitOnOpen) {
      link.baudCode = kBaseBaudCode;
      rc = OpenPort(link);
    }
    if (rc == Result::Ok) {
      Trace("Updater: Downloading driver image");
      rc = SendAll(link, payload->data, payload->size, kIdleDefaultSec);
    }
  }
  if (rc == Result::Ok) {
    PauseAfterSend(link, proto::kDriverAfterSendMs, "TOOL_DownloadDriver");
  } else {
    Trace(kDriverErrorTrace);
  }
  ClosePort(link);
  return rc;
}

Result TOOL_DownloadFlashDriver(TargetSession& /*session*/, ComLink& link) {
  Trace("Updater: Entering TOOL_DownloadFlashDriver");
  const uint8_t requested = link.baudCode;
  const Payload* payload = CheckedPayload(FlashDriverAllImage(), kFlashDriverAllImageSize);

  Result rc = Result::Ok;
  [&] {
    if (!IsDriverBaudCode(requested)) {
      rc = Result::InvalidValue;
      return;
    }
    link.baudCode = kBaseBaudCode;
    if ((rc = OpenPort(link)) != Result::Ok) return;
    if (payload == nullptr) {
      rc = Result::Internal;
      return;
    }
    if ((rc = SendAll(link, payload->data, payload->size, kIdleDefaultSec)) != Result::Ok) return;
    PauseAfterSend(link, proto::kFlashDriverSettleMs, "TOOL_DownloadFlashDriver");

    // The driver may emit start-up noise before its speed request; every
    // byte read costs the handset a byte, so the wait is still bounded by
    // the idle budget once the line goes quiet.
    Trace("Updater: Waiting for FP_Speed_Req");
    uint8_t byte = 0;
    if ((rc = detail::ReceiveByte(link, &byte)) != Result::Ok) return;
    while (byte != proto::kFpSpeedReq) {
      Trace("Updater: Sync Error on FP_Speed_Req");
      Trace("Updater: Waiting for FP_Speed_Req");
      if ((rc = detail::ReceiveByte(link, &byte)) != Result::Ok) return;
    }
    Trace("Updater: Received FP_Speed_Req");
    // From here on the record carries the requested rate: the next step
    // reopens the port at it.
    link.baudCode = requested;
    if ((rc = detail::SendByte(link, requested)) != Result::Ok) return;

    Trace("Updater: Waiting for FP_Speed_ChgDone");
    if ((rc = detail::ReceiveByte(link, &byte)) != Result::Ok) return;
    if (byte == proto::kFpSpeedChgDone) Trace("Updater: Received FP_Speed_ChgDone");
  }();

  if (rc != Result::Ok) Trace(kDriverErrorTrace);
  ClosePort(link);
  timing::Pause(proto::kDriverAfterSendMs, "TOOL_DownloadFlashDriver");
  return rc;
}

Result TOOL_UploadLoader(TargetSession& session, ComLink& link, uint8_t selector) {
  Result rc = Result::Ok;
  [&] {
    if (!IsOperatorBaudCode(link.baudCode)) {
      rc = Result::InvalidValue;
      return;
    }
    link.baudCode = kBaseBaudCode;
    if ((rc = OpenPort(link)) != Result::Ok) return;

    const Payload* payload = nullptr;
    bool known = true;
    switch (selector) {
      case proto::kSelectPreboot: payload = CheckedPayload(PrebootImage(), kPrebootImageSize); break;
      case proto::kSelectNorLoader: payload = CheckedPayload(NorFlashLoaderImage(), kNorFlashLoaderImageSize); break;
      case proto::kSelectNandLoader:
        payload = CheckedPayload(NandFlashLoaderImage(), kNandFlashLoaderImageSize);
        break;
      default: known = false; break;  // an unknown selector uploads nothing
    }
    if (known) {
      if (payload == nullptr) {
        rc = Result::Internal;
        return;
      }
      if ((rc = SendAll(link, payload->data, payload->size, kIdleDefaultSec)) != Result::Ok) return;
    }

    if (selector == proto::kSelectPreboot) {
      PauseAfterSend(link, proto::kPrebootSettleMs, "TOOL_UploadLoader");
      return;
    }
    PauseAfterSend(link, proto::kLoaderSettleMs, "TOOL_UploadLoader");
    const FlashTypeAnswer answer =
        TOOL_QueryFlashType(session, link, selector != proto::kSelectNorLoader, LinkMode::Uart);
    session.SetFlashType(answer.flashType);
    // A silent loader is no failure of the upload, but a line that went away
    // is: the upload may have ended in the driver's queue.
    if (answer.result == Result::ComPort) rc = Result::ComPort;
  }();

  Trace("Updater: Closing ComPort");
  ClosePort(link);
  return rc;
}

FlashTypeAnswer TOOL_QueryFlashType(TargetSession& session, ComLink& link, bool nand, LinkMode mode) {
  const uint32_t command = nand ? proto::kCmdQueryFlashNand : proto::kCmdQueryFlashNor;
  // The answer is awaited even when the query could not be sent whole: what
  // went out may have reached the loader.
  if (mode == LinkMode::Uart) {
    (void)SendCommandBlock(link, command, 0, 0, kIdleDefaultSec);
  } else {
    (void)SendFramedCommand(session, link, proto::kFrameLoaderCommand, command, 0, kIdleDefaultSec);
  }
  FlashTypeAnswer answer;
  uint8_t id = 0;
  answer.result = detail::ReceiveByte(link, &id);
  // A silent loader must not pass for the handset connected before it: its
  // flash type is unknown (0, as at program start), which the flash-type
  // check of the job reports as a failure.
  if (answer.result == Result::Ok) answer.flashType = id;
  return answer;
}

}  // namespace vantrel
