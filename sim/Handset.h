#pragma once
// The handset's programs, run one after the other on the simulator's thread:
// the boot ROM (and the resident preloader), the flash driver and the NOR and
// NAND flash loaders. Each reads and answers through the Wire.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "payloads/Payloads.h"
#include "sim/Faults.h"
#include "sim/Flash.h"
#include "sim/Recorder.h"
#include "sim/Simulator.h"
#include "sim/Wire.h"

namespace vantrel::sim {

class Handset {
 public:
  Handset(const Options& options, Wire& wire, Recorder& recorder, FaultBook& faults, Flash& nand, Flash& nor);

  // Runs until the simulator stops.
  void Run();

  std::string StateName() const;
  std::string LastDownloadDate() const;
  std::vector<std::string> Uploads() const;

 private:
  enum class Program { Off, BootRom, Preloader, FlashDriver, NandLoader, NorLoader };

  struct Unit {
    enum Kind { Garbage, CommandBlock, Frame, ShortFrame, Upload, RawStart, EndByte } kind = Garbage;
    std::vector<uint8_t> bytes;
    const Payload* payload = nullptr;
  };

  Program Step(Program program, bool poweredOn);
  Program Listen(bool bootRom, bool poweredOn);
  Program RunFlashDriver();
  Program RunLoader(bool nand);
  Program ProgramFor(const Payload* payload);

  // Reads the next unit of input in a program's idle state.
  Unit ReadUnit(bool allowEndByte);
  bool ReadUpload(std::vector<uint8_t>& bytes, const Payload* payload, Unit* unit);
  void FlushGarbage();

  // Loader commands. Return true with `next` set when another program takes over.
  bool Command(bool nand, uint32_t cmd, uint32_t arg1, uint32_t arg2, bool framed, Program* next);
  void ImageSessionUart(uint32_t address, uint32_t length);
  void ImageSessionUsb(uint32_t address, uint32_t length);
  void NorDownload(uint32_t address, uint32_t length);
  void ReadBack(bool nand, uint32_t address, uint32_t length);
  void RawReadBack();
  void SetTargetBaud(uint32_t arg1, uint32_t arg2);
  void DownloadDate();
  void FormatNorVlf(uint32_t address, uint32_t length);
  void EraseNand(uint32_t address, uint32_t length, const std::string& what);

  // Session helpers.
  void WaitAck(const std::string& after);
  std::vector<uint8_t> ReceiveBlock(uint32_t length, const std::string& what);
  uint8_t ReceiveByte(const std::string& what);
  void Store(FlashPart part, uint32_t address, const uint8_t* data, size_t length);
  FaultBook::BlockAction BlockFault();
  uint8_t Refusal(Flash& flash, uint32_t address, uint64_t length);  // 0, 0x2B or 0x2C
  void Violation(const std::string& text) { rec_.Violation(text); }
  void SetState(const std::string& name);

  const Options& options_;
  Wire& wire_;
  Recorder& rec_;
  FaultBook& faults_;
  Flash& nand_;
  Flash& nor_;

  mutable std::mutex mutex_;
  std::string state_ = "off";
  std::string date_;
  std::vector<std::string> uploads_;

  std::vector<uint8_t> garbage_;
};

}  // namespace vantrel::sim
