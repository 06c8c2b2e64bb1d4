#pragma once
// Command words, protocol bytes, frame kinds and fixed pauses of the handset
// download protocol. Shared by the host's protocol routines and the handset
// simulator, which otherwise share no code.
#include <cstdint>

namespace vantrel::proto {

// Boot ROM handshake (connect).
inline constexpr uint8_t kBootSignal = 0xA5;
inline constexpr uint8_t kBootSignalAlt = 0x77;
inline constexpr uint8_t kStartSignal = 0xB9;
inline constexpr uint8_t kStartSignalAlt = 0x77;

// Flash driver rate handshake.
inline constexpr uint8_t kFpSpeedReq = 0x91;
inline constexpr uint8_t kFpSpeedChgDone = 0x92;

// Image session bytes.
inline constexpr uint8_t kFpStartReq = 0x5A;
inline constexpr uint8_t kFpStartOk = 0xA5;
inline constexpr uint8_t kFpImageOk = 0x26;
inline constexpr uint8_t kFpSectorOk = 0x27;
inline constexpr uint8_t kFpFailed = 0x28;
inline constexpr uint8_t kFpFinished = 0x29;
inline constexpr uint8_t kFpResend = 0x2A;
inline constexpr uint8_t kFpAddrWrong = 0x2B;
inline constexpr uint8_t kFpImageTooLarge = 0x2C;
inline constexpr uint8_t kFpAck = 0x2D;          // host -> handset
inline constexpr uint8_t kFpReturnBlockSize = 0x2E;
inline constexpr uint8_t kUsbEndByte = 0xAB;     // after FP_Finished, Boot2 session over USB

// Erase completion bytes.
inline constexpr uint8_t kEraseDone1 = 0x46;  // 'F'
inline constexpr uint8_t kEraseDone2 = 0xB9;

// Command words (command block word 0).
inline constexpr uint32_t kCmdNorImageStart = 0xFFFF0000;
inline constexpr uint32_t kCmdNorDump = 0xFFFF0001;
inline constexpr uint32_t kCmdFormatVlf = 0xFFFF0002;
inline constexpr uint32_t kCmdQueryFlashNor = 0xFFFF0003;
inline constexpr uint32_t kCmdImageStart = 0xFFFF0004;
inline constexpr uint32_t kCmdNandDump = 0xFFFF0005;
inline constexpr uint32_t kCmdEraseAll = 0xFFFF0006;
inline constexpr uint32_t kCmdQueryFlashNand = 0xFFFF0007;
inline constexpr uint32_t kCmdFormatVlfArea = 0xFFFF0008;
inline constexpr uint32_t kCmdPartialErase = 0xFFFF0013;
inline constexpr uint32_t kCmdFormatPzl = 0xFFFF0014;
inline constexpr uint32_t kCmdSetTargetBaud = 0xFFFF0016;
inline constexpr uint32_t kCmdReconnect = 0xFFFF0017;
inline constexpr uint32_t kCmdEndSession = 0xFFFF0018;
inline constexpr uint32_t kCmdDownloadDate = 0xFFFF0019;
inline constexpr uint32_t kCmdEndMark = 0xFF00FF00;

inline constexpr uint32_t kCommandBlockBytes = 16;
inline constexpr uint32_t kFrameBytes = 16;
inline constexpr uint32_t kShortFrameBytes = 8;
inline constexpr uint32_t kPieceBytes = 1024;  // block layer piece size

// Frame kinds.
inline constexpr uint8_t kFrameLoaderCommand = 0x33;
inline constexpr uint8_t kFrameVlfAreaFormat = 0x32;
inline constexpr uint8_t kFrameImageStart = 0x5A;
inline constexpr uint8_t kFrameBlockAck = 0x30;

// Loader selectors (raw uploads) and boot-image selectors.
inline constexpr uint8_t kSelectPreboot = 0x21;   // '!'
inline constexpr uint8_t kSelectNorLoader = 0x22; // '"'
inline constexpr uint8_t kSelectNandLoader = 0x20;// ' '
inline constexpr uint8_t kSelectSecBoot = 'q';
inline constexpr uint8_t kSelectBoot1a = 'r';
inline constexpr uint8_t kSelectBoot1b = 's';

// Record file markers of the NOR download.
inline constexpr uint32_t kNorRecordMarkerBoot = 0xABCDEFAB;
inline constexpr uint32_t kNorRecordMarker = 0xBABEFACE;

// Record types of the image-set sessions.
inline constexpr uint32_t kTypeImgset = 0;
inline constexpr uint32_t kTypeRsrc1 = 3;
inline constexpr uint32_t kTypeCalset = 5;
inline constexpr uint32_t kTypeRsrc2 = 6;
inline constexpr uint32_t kTypeVlf = 7;
inline constexpr uint32_t kTypeVlfFlash = 0x5000000;
inline constexpr uint32_t kVlfFlashExtraBytes = 4096;

// Buffers (limits of the design).
inline constexpr uint32_t kUartBlockBuffer = 0x40000;
inline constexpr uint32_t kUsbBlockBuffer = 0x210000;
inline constexpr uint32_t kNorWorkBuffer = 0x100000;
inline constexpr uint32_t kReadBackBuffer = 0x40000;
inline constexpr uint32_t kSmallBlockLimit = 0x20000;  // below this, UART pauses apply

// Fixed pauses in milliseconds.
inline constexpr unsigned kChecksumPauseMs = 200;
inline constexpr unsigned kDriverAfterSendMs = 250;
inline constexpr unsigned kFlashDriverSettleMs = 2000;
inline constexpr unsigned kPrebootSettleMs = 1000;
inline constexpr unsigned kLoaderSettleMs = 3000;
inline constexpr unsigned kImageStartWaitMs = 3000;
inline constexpr unsigned kOutOfSyncRetryMs = 1000;
inline constexpr unsigned kImageSetStartWaitMs = 1000;
inline constexpr unsigned kFileBlockPauseMs = 1000;
inline constexpr unsigned kFinishedPauseMs = 1000;
inline constexpr unsigned kBoot2StartWaitMs = 3000;
inline constexpr unsigned kBoot2SectorPauseMs = 100;
inline constexpr unsigned kUsbEndBytePauseMs = 1000;
inline constexpr unsigned kSetTargetBaudPauseMs = 1000;
inline constexpr unsigned kEndSessionPauseMs = 2000;
inline constexpr unsigned kFormatPzlPauseMs = 5000;
inline constexpr unsigned kFormatVlfAreaPauseMs = 1000;
inline constexpr unsigned kEraseAllPauseMs = 1000;
inline constexpr unsigned kPartialErasePauseMs = 1000;
inline constexpr unsigned kDatePreSendMs = 500;
inline constexpr unsigned kDatePostSendMs = 1000;
inline constexpr unsigned kNorBlockPauseUartMs = 450;
inline constexpr unsigned kNorBlockPauseUsbMs = 50;
inline constexpr unsigned kDumpSectorPauseMs = 500;
inline constexpr unsigned kDumpBlockPauseMs = 1000;

// Raw read-back exchange.
inline constexpr uint8_t kRawStart1 = 0xCF;
inline constexpr uint8_t kRawStart2 = 0xCC;
inline constexpr uint8_t kRawAck = 0x77;
inline constexpr uint32_t kRawChunkBytes = 8192;
inline constexpr uint8_t kRawSendIdleSec = 3;
inline constexpr uint8_t kRawReceiveIdleSec = 15;

}  // namespace vantrel::proto
