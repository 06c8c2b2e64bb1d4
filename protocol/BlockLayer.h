#pragma once
// Block layer: wire byte order, checksums, block sends in 1024-byte pieces,
// command blocks and USB frames.
#include <cstdint>
#include <functional>

#include "link/ComLink.h"
#include "protocol/Progress.h"
#include "protocol/TargetSession.h"

namespace vantrel {


uint32_t SwapWord(uint32_t value);
// 8-bit wrapping sum; in UART mode (0xC9) blocks below 0x20000 bytes cost a 200 ms pause.
uint8_t Checksum8(LinkMode mode, const uint8_t* data, uint32_t length);

// Records the checksum the handset echoes in the session.
Result SendBlockChecked(TargetSession& session, LinkMode mode, ComLink& link, const uint8_t* data, uint32_t length,
                     const ProgressCallBack& progress, uint32_t address);
Result SendBlockSummed(LinkMode mode, ComLink& link, const uint8_t* data, uint32_t length, uint8_t* sum,
                    const ProgressCallBack& progress, uint32_t address);
void SendRawWithSum(ComLink& link, const uint8_t* data, uint32_t length);

// Writes a 16-byte framed command (or an 8-byte frame for count 0) into
// `frame`; returns the number of 32-bit words to send (count + 2).
uint32_t BuildFrame(uint8_t* frame, uint8_t kind, const uint32_t* words, uint32_t count, uint16_t sequence);
// Frames sent from here take their sequence value from the session's source.
Result SendShortFrame(TargetSession& session, uint8_t* frame, uint8_t kind, ComLink& link);

// Builds and sends a 16-byte command block [word, arg1, arg2, 0xFF00FF00] in wire order.
Result SendCommandBlock(ComLink& link, uint32_t command, uint32_t arg1, uint32_t arg2, uint8_t idleSeconds);
// Builds and sends a 16-byte framed command of `kind` carrying `command` and
// `argument` in wire order (the USB-link form of a loader command).
Result SendFramedCommand(TargetSession& session, ComLink& link, uint8_t kind, uint32_t command, uint32_t argument, uint8_t idleSeconds);

}  // namespace vantrel
