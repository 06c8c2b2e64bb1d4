#include "protocol/SessionSupport.h"

#include <cstdint>

#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "link/Trace.h"
#include "platform/Files.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"

namespace vantrel::detail {

ImageFile::~ImageFile() { Close(); }

bool ImageFile::Open(const std::string& path) {
  Close();
  // An image path may name a FIFO or a device: neither may block the open,
  // and neither is an image.
  platform::File file;
  if (platform::OpenForReading(path, platform::Links::Follow, &file)) return false;
  file_ = file.TakeStream();
  return file_ != nullptr;
}

void ImageFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}

bool ImageFile::ReadExactly(void* buffer, uint32_t count) {
  if (file_ == nullptr) return false;
  if (count == 0) return true;
  return std::fread(buffer, 1, count, file_) == count;
}

bool ImageFile::ReadWordLe(uint32_t* value) {
  uint8_t b[4];
  if (!ReadExactly(b, 4)) return false;
  *value = WordLeAt(b);
  return true;
}

bool ImageFile::Skip(int64_t delta) {
  if (file_ == nullptr) return false;
  return fseeko(file_, static_cast<off_t>(delta), SEEK_CUR) == 0;
}

bool ImageFile::SeekTo(uint64_t offset) {
  if (file_ == nullptr || offset > static_cast<uint64_t>(INT64_MAX)) return false;
  return fseeko(file_, static_cast<off_t>(offset), SEEK_SET) == 0;
}

int64_t ImageFile::Position() const {
  if (file_ == nullptr) return -1;
  return static_cast<int64_t>(ftello(file_));
}

int64_t ImageFile::Length() const {
  if (file_ == nullptr) return -1;
  const off_t here = ftello(file_);
  if (fseeko(file_, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(file_);
  fseeko(file_, here, SEEK_SET);
  return static_cast<int64_t>(end);
}

bool ReadFileBlock(LinkMode mode, ImageFile& file, uint8_t* buffer, uint32_t count) {
  if (!file.ReadExactly(buffer, count)) return false;
  if (mode == LinkMode::Uart && count < proto::kSmallBlockLimit) {
    timing::Pause(proto::kFileBlockPauseMs, "ReadFileBlock");
  }
  return true;
}

Result ReceiveWordBe(ComLink& link, uint32_t* value) {
  uint8_t b[4];
  const Result rc = ReceiveExactly(link, b, 4, kIdleDefaultSec);
  if (rc != Result::Ok) return rc;
  *value = (static_cast<uint32_t>(b[0]) << 24) | (static_cast<uint32_t>(b[1]) << 16) |
           (static_cast<uint32_t>(b[2]) << 8) | static_cast<uint32_t>(b[3]);
  return Result::Ok;
}

Result ReceiveByte(ComLink& link, uint8_t* value) { return ReceiveExactly(link, value, 1, kIdleDefaultSec); }

Result SendByte(ComLink& link, uint8_t value) { return SendAll(link, &value, 1, kIdleDefaultSec); }

Result SendWordBe(ComLink& link, uint32_t value) {
  const uint8_t b[4] = {static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
                        static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)};
  return SendAll(link, b, 4, kIdleDefaultSec);
}

Result EarlyEndResult(uint8_t answer) {
  switch (answer) {
    case proto::kFpAddrWrong:
      Trace("Updater: Received FP_AddrWrong");
      return Result::InvalidAddress;
    case proto::kFpImageTooLarge:
      Trace("Updater: Received FP_ImageTooLarge");
      return Result::InvalidAddress;
    case proto::kFpFailed:
      Trace("Updater: Received FP_Failed");
      return Result::Sync;
    default:
      return Result::Internal;
  }
}

RecordVerdict SelectRecord(RecordSelection& s, uint32_t type, bool usbForm) {
  uint16_t& middleCount = usbForm ? s.middleCountUsb : s.middleCountUart;
  uint16_t& calibrationCount = usbForm ? s.calibrationCountUsb : s.calibrationCountUart;

  const auto restRule = [&s]() {
    if (s.rest == 0) {
      s.rest = 2;
      return RecordVerdict::End;
    }
    if (s.rest == 1) s.rest = 2;
    return RecordVerdict::Send;
  };
  // A flag that decides exactly one record (head, resource-1, resource-2).
  const auto singleRule = [&restRule](uint8_t& flag) {
    if (flag == 0) {
      flag = 2;
      return RecordVerdict::Skip;
    }
    if (flag == 1) {
      flag = 2;
      return RecordVerdict::Send;
    }
    return restRule();
  };

  switch (type) {
    case proto::kTypeImgset:
      if (s.head == 0 || s.head == 1) return singleRule(s.head);
      // The middle part of an image set is two records when sent and is
      // counted as three when skipped.
      if (s.middle == 0) {
        if (++middleCount >= 3) {
          s.middle = 2;
          middleCount = 0;
        }
        return RecordVerdict::Skip;
      }
      if (s.middle == 1) {
        if (++middleCount >= 2) {
          s.middle = 2;
          middleCount = 0;
        }
        return RecordVerdict::Send;
      }
      return restRule();
    case proto::kTypeRsrc1:
      return singleRule(s.resource1);
    case proto::kTypeRsrc2:
      return singleRule(s.resource2);
    case proto::kTypeCalset:
      if (s.calibration == 0) {
        if (++calibrationCount >= 2) {
          s.calibration = 2;
          calibrationCount = 0;
        }
        return RecordVerdict::Skip;
      }
      if (s.calibration == 1) {
        if (++calibrationCount >= 1) {
          s.calibration = 2;
          calibrationCount = 0;
        }
        return RecordVerdict::Send;
      }
      return restRule();
    case proto::kTypeVlf:
      if (usbForm) return RecordVerdict::Send;
      return restRule();
    default:
      return restRule();
  }
}

}  // namespace vantrel::detail
