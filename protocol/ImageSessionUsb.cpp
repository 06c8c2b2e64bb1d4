// The frame-protocol image sessions of a handset on USB: 16-byte frames from
// the handset, a short acknowledgement frame before each block, and the
// handset's checksum of each block reported in its next frame.
#include <algorithm>

#include "link/ResultCodes.h"
#include "link/Trace.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "protocol/SessionSupport.h"

namespace vantrel {

namespace {

using detail::ImageFile;
using detail::RecordVerdict;

// One start frame and its block requests, until FP_Finished or an end.
// `checkFinalSum`: compare the handset's checksum in the FP_Finished frame.
Result RunUsbRecord(TargetSession& session, LinkMode mode, ComLink& link, ImageFile& file, uint32_t address, uint32_t length,
                 const ProgressCallBack& progress, uint8_t* buffer, bool checkFinalSum) {
  if (progress) progress(ProgressEvent::Fault(ProgressFault::RangeEnd));
  uint8_t start[proto::kFrameBytes];
  const uint32_t words[2] = {address, length};
  const uint32_t n = BuildFrame(start, proto::kFrameImageStart, words, 2, session.NextSequenceValue());
  (void)SendAll(link, start, n * 4, kIdleDefaultSec);

  bool blockSent = false;
  uint8_t sum = 0;
  uint32_t running = address;
  for (;;) {
    uint8_t frame[proto::kFrameBytes];
    Result rc = ReceiveExactly(link, frame, sizeof frame, kIdleDefaultSec);
    if (rc != Result::Ok) return rc;
    switch (frame[0]) {
      case proto::kFpImageOk: {
        Trace("Updater: FP_ImageOK received.");
        if (blockSent && frame[8] != sum) return Result::Error;
        const uint32_t want = detail::WordLeAt(frame + 4);
        if (want > proto::kUsbBlockBuffer) return Result::Internal;
        uint8_t ack[proto::kShortFrameBytes];
        (void)SendShortFrame(session, ack, proto::kFrameBlockAck, link);
        if (!detail::ReadFileBlock(mode, file, buffer, want)) return Result::Internal;
        rc = SendBlockSummed(mode, link, buffer, want, &sum, progress, running);
        if (progress) progress(ProgressEvent::Fault(ProgressFault::Checksum, sum));
        blockSent = true;
        if (rc != Result::Ok) return rc;
        running += want;
        break;
      }
      case proto::kFpFinished:
        Trace("Updater: Received FP_Finished");
        if (checkFinalSum && blockSent && frame[4] != sum) return Result::Error;
        return Result::Ok;
      case proto::kFpImageTooLarge:
      case proto::kFpAddrWrong:
        return detail::EarlyEndResult(frame[0]);
      default:
        // The USB loader sends status frames of its own between requests.
        break;
    }
  }
}

}  // namespace

Result TOOL_DownloadImageSetUsb(TargetSession& session, LinkMode mode, const std::string& path, ComLink& link, uint32_t type,
                             const ProgressCallBack& progress) {
  ImageFile file;
  if (!file.Open(path)) return Result::FileOpen;
  if (detail::CheckRecordLayout(file)) return Result::FileRead;  // nothing of a file that does not parse
  uint8_t* buffer = session.ImageSetUsbBuffer();
  if (buffer == nullptr) return Result::Internal;

  for (;;) {
    uint32_t address = 0;
    uint32_t length = 0;
    if (!file.ReadWordLe(&address) || !file.ReadWordLe(&length)) return Result::Ok;
    const RecordVerdict verdict = detail::SelectRecord(session.Selection(), type, true);
    if (verdict == RecordVerdict::End) return Result::Ok;
    if (verdict == RecordVerdict::Skip) {
      if (!file.Skip(length)) return Result::Ok;
      continue;
    }
    const Result rc = RunUsbRecord(session, mode, link, file, address, length, progress, buffer, true);
    if (rc != Result::Ok) return rc;
  }
}

Result TOOL_DownloadFileUsb(TargetSession& session, LinkMode mode, const std::string& path, ComLink& link, uint32_t address,
                         const ProgressCallBack& progress) {
  ImageFile file;
  if (!file.Open(path)) return Result::FileOpen;
  uint8_t* buffer = session.FileUsbBuffer();
  if (buffer == nullptr) return Result::Internal;
  const uint32_t length = static_cast<uint32_t>(std::min<int64_t>(std::max<int64_t>(file.Length(), 0), UINT32_MAX));
  return RunUsbRecord(session, mode, link, file, address, length, progress, buffer, false);
}

}  // namespace vantrel
