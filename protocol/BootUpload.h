#pragma once
// Raw uploads to the boot ROM and the flash driver's rate handshake.
#include <cstdint>

#include "link/ComLink.h"
#include "protocol/TargetSession.h"

namespace vantrel {

enum class DriverForm {
  Preboot,         // opens the port, sends PrebootImage
  SdramInit,       // opens the port, sends SdramInitImage
  SdramInitOnOpen  // sends SdramInitImage on the port the caller left open
};

Result TOOL_DownloadDriver(TargetSession& session, ComLink& link, DriverForm form);
Result TOOL_DownloadFlashDriver(TargetSession& session, ComLink& link);
// Records the device id the loader reports in the session.
Result TOOL_UploadLoader(TargetSession& session, ComLink& link, uint8_t selector);
// A running loader's device id, or 0 (unknown) when it did not answer;
// `result` is the read's own code.
struct [[nodiscard]] FlashTypeAnswer {
  Result result = Result::Ok;
  uint8_t flashType = 0;
};
// Asks the running loader for its flash's device id and reads the answer.
FlashTypeAnswer TOOL_QueryFlashType(TargetSession& session, ComLink& link, bool nand, LinkMode mode);

}  // namespace vantrel
