#pragma once
// NOR record download and flash read-back.
#include <cstdint>
#include <string>

#include "link/ComLink.h"
#include "protocol/BlockLayer.h"

namespace vantrel {

Result TOOL_DownloadNorImage(TargetSession& session, LinkMode mode, ComLink& link, const std::string& path, uint32_t addressOrMarker,
                          uint32_t length, const ProgressCallBack& progress);
Result TOOL_Dump(TargetSession& session, LinkMode mode, const std::string& path, ComLink& link, uint32_t start, uint32_t length,
              uint32_t command, const DumpProgressCallBack& progress, const DumpDataCallBack& sink);
Result ReceiveBlock(ComLink& link, uint8_t* buffer, uint32_t length, const DumpProgressCallBack& progress,
                 uint32_t start);

}  // namespace vantrel
