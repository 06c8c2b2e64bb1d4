// The byte-protocol image sessions: boot images for the flash driver
// (TOOL_DownloadImage) and image files for a UART flash loader
// (TOOL_DownloadImageSet, TOOL_DownloadBoot2).
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "link/ResultCodes.h"
#include "link/Trace.h"
#include "payloads/Payloads.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "protocol/SessionSupport.h"

namespace vantrel {

namespace {

using detail::ImageFile;
using detail::ReceiveByte;
using detail::ReceiveWordBe;
using detail::RecordVerdict;
using detail::SendByte;

// Per-session block buffer of the image-file sessions.
std::unique_ptr<uint8_t[]> NewUartBlockBuffer() {
  return std::unique_ptr<uint8_t[]>(new (std::nothrow) uint8_t[proto::kUartBlockBuffer]());
}

const Payload& BootImageFor(uint8_t selector) {
  if (selector == proto::kSelectSecBoot) return SecBootImage();
  if (selector == proto::kSelectBoot1a) return Boot1aImage();
  return Boot1bImage();
}

bool IsOperatorBaudCode(uint8_t code) {
  return code == kBaud115200 || code == kBaud460800 || code == kBaud921600;
}

void Report(const ProgressCallBack& progress, ProgressFault fault, uint32_t value = 0) {
  if (progress) progress(ProgressEvent::Fault(fault, value));
}

// FP_ImageOK: the handset has taken the start command; acknowledged, the
// exchange goes on with its block requests.
void AcknowledgeImageOk(ComLink& link) {
  Trace("Updater: Received FP_ImageOK");
  (void)SendByte(link, proto::kFpAck);
}

// Failed block sends a file session tolerates before it gives up with the
// failing block's code (the fourth failure ends it).
constexpr unsigned kMaxFailedBlockSends = 4;

// The boot-image exchange on an open port; the caller closes it.
Result RunBootImageSession(TargetSession& session, ComLink& link, uint32_t address, const ProgressCallBack& progress, uint8_t selector) {
  const Payload& payload = BootImageFor(selector);
  uint8_t* block = session.BootImageBlockBuffer();
  if (block == nullptr || payload.data == nullptr) return Result::Internal;
  const uint8_t* image = payload.data;
  const uint32_t imageLength = payload.size;
  uint32_t lastBlockLength = imageLength;
  uint32_t running = address;

  PauseAfterSend(link, proto::kImageStartWaitMs, "TOOL_DownloadImage");
  Result rc = Result::Ok;
  uint8_t byte = 0;
  // The driver may still be settling at the new rate; each retry costs a
  // byte from the handset, so a silent line still ends on the idle budget.
  for (;;) {
    Trace("Updater: Sending FP_StartReq");
    if ((rc = SendByte(link, proto::kFpStartReq)) != Result::Ok) return rc;
    if ((rc = ReceiveByte(link, &byte)) != Result::Ok) return rc;
    if (byte == proto::kFpStartOk) break;
    Trace("Updater: out-of-sync - trying again");
    PauseAfterSend(link, proto::kOutOfSyncRetryMs, "TOOL_DownloadImage");
  }

  for (;;) {
    switch (byte) {
      case proto::kFpStartOk:
        Trace("Updater: Received FP_StartOK");
        if ((rc = detail::SendWordBe(link, address)) != Result::Ok) return rc;
        if ((rc = detail::SendWordBe(link, imageLength)) != Result::Ok) return rc;
        break;
      case proto::kFpImageOk:
        AcknowledgeImageOk(link);
        break;
      case proto::kFpReturnBlockSize: {
        Trace("Updater: Received FP_ReturnBlockSize");
        uint32_t length = 0;
        if ((rc = ReceiveWordBe(link, &length)) != Result::Ok) return rc;
        lastBlockLength = length;
        if (length > proto::kUartBlockBuffer) return Result::Internal;
        if (!session.TakeImageBytes(image, imageLength, block, length)) return Result::Internal;
        SendRawWithSum(link, block, length);
        break;
      }
      case proto::kFpSectorOk:
        Trace("Updater: Received FP_SectorOK");
        (void)SendByte(link, proto::kFpAck);
        running += lastBlockLength;
        break;
      case proto::kFpResend:
        Trace("Updater: Received FP_Resend");
        // Before the first block request the buffer holds no block of this
        // image; the last block length (the image length) still fits it.
        lastBlockLength = std::min(lastBlockLength, proto::kUartBlockBuffer);
        if ((rc = SendBlockChecked(session, LinkMode::Uart, link, block, lastBlockLength, progress, running)) != Result::Ok) {
          return rc;
        }
        break;
      case proto::kFpAddrWrong:
      case proto::kFpImageTooLarge:
      case proto::kFpFailed:
        return detail::EarlyEndResult(byte);
      case proto::kFpFinished:
        Trace("Updater: Received FP_Finished");
        return Result::Ok;
      default:
        return Result::Internal;
    }
    if ((rc = ReceiveByte(link, &byte)) != Result::Ok) return rc;
  }
}

// Outcome of one record's exchange in a file session.
struct RecordOutcome {
  bool finished = false;  // FP_Finished: go on with the next record
  Result rc = Result::Ok;     // otherwise the session's result
};

// Shared by TOOL_DownloadImageSet and TOOL_DownloadBoot2: the block request
// handling after a start command, until FP_Finished or an end.
class FileSession {
 public:
  FileSession(TargetSession& target, LinkMode mode, ComLink& link, const ProgressCallBack& progress, uint8_t* buffer)
      : target_(target), mode_(mode), link_(link), progress_(progress), buffer_(buffer) {}

