#pragma once
// The bytes and words the handset's programs exchange with the tool, as the
// handset knows them: boot ROM handshake, rate handshake, the image-session
// bytes, the loaders' command words and frames, the erase completion bytes
// and the raw read-back exchange.
//
// The simulator keeps its own table on purpose and shares none with the
// host's protocol code: a value misread once would otherwise be wrong on both
// ends of the line, and no test could see the disagreement. The names follow
// what the handset does with each value, not the host's routines.
#include <cstdint>

namespace vantrel::sim::onwire {

// Boot ROM at power-on: its BOOT byte, and the start signal it accepts (and
// echoes) in answer. The alternative BOOT byte is answered with itself.
inline constexpr uint8_t kBootByte = 0xA5;
inline constexpr uint8_t kBootByteAlt = 0x77;
inline constexpr uint8_t kStartSignal = 0xB9;
inline constexpr uint8_t kStartSignalAlt = 0x77;

// Line rates by baud code, the one byte that names a rate on the wire (the
// flash driver's rate answer, the loaders' set-target-baud argument). Every
// program starts at the base rate.
inline constexpr uint8_t kBaudBase = 0x88;  // 115200 bit/s
inline constexpr uint8_t kBaud460800 = 0x8A;
inline constexpr uint8_t kBaud921600 = 0x8B;
inline constexpr uint8_t kBaud812000 = 0x93;

// Flash driver: asks the host for a line rate, confirms at the old rate.
inline constexpr uint8_t kFpSpeedReq = 0x91;
inline constexpr uint8_t kFpSpeedChgDone = 0x92;

// Image sessions, NOR download and read-back: single protocol bytes. Only
// the start request and the acknowledgement travel from the host.
inline constexpr uint8_t kFpStartReq = 0x5A;  // host: boot-image session start
inline constexpr uint8_t kFpStartOk = 0xA5;
inline constexpr uint8_t kFpImageOk = 0x26;
inline constexpr uint8_t kFpSectorOk = 0x27;
inline constexpr uint8_t kFpFailed = 0x28;
inline constexpr uint8_t kFpFinished = 0x29;
inline constexpr uint8_t kFpResend = 0x2A;
inline constexpr uint8_t kFpAddrWrong = 0x2B;
inline constexpr uint8_t kFpImageTooLarge = 0x2C;
inline constexpr uint8_t kHostAck = 0x2D;  // host: answer to FP_ImageOK and FP_SectorOK
inline constexpr uint8_t kFpReturnBlockSize = 0x2E;
inline constexpr uint8_t kBoot2EndByte = 0xAB;  // host: once after FP_Finished of the boot program on USB

// The two bytes that end an erase, in this order.
inline constexpr uint8_t kEraseDoneFirst = 0x46;  // 'F'
inline constexpr uint8_t kEraseDoneSecond = 0xB9;

// Command blocks: four big-endian words, the last one the end mark.
inline constexpr uint32_t kCommandBlockBytes = 16;
inline constexpr uint32_t kEndMark = 0xFF00FF00;

// Command words the loaders serve. The NOR loader takes the NOR ones, the
// NAND loader the rest.
inline constexpr uint32_t kCmdNorDownload = 0xFFFF0000;   // address, length
inline constexpr uint32_t kCmdNorReadBack = 0xFFFF0001;   // address, length
inline constexpr uint32_t kCmdNorVlfFormat = 0xFFFF0002;  // area address, length
inline constexpr uint32_t kCmdNorFlashType = 0xFFFF0003;
inline constexpr uint32_t kCmdImageStart = 0xFFFF0004;    // address (or stream type), length
inline constexpr uint32_t kCmdNandReadBack = 0xFFFF0005;  // address, length
inline constexpr uint32_t kCmdEraseAll = 0xFFFF0006;      // 1: bootloader area only
inline constexpr uint32_t kCmdNandFlashType = 0xFFFF0007;
inline constexpr uint32_t kCmdVlfAreaFormat = 0xFFFF0008;
inline constexpr uint32_t kCmdPartialErase = 0xFFFF0013;  // address, length
inline constexpr uint32_t kCmdPzlFormat = 0xFFFF0014;
inline constexpr uint32_t kCmdSetTargetBaud = 0xFFFF0016; // baud code, direction
inline constexpr uint32_t kCmdReconnect = 0xFFFF0017;
inline constexpr uint32_t kCmdEndSession = 0xFFFF0018;
inline constexpr uint32_t kCmdDownloadDate = 0xFFFF0019;  // eight ASCII digits follow

// Frames of a USB link: 16 bytes, kind in byte 0; the short block
// acknowledgement is 8 bytes.
inline constexpr uint32_t kFrameBytes = 16;
inline constexpr uint32_t kShortFrameBytes = 8;
inline constexpr uint8_t kKindLoaderCommand = 0x33;
inline constexpr uint8_t kKindVlfAreaFormat = 0x32;
inline constexpr uint8_t kKindImageStart = 0x5A;
inline constexpr uint8_t kKindBlockAck = 0x30;

// Image-session starts whose address word names a stream instead of an
// address: the whole file goes into the file-system area in one session.
// Every block of the flash stream carries spare bytes after its data.
inline constexpr uint32_t kStreamVlf = 7;
inline constexpr uint32_t kStreamVlfFlash = 0x5000000;
inline constexpr uint32_t kVlfFlashSpareBytes = 4096;

// Raw read-back exchange: the two opening bytes from the host, the
// handset's acceptance of a sum, and the chunk after which a sum is due.
inline constexpr uint8_t kRawOpen1 = 0xCF;
inline constexpr uint8_t kRawOpen2 = 0xCC;
inline constexpr uint8_t kRawSumOk = 0x77;
inline constexpr uint32_t kRawChunkBytes = 8192;

}  // namespace vantrel::sim::onwire
