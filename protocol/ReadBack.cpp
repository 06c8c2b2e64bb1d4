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
Result RunNorDownload(LinkMode mode, ComLink& link, ImageFile& file, uint8_t* work, bool records, uint32_t plainAddress,
                   uint32_t plainLength, const ProgressCallBack& progress) {
  const auto report = [&progress](const ProgressEvent& event) {
    if (progress) progress(event);
  };

  for (bool firstRange = true;; firstRange = false) {
    uint32_t address = plainAddress;
    uint32_t length = plainLength;
    if (records) {
      if (!file.ReadWordLe(&address) || !file.ReadWordLe(&length)) return Result::Ok;
    } else if (!firstRange) {
      return Result::Ok;
    }

    Result rc = SendCommandBlock(link, proto::kCmdNorImageStart, address, length, kIdleDefaultSec);
    if (rc != Result::Ok) return rc;
    uint32_t running = address;
    report(ProgressEvent::Fault(ProgressFault::RangeEnd));
    unsigned resends = 0;  // of the block now in flight

    for (;;) {
      uint32_t blockLength = 0;
      if ((rc = detail::ReceiveWordBe(link, &blockLength)) != Result::Ok) {
        report(ProgressEvent::Fault(ProgressFault::NoResponse));
        return rc;
      }
      if (blockLength == 0) {
        // The loader closes a range with a zero length and a trailer word.
        uint32_t trailer = 0;
        if ((rc = detail::ReceiveWordBe(link, &trailer)) != Result::Ok) return rc;
        break;
      }
      if (blockLength > proto::kNorWorkBuffer) return Result::Internal;
      if (!file.ReadExactly(work, blockLength)) return Result::Internal;
      if ((rc = SendAll(link, work, blockLength, kIdleDefaultSec)) != Result::Ok) {
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
      if ((rc = detail::SendByte(link, sum)) != Result::Ok) return rc;

      uint8_t answer = 0;
      if ((rc = detail::ReceiveByte(link, &answer)) != Result::Ok) {
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
            return Result::Sync;
          }
          if (!file.Skip(-static_cast<int64_t>(blockLength))) return Result::Internal;
          running -= blockLength;
          report(ProgressEvent::Fault(ProgressFault::Checksum, sum));
          break;
        case proto::kFpFailed:
          report(ProgressEvent::Fault(ProgressFault::Sync));
          return Result::Internal;
        default:
          report(ProgressEvent::Fault(ProgressFault::InvalidAck));
          return Result::Internal;
      }
    }
  }
}

}  // namespace

Result TOOL_DownloadNorImage(TargetSession& /*session*/, LinkMode mode, ComLink& link, const std::string& path, uint32_t addressOrMarker,
                          uint32_t length, const ProgressCallBack& progress) {
  ImageFile file;
  if (!file.Open(path)) return Result::FileOpen;
  const std::unique_ptr<uint8_t[]> work(new (std::nothrow) uint8_t[proto::kNorWorkBuffer]);
  if (!work) return Result::Internal;
  const bool records =
      addressOrMarker == proto::kNorRecordMarkerBoot || addressOrMarker == proto::kNorRecordMarker;
  if (records && detail::CheckRecordLayout(file)) return Result::FileRead;  // nothing of a file that does not parse
  return RunNorDownload(mode, link, file, work.get(), records, addressOrMarker, length, progress);
}

Result ReceiveBlock(ComLink& link, uint8_t* buffer, uint32_t length, const DumpProgressCallBack& progress,
                 uint32_t start) {
  uint32_t offset = 0;
  while (offset < length) {
    const uint32_t piece = std::min<uint32_t>(proto::kPieceBytes, length - offset);
    Trace("64");
    const Result rc = ReceiveExactly(link, buffer + offset, piece, kIdleDefaultSec);
    if (rc != Result::Ok) {
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

Result TOOL_Dump(TargetSession& /*session*/, LinkMode mode, const std::string& /*path*/, ComLink& link, uint32_t start, uint32_t length,
              uint32_t command, const DumpProgressCallBack& progress, const DumpDataCallBack& sink) {
  Result rc = SendCommandBlock(link, command, start, length, kIdleDefaultSec);
  if (rc != Result::Ok) return rc;
  const std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[proto::kReadBackBuffer]);
  if (!block) return Result::Internal;

  uint32_t running = start;
  for (;;) {
    Trace("1");
    uint8_t byte = 0;
    if ((rc = detail::ReceiveByte(link, &byte)) != Result::Ok) return rc;
    switch (byte) {
      case proto::kFpImageOk:
        Trace("4");
        if ((rc = detail::SendByte(link, proto::kFpAck)) != Result::Ok) return rc;
        break;
      case proto::kFpSectorOk:
        Trace("7");
        if (mode == LinkMode::Uart) PauseAfterSend(link, proto::kDumpSectorPauseMs, "TOOL_Dump");
        if ((rc = detail::SendByte(link, proto::kFpAck)) != Result::Ok) return rc;
        break;
      case proto::kFpReturnBlockSize: {
        Trace("5");
        uint32_t blockLength = 0;
        if ((rc = detail::ReceiveWordBe(link, &blockLength)) != Result::Ok) return rc;
        Trace("6");
        if (blockLength > proto::kReadBackBuffer) return Result::Internal;
        if ((rc = ReceiveBlock(link, block.get(), blockLength, progress, running)) != Result::Ok) return rc;
        // A block that cannot be stored must not let the dump end as a success.
        if (sink && !sink(block.get(), blockLength)) return Result::FileWrite;
        running += blockLength;
        if (blockLength < proto::kSmallBlockLimit) PauseAfterSend(link, proto::kDumpBlockPauseMs, "TOOL_Dump");
        break;
      }
      case proto::kFpFinished:
        return Result::Ok;
      case proto::kFpFailed:
        return Result::Sync;
      case proto::kFpResend:
        return Result::Error;
      case proto::kFpAddrWrong:
      case proto::kFpImageTooLarge:
        return Result::InvalidAddress;
      default:
        return Result::Internal;
    }
  }
}

}  // namespace vantrel
