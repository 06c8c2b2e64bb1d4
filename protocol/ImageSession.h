#pragma once
// Image transfer sessions: the handset's loader pulls blocks of an image.
#include <cstdint>
#include <string>

#include "link/ComLink.h"
#include "protocol/BlockLayer.h"

namespace vantrel {

// Record types 7 and 0x5000000 in the UART form have no record headers: the
// file is one stream. Each start command then carries the type itself in its
// address word ([0xFFFF0004, 7, n] or [0xFFFF0004, 0x5000000, n]) and the
// number n of file bytes not yet sent in its length word; the loader writes
// the stream into its file-system area.
//
// A record file is checked whole before its first start command: one that
// does not parse to its last byte (see CheckRecordFile) ends the session with
// Result::FileRead and nothing sent. Once the handset has taken the whole
// file, the next FP_Finished ends the session with 0. In the USB form every
// type is a record file (type 7 records are always sent).
Result TOOL_DownloadImage(TargetSession& session, ComLink& link, uint32_t address, const ProgressCallBack& progress, uint8_t selector);
Result TOOL_DownloadImageSet(TargetSession& session, LinkMode mode, ComLink& link, const std::string& path, uint32_t type,
                          const ProgressCallBack& progress);
Result TOOL_DownloadBoot2(TargetSession& session, LinkMode mode, ComLink& link, const std::string& path, uint32_t address,
                       const ProgressCallBack& progress);
Result TOOL_DownloadImageSetUsb(TargetSession& session, LinkMode mode, const std::string& path, ComLink& link, uint32_t type,
                             const ProgressCallBack& progress);
Result TOOL_DownloadFileUsb(TargetSession& session, LinkMode mode, const std::string& path, ComLink& link, uint32_t address,
                         const ProgressCallBack& progress);

}  // namespace vantrel
