#include "protocol/BlockLayer.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "protocol/Constants.h"

namespace vantrel {

namespace {

// Process-wide state of the block layer. Sessions run one at a time on the
// job thread; the atomics only keep a test or a second thread from tearing them.
std::atomic<uint8_t> g_lastEchoedChecksum{0};
std::atomic<uint32_t> g_imageCursor{0};
// State of the frames' sequence source. The handset never reads the values
// back, so a fixed start (like an unseeded C library generator) is enough and
// keeps runs reproducible.
std::atomic<uint32_t> g_sequenceState{1};

void PutWordLe(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
  at[2] = static_cast<uint8_t>(value >> 16);
  at[3] = static_cast<uint8_t>(value >> 24);
}

void PutWordBe(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

// Sends `length` bytes in pieces of at most 1024, reporting each piece.
int SendPieces(ComLink& link, const uint8_t* data, uint32_t length, const ProgressCallBack& progress) {
  uint32_t offset = 0;
  while (offset < length) {
    const uint32_t piece = std::min<uint32_t>(proto::kPieceBytes, length - offset);
    const int rc = SendAll(link, data + offset, piece, kIdleDefaultSec);
    if (rc != kResultOk) return rc;
    offset += piece;
    if (progress) progress(0, 0, length, length, 0);
  }
  return kResultOk;
}

}  // namespace

uint32_t SwapWord(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint8_t Checksum8(uint8_t mode, const uint8_t* data, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  // The UART loaders need time to finish writing a small block before they
  // can take its checksum; large blocks take long enough on the wire anyway.
  if (mode == kLinkModeUart && length < proto::kSmallBlockLimit) {
    timing::Pause(proto::kChecksumPauseMs, "Checksum8");
  }
  return sum;
}

int SendBlockChecked(uint8_t mode, ComLink& link, const uint8_t* data, uint32_t length,
                     const ProgressCallBack& progress, uint32_t address) {
  int rc = SendPieces(link, data, length, progress);
  if (rc != kResultOk) return rc;
  if (progress) progress(1, 0, address, length, 0);
  if (mode == kLinkModeUsb) return kResultOk;

  // The checksum pause gives the loader time to store the block it has
  // received, so it counts from the moment the block has left the port.
  DrainOutput(link);
  const uint8_t sum = Checksum8(mode, data, length);
  rc = SendAll(link, &sum, 1, kIdleDefaultSec);
  // Without the checksum byte the handset cannot echo; waiting for it would
  // only add another idle budget to the same failure.
  if (rc != kResultOk) return rc;
  uint8_t echo = 0;
  rc = ReceiveExactly(link, &echo, 1, kIdleDefaultSec);
  if (rc != kResultOk) return rc;
  SetLastEchoedChecksum(echo);
  if (echo == sum) return kResultOk;
  if (progress) progress(0, 1, 1, length, 0);
  return kResultError;
}

int SendBlockSummed(uint8_t mode, ComLink& link, const uint8_t* data, uint32_t length, uint8_t* sum,
                    const ProgressCallBack& progress, uint32_t address) {
  if (mode == kLinkModeUart) DrainOutput(link);
  const uint8_t s = Checksum8(mode, data, length);
  if (sum != nullptr) *sum = s;
  const int rc = SendPieces(link, data, length, progress);
  if (rc != kResultOk) return rc;
  if (progress) progress(1, 0, address, length, 0);
  return kResultOk;
}

void SendRawWithSum(ComLink& link, const uint8_t* data, uint32_t length) {
  if (SendPieces(link, data, length, ProgressCallBack{}) != kResultOk) return;
  DrainOutput(link);
  const uint8_t sum = Checksum8(kLinkModeUart, data, length);
  (void)SendAll(link, &sum, 1, kIdleDefaultSec);
}

uint16_t NextSequenceValue() {
  uint32_t state = g_sequenceState.load(std::memory_order_relaxed);
  uint32_t next;
  do {
    next = state * 214013u + 2531011u;
  } while (!g_sequenceState.compare_exchange_weak(state, next, std::memory_order_relaxed));
  return static_cast<uint16_t>((next >> 16) & 0x7FFFu);
}

uint32_t BuildFrame(uint8_t* frame, uint8_t kind, const uint32_t* words, uint32_t count, uint16_t sequence) {
  if (sequence == 0) sequence = NextSequenceValue();
  frame[0] = kind;
  frame[1] = 0;
  frame[2] = static_cast<uint8_t>(sequence);
  frame[3] = static_cast<uint8_t>(sequence >> 8);
  PutWordLe(frame + 4, 0);
  // The words go out as the caller holds them in memory (host order, least
  // significant byte first); callers that need wire order swap beforehand.
  for (uint32_t i = 0; i < count; ++i) PutWordLe(frame + 8 + 4 * i, words[i]);
  return count + 2;
}

int SendShortFrame(uint8_t* frame, uint8_t kind, ComLink& link) {
  const uint32_t words = BuildFrame(frame, kind, nullptr, 0, 0);
  return SendAll(link, frame, words * 4, kIdleDefaultSec);
}

int SendCommandBlock(ComLink& link, uint32_t command, uint32_t arg1, uint32_t arg2, uint8_t idleSeconds) {
  uint8_t block[proto::kCommandBlockBytes];
  PutWordBe(block, command);
  PutWordBe(block + 4, arg1);
  PutWordBe(block + 8, arg2);
  PutWordBe(block + 12, proto::kCmdEndMark);
  return SendAll(link, block, sizeof block, idleSeconds);
}

int SendFramedCommand(ComLink& link, uint8_t kind, uint32_t command, uint32_t argument, uint8_t idleSeconds) {
  uint8_t frame[proto::kFrameBytes];
  const uint32_t words[2] = {SwapWord(command), SwapWord(argument)};
  const uint32_t n = BuildFrame(frame, kind, words, 2, 0);
  return SendAll(link, frame, n * 4, idleSeconds);
}

void SetImageCursor(uint32_t offset) { g_imageCursor.store(offset); }

uint32_t ImageCursor() { return g_imageCursor.load(); }

bool TakeImageBytes(const uint8_t* image, uint32_t imageLength, uint8_t* destination, uint32_t length) {
  const uint32_t cursor = g_imageCursor.load();
  // Widened so that a huge request cannot wrap around and pass the check.
  if (static_cast<uint64_t>(cursor) + length > imageLength) return false;
  if (length != 0) std::memcpy(destination, image + cursor, length);
  g_imageCursor.store(cursor + length);
  return true;
}

uint8_t LastEchoedChecksum() { return g_lastEchoedChecksum.load(); }

void SetLastEchoedChecksum(uint8_t value) { g_lastEchoedChecksum.store(value); }

}  // namespace vantrel
