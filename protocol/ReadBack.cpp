#include "protocol/ReadBack.h"

#include <algorithm>
#include <memory>
#include <new>

#include "link/ResultCodes.h"
#include "link/Trace.h"
#include "protocol/Constants.h"
#include "protocol/SessionSupport.h"

namespace vantrel {

namespace {

using detail::ImageFile;

// Resends of one block the NOR download grants; the next request for the
// same block ends it, as the image sessions end after their fourth failed
// send. A line that spoils every block would otherwise loop for ever.
constexpr unsigned kMaxNorBlockResends = 3;

// The NOR download proper, on an open file and work buffer.
int RunNorDownload(LinkMode mode, ComLink& link, ImageFile& file, uint8_t* work, bool records, uint32_t plainAddress,
                   uint32_t plainLength, const ProgressCallBack& progress) {
  const auto report = [&progress](const ProgressEvent& event) {
    if (progress) progress(event);
  };

  for (bool firstRange = true;; firstRange = false) {
    uint32_t address = plainAddress;
    uint32_t length = plainLength;
    if (records) {
      if (!file.ReadWordLe(&address) || !file.ReadWordLe(&length)) return kResultOk;
    } else if (!firstRange) {
      return kResultOk;
    }

    int rc = SendCommandBlock(link, proto::kCmdNorImageStart, address, length, kIdleDefaultSec);
    if (rc != kResultOk) return rc;
    uint32_t running = address;
    report(ProgressEvent::Fault(ProgressFault::RangeEnd));
    unsigned resends = 0;  // of the block now in flight

    for (;;) {
      uint32_t blockLength = 0;
      if ((rc = detail::ReceiveWordBe(link, &blockLength)) != kResultOk) {
        report(ProgressEvent::Fault(ProgressFault::NoResponse));
        return rc;
      }
      if (blockLength == 0) {
        // The loader closes a range with a zero length and a trailer word.
        uint32_t trailer = 0;
        if ((rc = detail::ReceiveWordBe(link, &trailer)) != kResultOk) return rc;
        break;
      }
      if (blockLength > proto::kNorWorkBuffer) return kResultInternal;
      if (!file.ReadExactly(work, blockLength)) return kResultInternal;
      if ((rc = SendAll(link, work, blockLength, kIdleDefaultSec)) != kResultOk) {
        report(ProgressEvent::Fault(ProgressFault::NoResponse));
        return rc;
      }
      report(ProgressEvent::Written(running, blockLength));
      running += blockLength;

      // The pacing, and the checksum pause after it, count from the moment
      // the block has left the port.
      PauseAfterSend(link, mode == LinkMode::Uart ? proto::kNorBlockPauseUartMs : proto::kNorBlockPauseUsbMs,
                     "TOOL_DownloadNorImage");
      const uint8_t sum = Checksum8(mode, work, blockLength);
      if ((rc = detail::SendByte(link, sum)) != kResultOk) return rc;

      uint8_t answer = 0;
      if ((rc = detail::ReceiveByte(link, &answer)) != kResultOk) {
        report(ProgressEvent::Fault(ProgressFault::NoResponse));
        return rc;
      }
      switch (answer) {
        case proto::kFpSectorOk:
          report(ProgressEvent::Fault(ProgressFault::Checksum, sum));
          resends = 0;
          break;
        case proto::kFpResend:
          // The next request is answered from the same place in the file.
          report(ProgressEvent::Fault(ProgressFault::Resend));
          if (++resends > kMaxNorBlockResends) {
            Trace("Updater: the same NOR block was asked for too often");
            return kResultSync;
          }
          if (!file.Skip(-static_cast<int64_t>(blockLength))) return kResultInternal;
          running -= blockLength;
          report(ProgressEvent::Fault(ProgressFault::Checksum, sum));
          break;
        case proto::kFpFailed:
          report(ProgressEvent::Fault(ProgressFault::Sync));
          return kResultInternal;
        default:
          report(ProgressEvent::Fault(ProgressFault::InvalidAck));
          return kResultInternal;
      }
    }
  }
}

}  // namespace

int TOOL_DownloadNorImage(TargetSession& /*session*/, LinkMode mode, ComLink& link, const std::string& path, uint32_t addressOrMarker,
                          uint32_t length, const ProgressCallBack& progress) {
  ImageFile file;
  if (!file.Open(path)) return kResultFileOpen;
  const std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[proto::kNorWorkBuffer]);
  if (!work) return kResultInternal;
  const bool records =
      addressOrMarker == proto::kNorRecordMarkerBoot || addressOrMarker == proto::kNorRecordMarker;
  if (records && detail::CheckRecordLayout(file)) return kResultFileRead;  // nothing of a file that does not parse
  return RunNorDownload(mode, link, file, work.get(), records, addressOrMarker, length, progress);
}