  // Runs the exchange of one start command. `source` fills the buffer with
  // each requested block and gives the byte count to send (0 or 205);
  // `onFinished` gives the result on FP_Finished (kNextRecord to go on).
  template <typename Source, typename OnFinished>
  Result Run(uint32_t address, Source&& source, OnFinished&& onFinished, const char* pauseTag, unsigned sectorPauseMs) {
    running_ = address;
    for (;;) {
      uint8_t byte = 0;
      Result rc = ReceiveByte(link_, &byte);
      if (rc != Result::Ok) {
        Report(progress_, ProgressFault::NoResponse);
        return rc;
      }
      switch (byte) {
        case proto::kFpImageOk:
          AcknowledgeImageOk(link_);
          break;
        case proto::kFpReturnBlockSize: {
          Trace("Updater: Received FP_ReturnBlockSize");
          uint32_t length = 0;
          if ((rc = ReceiveWordBe(link_, &length)) != Result::Ok) return rc;
          uint32_t bytes = 0;
          if ((rc = source(buffer_, length, &bytes)) != Result::Ok) return rc;
          blockAddress_ = running_;
          blockBytes_ = bytes;
          blockAdvance_ = length;
          if ((rc = SendBlock()) != Result::Ok) return rc;
          break;
        }
        case proto::kFpSectorOk:
          Report(progress_, ProgressFault::Checksum, target_.LastEchoedChecksum());
          Trace("Updater: Received FP_SectorOK");
          if (mode_ == LinkMode::Uart && sectorPauseMs != 0) PauseAfterSend(link_, sectorPauseMs, pauseTag);
          (void)SendByte(link_, proto::kFpAck);
          break;
        case proto::kFpResend:
          Report(progress_, ProgressFault::Resend);
          Trace("Updater: Received FP_Resend");
          if ((rc = SendBlock()) != Result::Ok) return rc;
          break;
        case proto::kFpFailed:
          Report(progress_, ProgressFault::Sync);
          return detail::EarlyEndResult(byte);
        case proto::kFpAddrWrong:
        case proto::kFpImageTooLarge:
          return detail::EarlyEndResult(byte);
        case proto::kFpFinished:
          Trace("Updater: Received FP_Finished");
          return onFinished();
        default:
          Report(progress_, ProgressFault::InvalidAck);
          return Result::Internal;
      }
    }
  }

  // Returned by the FP_Finished handler when the session goes on with the
  // next record: outside the result codes, so never mistaken for one.
  static constexpr Result kNextRecord = static_cast<Result>(-1);

 private:
  // Sends the last requested block from the buffer as one checked block, the
  // first time and on every resend alike: the handset counts on the same
  // bytes (the spare bytes of an entire-flash stream included) at the same
  // place. A block that went through moves the address past it once, however
  // often it was sent. A failed send is tolerated until the fourth one.
  Result SendBlock() {
    const Result rc = SendBlockChecked(target_, mode_, link_, buffer_, blockBytes_, progress_, blockAddress_);
    if (rc == Result::Ok) {
      running_ = blockAddress_ + blockAdvance_;
      return Result::Ok;
    }
    if (++failedSends_ >= kMaxFailedBlockSends) return rc;
    return Result::Ok;
  }

