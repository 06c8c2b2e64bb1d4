#include "protocol/BlockLayer.h"

#include <algorithm>
#include <cstring>

#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "protocol/Constants.h"

namespace vantrel {

namespace {

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
Result SendPieces(ComLink& link, const uint8_t* data, uint32_t length, const ProgressCallBack& progress) {
  uint32_t offset = 0;
  while (offset < length) {
    const uint32_t piece = std::min<uint32_t>(proto::kPieceBytes, length - offset);
    const Result rc = SendAll(link, data + offset, piece, kIdleDefaultSec);
    if (rc != Result::Ok) return rc;
    offset += piece;
    if (progress) progress(ProgressEvent::Piece(length));
  }
  return Result::Ok;
}

}  // namespace

uint32_t SwapWord(uint32_t v) {
  return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}

uint8_t Checksum8(LinkMode mode, const uint8_t* data, uint32_t length) {
  uint8_t sum = 0;
  for (uint32_t i = 0; i < length; ++i) sum = static_cast<uint8_t>(sum + data[i]);
  // The UART loaders need time to finish writing a small block before they
  // can take its checksum; large blocks take long enough on the wire anyway.
  if (mode == LinkMode::Uart && length < proto::kSmallBlockLimit) {
    timing::Pause(proto::kChecksumPauseMs, "Checksum8");
  }
  return sum;
}

Result SendBlockChecked(TargetSession& session, LinkMode mode, ComLink& link, const uint8_t* data, uint32_t length,
                     const ProgressCallBack& progress, uint32_t address) {
  Result rc = SendPieces(link, data, length, progress);
  if (rc != Result::Ok) return rc;
  if (progress) progress(ProgressEvent::Written(address, length));
  if (mode == LinkMode::Usb) return Result::Ok;

  // The checksum pause gives the loader time to store the block it has
  // received, so it counts from the moment the block has left the port.
  DrainOutput(link);
  const uint8_t sum = Checksum8(mode, data, length);
  rc = SendAll(link, &sum, 1, kIdleDefaultSec);
  // Without the checksum byte the handset cannot echo; waiting for it would
  // only add another idle budget to the same failure.
  if (rc != Result::Ok) return rc;
  uint8_t echo = 0;
  rc = ReceiveExactly(link, &echo, 1, kIdleDefaultSec);
  if (rc != Result::Ok) return rc;
  session.SetLastEchoedChecksum(echo);
  if (echo == sum) return Result::Ok;
  if (progress) progress(ProgressEvent::Fault(ProgressFault::ChecksumError, length, false));
  return Result::Error;
}

Result SendBlockSummed(LinkMode mode, ComLink& link, const uint8_t* data, uint32_t length, uint8_t* sum,
                    const ProgressCallBack& progress, uint32_t address) {
  if (mode == LinkMode::Uart) DrainOutput(link);
  const uint8_t s = Checksum8(mode, data, length);
  if (sum != nullptr) *sum = s;
  const Result rc = SendPieces(link, data, length, progress);
  if (rc != Result::Ok) return rc;
  if (progress) progress(ProgressEvent::Written(address, length));
  return Result::Ok;
}

void SendRawWithSum(ComLink& link, const uint8_t* data, uint32_t length) {
  if (SendPieces(link, data, length, ProgressCallBack{}) != Result::Ok) return;
  DrainOutput(link);
  const uint8_t sum = Checksum8(LinkMode::Uart, data, length);
  (void)SendAll(link, &sum, 1, kIdleDefaultSec);
}

uint32_t BuildFrame(uint8_t* frame, uint8_t kind, const uint32_t* words, uint32_t count, uint16_t sequence) {
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

Result SendShortFrame(TargetSession& session, uint8_t* frame, uint8_t kind, ComLink& link) {
  const uint32_t words = BuildFrame(frame, kind, nullptr, 0, session.NextSequenceValue());
  return SendAll(link, frame, words * 4, kIdleDefaultSec);
}

Result SendCommandBlock(ComLink& link, uint32_t command, uint32_t arg1, uint32_t arg2, uint8_t idleSeconds) {
  uint8_t block[proto::kCommandBlockBytes];
  PutWordBe(block, command);
  PutWordBe(block + 4, arg1);
  PutWordBe(block + 8, arg2);
  PutWordBe(block + 12, proto::kCmdEndMark);
  return SendAll(link, block, sizeof block, idleSeconds);
}

Result SendFramedCommand(TargetSession& session, ComLink& link, uint8_t kind, uint32_t command, uint32_t argument, uint8_t idleSeconds) {
  uint8_t frame[proto::kFrameBytes];
  const uint32_t words[2] = {SwapWord(command), SwapWord(argument)};
  const uint32_t n = BuildFrame(frame, kind, words, 2, session.NextSequenceValue());
  return SendAll(link, frame, n * 4, idleSeconds);
}

}  // namespace vantrel
