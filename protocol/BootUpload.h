#pragma once
// Raw uploads to the boot ROM and the flash driver's rate handshake.
#include <cstdint>

#include "link/ComLink.h"

namespace vantrel {

enum class DriverForm {
  Preboot,         // opens the port, sends PrebootImage
  SdramInit,       // opens the port, sends SdramInitImage
  SdramInitOnOpen  // sends SdramInitImage on the port the caller left open
};

int TOOL_DownloadDriver(ComLink& link, DriverForm form);
int TOOL_DownloadFlashDriver(ComLink& link);
int TOOL_UploadLoader(ComLink& link, uint8_t selector);
void TOOL_QueryFlashType(ComLink& link, bool nand, uint8_t mode);
uint8_t GetFlashTypeByte();
void SetFlashTypeByte(uint8_t value);

}  // namespace vantrel