  TargetSession& target_;
  LinkMode mode_;
  ComLink& link_;
  const ProgressCallBack& progress_;
  uint8_t* buffer_;
  uint32_t running_ = 0;
  // The last requested block: where it starts, the bytes sent for it and how
  // far it moves the address (its requested length).
  uint32_t blockAddress_ = 0;
  uint32_t blockBytes_ = 0;
  uint32_t blockAdvance_ = 0;
  unsigned failedSends_ = 0;  // for the whole session, over all records
};

}  // namespace

Result TOOL_DownloadImage(TargetSession& session, ComLink& link, uint32_t address, const ProgressCallBack& progress, uint8_t selector) {
  Trace("Updater: Entering TOOL_DownloadImage");
  // The flash driver runs at the rate negotiated by TOOL_DownloadFlashDriver;
  // 812000 bit/s is not one this session can use.
  if (!IsOperatorBaudCode(link.baudCode)) {
    ClosePort(link);
    return Result::InvalidValue;
  }
  Result rc = OpenPort(link);
  if (rc == Result::Ok) rc = RunBootImageSession(session, link, address, progress, selector);
  ClosePort(link);
  return rc;
}

Result TOOL_DownloadImageSet(TargetSession& session, LinkMode mode, ComLink& link, const std::string& path, uint32_t type,
                          const ProgressCallBack& progress) {
  ImageFile file;
  if (!file.Open(path)) return Result::FileOpen;
  const std::unique_ptr<uint8_t[]> buffer = NewUartBlockBuffer();
  if (!buffer) return Result::Internal;

  const bool stream = type == proto::kTypeVlf || type == proto::kTypeVlfFlash;
  const uint32_t extra = type == proto::kTypeVlfFlash ? proto::kVlfFlashExtraBytes : 0;
  // A record file that does not parse to its last byte is not sent at all:
  // a cut header or a record claiming more than the file holds would
  // otherwise reach the flash as far as it goes, or not at all while the
  // session reported success.
  if (!stream && detail::CheckRecordLayout(file)) return Result::FileRead;
  FileSession exchange(session, mode, link, progress, buffer.get());

  for (;;) {
    uint32_t address = 0;
    uint32_t length = 0;
    if (!stream) {
      if (!file.ReadWordLe(&address) || !file.ReadWordLe(&length)) return Result::Ok;
    } else {
      // A stream has no address of its own: the start command names the
      // type in its address word (the loader knows where that area lies) and
      // what is left of the file in its length word. Once the handset has
      // taken all of it, the session is complete.
      const int64_t left = file.Length() - file.Position();
      if (left <= 0) return Result::Ok;
      address = type;
      length = static_cast<uint32_t>(std::min<int64_t>(left, UINT32_MAX));
    }

    const RecordVerdict verdict = detail::SelectRecord(session.Selection(), type, false);
    if (verdict == RecordVerdict::End) return Result::Ok;
    if (verdict == RecordVerdict::Skip) {
      if (!file.Skip(length)) return Result::Ok;
      continue;
    }

    (void)SendCommandBlock(link, proto::kCmdImageStart, address, length, kIdleDefaultSec);
    Report(progress, ProgressFault::RangeEnd);
    if (mode == LinkMode::Uart) PauseAfterSend(link, proto::kImageSetStartWaitMs, "TOOL_DownloadImageSet");

    const auto source = [&](uint8_t* buf, uint32_t want, uint32_t* bytes) {
      const uint64_t total = static_cast<uint64_t>(want) + extra;
      if (total > proto::kUartBlockBuffer) return Result::Internal;
      if (!detail::ReadFileBlock(mode, file, buf, static_cast<uint32_t>(total))) return Result::Internal;
      *bytes = static_cast<uint32_t>(total);
      return Result::Ok;
    };
    const auto onFinished = [&link]() -> Result {
      PauseAfterSend(link, proto::kFinishedPauseMs, "TOOL_DownloadImageSet");
      return FileSession::kNextRecord;
    };
    const Result rc = exchange.Run(address, source, onFinished, "TOOL_DownloadImageSet", 0);
    if (rc != FileSession::kNextRecord) return rc;
  }
}

Result TOOL_DownloadBoot2(TargetSession& session, LinkMode mode, ComLink& link, const std::string& path, uint32_t address,
                       const ProgressCallBack& progress) {
  // Only this exact name selects the image built into the program; anything
  // else, "Boot2" included, is a file name.
  const bool embedded = path == "boot2";
  ImageFile file;
  const uint8_t* image = nullptr;
  uint32_t length = 0;
  if (embedded) {
    const Payload& p = Boot2Image();
    if (p.data == nullptr || p.size != kBoot2ImageSize) return Result::Internal;
    image = p.data;
    length = kBoot2ImageSize;
  } else {
    if (!file.Open(path)) return Result::FileOpen;
    length = static_cast<uint32_t>(std::min<int64_t>(std::max<int64_t>(file.Length(), 0), UINT32_MAX));
  }
  const std::unique_ptr<uint8_t[]> buffer = NewUartBlockBuffer();
  if (!buffer) return Result::Internal;

  (void)SendCommandBlock(link, proto::kCmdImageStart, address, length, kIdleDefaultSec);
  if (mode == LinkMode::Uart) PauseAfterSend(link, proto::kBoot2StartWaitMs, "TOOL_DownloadBoot2");

  uint32_t imageOffset = 0;
  const auto source = [&](uint8_t* buf, uint32_t want, uint32_t* bytes) {
    if (want > proto::kUartBlockBuffer) return Result::Internal;
    if (embedded) {
      if (static_cast<uint64_t>(imageOffset) + want > length) return Result::Internal;
      if (want != 0) std::memcpy(buf, image + imageOffset, want);
      imageOffset += want;
    } else if (!detail::ReadFileBlock(mode, file, buf, want)) {
      return Result::Internal;
    }
    *bytes = want;
    return Result::Ok;
  };
  const auto onFinished = [&] {
    if (mode == LinkMode::Usb) {
      // Tells the USB download support of the boot program that the image is
      // complete; it does not answer.
      PauseAfterSend(link, proto::kUsbEndBytePauseMs, "TOOL_DownloadBoot2");
      (void)SendByte(link, proto::kUsbEndByte);
    }
    return Result::Ok;
  };
  FileSession exchange(session, mode, link, progress, buffer.get());
  return exchange.Run(address, source, onFinished, "TOOL_DownloadBoot2", proto::kBoot2SectorPauseMs);
}

}  // namespace vantrel