int ReceiveBlock(ComLink& link, uint8_t* buffer, uint32_t length, const DumpProgressCallBack& progress,
                 uint32_t start) {
  uint32_t offset = 0;
  while (offset < length) {
    const uint32_t piece = std::min<uint32_t>(proto::kPieceBytes, length - offset);
    Trace("64");
    const int rc = ReceiveExactly(link, buffer + offset, piece, kIdleDefaultSec);
    if (rc != kResultOk) {
      Trace("63");
      return rc;
    }
    offset += piece;
    Trace("62");
    if (progress) progress(0, nullptr, start);
  }
  if (progress) progress(1, buffer, start);
  Trace("debugdebug  213134");
  // The handset's checksum of the block; the read-back does not check it.
  uint8_t sum = 0;
  return detail::ReceiveByte(link, &sum);
}

int TOOL_Dump(TargetSession& /*session*/, LinkMode mode, const std::string& /*path*/, ComLink& link, uint32_t start, uint32_t length,
              uint32_t command, const DumpProgressCallBack& progress, const DumpDataCallBack& sink) {
  int rc = SendCommandBlock(link, command, start, length, kIdleDefaultSec);
  if (rc != kResultOk) return rc;
  const std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[proto::kReadBackBuffer]);
  if (!block) return kResultInternal;

  uint32_t running = start;
  for (;;) {
    Trace("1");
    uint8_t byte = 0;
    if ((rc = detail::ReceiveByte(link, &byte)) != kResultOk) return rc;
    switch (byte) {
      case proto::kFpImageOk:
        Trace("4");
        if ((rc = detail::SendByte(link, proto::kFpAck)) != kResultOk) return rc;
        break;
      case proto::kFpSectorOk:
        Trace("7");
        if (mode == LinkMode::Uart) PauseAfterSend(link, proto::kDumpSectorPauseMs, "TOOL_Dump");
        if ((rc = detail::SendByte(link, proto::kFpAck)) != kResultOk) return rc;
        break;
      case proto::kFpReturnBlockSize: {
        Trace("5");
        uint32_t blockLength = 0;
        if ((rc = detail::ReceiveWordBe(link, &blockLength)) != kResultOk) return rc;
        Trace("6");
        if (blockLength > proto::kReadBackBuffer) return kResultInternal;
        if ((rc = ReceiveBlock(link, block.get(), blockLength, progress, running)) != kResultOk) return rc;
        // A block that cannot be stored must not let the dump end as a success.
        if (sink && !sink(block.get(), blockLength)) return kResultFileWrite;
        running += blockLength;
        if (blockLength < proto::kSmallBlockLimit) PauseAfterSend(link, proto::kDumpBlockPauseMs, "TOOL_Dump");
        break;
      }
      case proto::kFpFinished:
        return kResultOk;
      case proto::kFpFailed:
        return kResultSync;
      case proto::kFpResend:
        return kResultError;
      case proto::kFpAddrWrong:
      case proto::kFpImageTooLarge:
        return kResultInvalidAddress;
      default:
        return kResultInternal;
    }
  }
}

}  // namespace vantrel
