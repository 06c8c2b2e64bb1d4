#pragma once
// The serial link to the handset: open and close, write-all and read-exactly
// with idle budgets, baud codes and the host's rate change.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "link/ResultCodes.h"
#include "link/SerialDevice.h"

namespace vantrel {

// Baud codes: one byte names a line rate.
inline constexpr uint8_t kBaud115200 = 0x88;
inline constexpr uint8_t kBaud460800 = 0x8A;
inline constexpr uint8_t kBaud921600 = 0x8B;
inline constexpr uint8_t kBaud812000 = 0x93;
inline constexpr uint8_t kBaseBaudCode = kBaud115200;  // boot ROM and fresh loaders
inline constexpr uint8_t kSetHostBaudInvalid = 0xD1;   // 209 in one byte

// The operator's three choices, in list order ("115K", "460K", "921K").
inline constexpr uint8_t kOperatorBaudCodes[3] = {kBaud115200, kBaud460800, kBaud921600};
// Code of a baud-list selection; 0 for anything outside the three entries.
uint8_t OperatorBaudCode(int selection);

// Which way the handset is reached: the byte the protocol routines branch
// on. Unset (before any START) takes neither side's special steps.
enum class LinkMode : uint8_t { Unset = 0, Uart = 0xC9, Usb = 0x55 };

// Link timing.
inline constexpr int kOpenAttempts = 50;
inline constexpr unsigned kOpenRetryPauseMs = 100;
inline constexpr unsigned kOpenLinkSettleMs = 1000;
inline constexpr unsigned kClosePortPauseMs = 1000;
inline constexpr unsigned kCloseLinkPauseMs = 250;
inline constexpr unsigned kPollIntervalMs = 5;
inline constexpr unsigned kMaxWriteBytes = 0x8000;
inline constexpr unsigned kDriverQueueBytes = 4096;
// A wait for queued bytes to leave the port lasts at most their line time
// (start, 8 data and stop bit each) plus this margin.
inline constexpr unsigned kLineBitsPerByte = 10;
inline constexpr unsigned kDrainMarginMs = 200;

// Idle budgets in seconds.
inline constexpr uint8_t kIdleDefaultSec = 6;
inline constexpr uint8_t kIdleEraseSec = 30;
inline constexpr uint8_t kIdleEraseLongSec = 60;

struct ComLink {
  char portName[16] = {};  // "COM3"; NUL-terminated
  uint8_t baudCode = 0;
  std::unique_ptr<SerialDevice> port;  // open device, or null when closed
  uint32_t rate = 0;                   // line settings: current rate in bit/s
  int lastErrno = 0;                   // OS error of the last failed link call
  std::string openFailure;             // why the last OpenPort could not open the device, for the operator
  // Why the open line cannot carry the protocol: the port did not take the
  // rate it was given. Every later read and write fails with 210.
  std::string lineFault;

  bool IsOpen() const { return port != nullptr && port->IsOpen(); }
  // Fills portName from a text (truncated to 15 characters).
  void SetPortName(const std::string& name);
};

using LinkPtr = std::unique_ptr<ComLink>;

// Allocates a record, opens the port, waits 1000 ms. Null on failure; then
// `why` (when given) says why the device did not open, if it was that.
LinkPtr OpenLink(const std::string& portName, uint8_t baudCode);
LinkPtr OpenLink(const std::string& portName, uint8_t baudCode, std::string* why);
// Does nothing for null; otherwise waits 250 ms, closes the port, frees the record.
void CloseLink(LinkPtr& link);

Result OpenPort(ComLink& link);   // 0, 210 or 209
// Closes the port; costs 1000 ms. It cannot fail, so it returns nothing.
void ClosePort(ComLink& link);
Result WritePort(ComLink& link, const uint8_t* data, uint32_t length, uint32_t* written);  // 0 or 210
Result ReadPort(ComLink& link, uint8_t* buffer, uint32_t length, uint32_t* got);            // 0 or 210
Result SendAll(ComLink& link, const void* data, uint32_t length, uint8_t idleSeconds);      // 0, 210, 212
// The idle budget counts from the moment the host's own queued bytes have
// left the port: a handset cannot answer what it has not received yet.
Result ReceiveExactly(ComLink& link, void* buffer, uint32_t length, uint8_t idleSeconds);   // 0, 210, 212

// write() returns once the bytes are in the driver's queue, which on a slow
// line holds them for a good while. Waits until the queue is empty, at most
// the line time of what it held plus kDrainMarginMs, so that a stuck line
// cannot hang the job; a stop request ends the wait.
void DrainOutput(ComLink& link);
// A fixed pause that follows a send: it counts from the moment the queued
// bytes have left the port, not from the moment they were queued.
void PauseAfterSend(ComLink& link, unsigned ms, std::string_view tag);
// Drops what the handset sent so far and the host has not read; queued
// output still goes out.
void PurgeInput(ComLink& link);

uint32_t BaudCodeToRate(uint32_t code);  // only the low 8 bits count; 0 when no rate
uint8_t BaudRateToCode(uint32_t rate);   // 0 when no code
// Returns the code of the previous rate, or 0xD1 when `code` has no rate.
// The rate is read back from the port: one the driver did not take (Wine
// turns 812000 into 38400, an adapter may lack a rate) sets lineFault, so
// that the exchanges that follow fail with 210 instead of talking at the
// wrong rate.
uint8_t SetHostBaud(ComLink& link, uint8_t code);

// A UART still receives a rate within this part of the one it expects.
inline constexpr double kRateTolerance = 0.02;
// The operator's text when the port runs at `actual` instead of `wanted`;
// empty when it took the rate (or cannot tell: `actual` 0).
std::string RateRefusal(const std::string& port, uint32_t wanted, uint32_t actual);

}  // namespace vantrel
