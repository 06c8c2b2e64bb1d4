#pragma once
// Short commands to a running UART flash loader.
#include <cstdint>

#include "link/ComLink.h"
#include "protocol/BlockLayer.h"

namespace vantrel {

Result TOOL_SetTargetBaud(TargetSession& session, ComLink& link, uint8_t code, uint32_t direction);  // 1 up, 0 back
Result TOOL_EndSession(TargetSession& session, ComLink& link);
Result TOOL_Reconnect(TargetSession& session, ComLink& link);
Result TOOL_FormatPzl(TargetSession& session, ComLink& link);
Result TOOL_FormatVlfArea(TargetSession& session, ComLink& link, LinkMode mode);
Result TOOL_EraseAll(TargetSession& session, ComLink& link, uint8_t kind, LinkMode mode);
Result TOOL_PartialErase(TargetSession& session, ComLink& link, uint32_t start, uint32_t length);
Result TOOL_SendDownloadDate(TargetSession& session, ComLink& link, const char date[8], LinkMode mode);
Result TOOL_FormatVlf(TargetSession& session, ComLink& link, uint32_t address, const ProgressCallBack& progress);

}  // namespace vantrel
