#pragma once
// What the protocol remembers about one handset between its routines: the
// embedded-image cursor, the checksum the handset last echoed, the frames'
// sequence source, the record selection, the device id its flash loader
// reported, and the block buffers of the image sessions.
//
// Every TOOL_* routine takes the session of the handset it talks to as its
// first argument, followed by the link record the call goes over: one
// handset is reached over the boot ROM's record and over the loader's
// persistent link, which the jobs open and close around the session. Two
// sessions share nothing, so two handsets can run in one process.
#include <atomic>
#include <cstdint>
#include <memory>

namespace vantrel {

// Record selection state of the record-file sessions. Each flag is 0 (skip),
// 1 (send) or 2 (decided).
struct RecordSelection {
  uint8_t head = 0, middle = 0, resource1 = 0, resource2 = 0, calibration = 0, rest = 0;
  uint16_t middleCountUart = 0, calibrationCountUart = 0;
  uint16_t middleCountUsb = 0, calibrationCountUsb = 0;
};

class TargetSession {
 public:
  TargetSession();
  ~TargetSession();
  TargetSession(const TargetSession&) = delete;
  TargetSession& operator=(const TargetSession&) = delete;

  // Where the boot-image session takes its next block from the embedded image.
  void SetImageCursor(uint32_t offset) { imageCursor_.store(offset); }
  uint32_t ImageCursor() const { return imageCursor_.load(); }
  // Copies `length` image bytes at the cursor and moves it on; false (and
  // nothing copied) when fewer than `length` bytes remain.
  bool TakeImageBytes(const uint8_t* image, uint32_t imageLength, uint8_t* destination, uint32_t length);

  // Checksum byte the handset last echoed to SendBlockChecked.
  uint8_t LastEchoedChecksum() const { return lastEchoedChecksum_.load(); }
  void SetLastEchoedChecksum(uint8_t value) { lastEchoedChecksum_.store(value); }

  // Next sequence value of the frames' pseudo-random source (0 to 32767).
  uint16_t NextSequenceValue();

  RecordSelection& Selection() { return selection_; }
  // Sets the six flags (head, middle, resource-1, resource-2, calibration,
  // rest) and starts the middle and calibration counters of both forms at 0.
  void SetSelection(uint8_t head, uint8_t middle, uint8_t resource1, uint8_t resource2, uint8_t calibration,
                    uint8_t rest);

  // Device id the last UART flash loader reported; 0 (unknown) until one did,
  // kept until the next upload.
  uint8_t FlashType() const { return flashType_.load(); }
  void SetFlashType(uint8_t value) { flashType_.store(value); }

  // Block buffers, allocated on first use and kept for the session's life
  // (a resend before the first block request sends what the buffer holds);
  // null when memory ran out.
  uint8_t* BootImageBlockBuffer();
  uint8_t* ImageSetUsbBuffer();
  uint8_t* FileUsbBuffer();

 private:
  std::atomic<uint32_t> imageCursor_{0};
  std::atomic<uint8_t> lastEchoedChecksum_{0};
  // The handset never reads the sequence values back, so a fixed start (like
  // an unseeded C library generator) is enough and keeps runs reproducible.
  std::atomic<uint32_t> sequenceState_{1};
  std::atomic<uint8_t> flashType_{0};
  RecordSelection selection_;
  std::unique_ptr<uint8_t[]> bootImageBlock_, imageSetUsbBlock_, fileUsbBlock_;
};

}  // namespace vantrel
