#include "jobs/DownloadChecks.h"

#include "jobs/FileInfo.h"
#include "jobs/JobState.h"
#include "jobs/Printf.h"
#include "jobs/ThreadProcs.h"
#include "link/ResultCodes.h"
#include "protocol/ImageFiles.h"

namespace vantrel {

namespace {

constexpr const char* kCheckLocation = "Check the file location";
constexpr const char* kFileSizeError = "File size error";
constexpr const char* kTooBig = "Image file size too big";

// A file that is missing (or otherwise unusable) unless told otherwise.
DownloadPlan Fail(std::vector<std::string> messages, FailureKind kind = FailureKind::File,
                  Result rc = Result::FileOpen) {
  DownloadPlan plan;
  plan.messages = std::move(messages);
  plan.failure = kind;
  plan.result = rc;
  return plan;
}

DownloadPlan Misfit(const char* message) { return Fail({message}, FailureKind::File, Result::InvalidValue); }
DownloadPlan Refused(const char* message) { return Fail({message}, FailureKind::Usage, Result::InvalidValue); }

DownloadPlan Go(uint8_t operation, ThreadProc proc) {
  DownloadPlan plan;
  plan.ok = true;
  plan.operation = operation;
  plan.proc = proc;
  return plan;
}

// A size check: 0 means missing (messages `missing`), above `max` too big.
bool SizeFails(uint32_t size, uint32_t max, std::vector<std::string> missing, DownloadPlan* plan) {
  if (size == 0) {
    *plan = Fail(std::move(missing));
    return true;
  }
  if (size > max) {
    *plan = Misfit(kFileSizeError);
    return true;
  }
  return false;
}

// A record file that does not parse to its last byte: the message names the
// file and where its layout breaks. The handset gets nothing of it.
bool RecordsFail(const std::string& path, DownloadPlan* plan) {
  const std::optional<RecordFileFault> fault = CheckRecordFile(path);
  // A file that cannot be opened was measured as missing already; one that
  // went away since is the session's open failure.
  if (!fault || fault->kind == RecordFileFault::Kind::Unreadable) return false;
  *plan = Fail({RecordFileFaultText(path, *fault)}, FailureKind::File, Result::FileRead);
  return true;
}

// The file system goes as records over USB and as one stream over the UART.
bool FileSystemRecordsFail(const OperationRecord& rec, DownloadPlan* plan) {
  return rec.m_nLinkMode == LinkMode::Usb && RecordsFail(rec.m_strFactoryFSFileName, plan);
}

std::string AddressConfirmation(uint32_t address) {
  return StrPrintf("Start Address check OK!!\r\nCheck start block Address : 0x%x", address);
}

}  // namespace

void MeasureImageFiles(OperationRecord& rec) {
  rec.m_nImageFileSize = GetFileLength(rec.m_strImageFileName);
  rec.m_nParamDepFileSize = GetFileLength(rec.m_strParamDepFileName);
  rec.m_nManualImageSize = GetFileLength(rec.m_strManualImage);
  rec.m_nRscrFileSize = GetFileLength(rec.m_strRscrFileName);
  rec.m_nRscr2FileSize = GetFileLength(rec.m_strRscr2FileName);
  rec.m_nFactoryFSFileSize = GetFileLength(rec.m_strFactoryFSFileName);
  rec.m_nEntireFlashFileSize = GetFileLength(rec.m_strEntireFlashFileName);
  rec.m_nManualNandImageSize = GetFileLength(rec.m_strManualNandImage);
  rec.m_nOgmSize = GetFileLength(rec.m_strOgmPath);
}

std::optional<uint32_t> NorManualStartAddress(uint32_t typed) {
  const uint32_t reduction = (typed & 0x7Fu) * 1024u;
  if (reduction > typed) return std::nullopt;
  return typed - reduction;
}

DownloadPlan PlanDownload(OperationRecord& rec) {
  DownloadPlan plan;
  switch (rec.m_nDownloadItem) {
    case kItemImgset:
      if (SizeFails(rec.m_nImageFileSize, kImgsetMaxBytes, {kCheckLocation, "Verify a path of Imgset file"}, &plan) ||
          RecordsFail(rec.m_strImageFileName, &plan))
        return plan;
      return Go(kOpImgset, NandItemDownloadProc);

    case kItemCalset:
      if (SizeFails(rec.m_nParamDepFileSize, kCalsetMaxBytes, {kCheckLocation, "Verify a path of W5K1_calset file"},
                    &plan) ||
          RecordsFail(rec.m_strParamDepFileName, &plan))
        return plan;
      return Go(kOpCalset, NandItemDownloadProc);

    case kItemRsrc1:
      if (SizeFails(rec.m_nRscrFileSize, kRsrc1MaxBytes, {kCheckLocation}, &plan) ||
          RecordsFail(rec.m_strRscrFileName, &plan))
        return plan;
      return Go(kOpRsrc1, NandItemDownloadProc);

    case kItemRsrc2:
      if (SizeFails(rec.m_nRscr2FileSize, kRsrc2MaxBytes, {kCheckLocation}, &plan) ||
          RecordsFail(rec.m_strRscr2FileName, &plan))
        return plan;
      return Go(kOpRsrc2, NandItemDownloadProc);

    case kItemFileSystem:
      if (rec.m_bFsChosen != 1) return Fail({"Please check vlf file(Push the 'File system' button.\n"});
      if (rec.m_nOgmSize == 0) return Fail({kCheckLocation});
      if (FileSystemRecordsFail(rec, &plan)) return plan;
      return Go(kOpVlf, NandItemDownloadProc);

    case kItemAll:
      if (SizeFails(rec.m_nImageFileSize, kImgsetMaxBytes, {kCheckLocation, "Verify a path of W5K1_imgset file"},
                    &plan))
        return plan;
      // The chain writes the calibration set when the NAND "Calset" box is
      // checked; checking the file only for the hidden default box would let
      // a chain erase the whole flash and then fail on a missing file.
      if ((rec.m_bCalsetDefault == 1 || rec.m_bCalset == 1) &&
          SizeFails(rec.m_nParamDepFileSize, kCalsetMaxBytes, {kCheckLocation, "Verify a path of W5K1_calset file"},
                    &plan))
        return plan;
      if (SizeFails(rec.m_nRscrFileSize, kRsrc1MaxBytes, {"Rscr file not existed", "Verify a path of Rscr file"},
                    &plan))
        return plan;
      if (SizeFails(rec.m_nRscr2FileSize, kRsrc2MaxBytes, {"Rscr2 file not existed", "Verify a path of Rscr2 file"},
                    &plan))
        return plan;
      if (rec.m_nOgmSize == 0) return Fail({kCheckLocation});
      // The chain erases the flash first: every file it writes must parse.
      if (RecordsFail(rec.m_strImageFileName, &plan) ||
          ((rec.m_bCalsetDefault == 1 || rec.m_bCalset == 1) && RecordsFail(rec.m_strParamDepFileName, &plan)) ||
          RecordsFail(rec.m_strRscrFileName, &plan) || RecordsFail(rec.m_strRscr2FileName, &plan) ||
          FileSystemRecordsFail(rec, &plan))
        return plan;
      return Go(kOpAllChain, NandAllDownloadProc);

    case kItemNandManual: {
      rec.m_nStartAddress &= ~(kNandManualAlign - 1);
      const uint32_t address = rec.m_nStartAddress;
      if (rec.m_nManualNandImageSize == 0) return Fail({kCheckLocation});
      if (address < kNandManualLowest) return Refused("start address -> PROTECT AREA\r\nCheck the start adress!!!!");
      if (uint64_t{address} + rec.m_nManualNandImageSize > kNandManualEnd) return Misfit(kTooBig);
      plan = Go(kOpNandManual, NandItemDownloadProc);
      plan.messages = {AddressConfirmation(address)};
      return plan;
    }

    case kItemRsrc1AndFs:
      if (SizeFails(rec.m_nRscrFileSize, kRsrc1MaxBytes, {"Rscr file not existed", "Verify a path of Rscr file"},
                    &plan))
        return plan;
      if (SizeFails(rec.m_nOgmSize, kRsrc1FsMaxBytes, {"FactoryFS file not existed", "Verify a path of FactoryFS file"},
                    &plan) ||
          RecordsFail(rec.m_strRscrFileName, &plan) || FileSystemRecordsFail(rec, &plan))
        return plan;
      return Go(kOpAllChain, NandItemDownloadProc);

    case kItemEntireFlash:
      if (rec.m_nEntireFlashFileSize == 0) return Fail({kCheckLocation});
      if (rec.m_nEntireFlashFileSize != kEntireFlashImageBytes) return Misfit(kFileSizeError);
      return Go(kOpEntireFlash, NandItemDownloadProc);

    case kItemNorManual: {
      const std::optional<uint32_t> reduced = NorManualStartAddress(rec.m_nStartAddress);
      if (reduced) rec.m_nStartAddress = *reduced;
      const uint32_t address = rec.m_nStartAddress;
      if (rec.m_nManualImageSize == 0) return Fail({kCheckLocation});
      // An address that cannot be reduced lies nowhere in the NOR area.
      if (!reduced || uint64_t{address} + rec.m_nManualImageSize > kNorManualEnd) return Misfit(kTooBig);
      plan = Go(kOpNorManual, NorManualDownloadProc);
      plan.messages = {AddressConfirmation(address)};
      return plan;
    }

    default:
      return Refused("Please select download item");
  }
}

std::vector<std::string> CheckAutoAllFiles(OperationRecord& rec) {
  if (rec.m_nImageFileSize == 0) return {"NOR : imgset - not existed", "Verify a path of W5K1_imgset file"};
  if (rec.m_bCalsetDefault == 1 && rec.m_nParamDepFileSize == 0)
    return {"NOR: calset - not existed", "Verify a path of W5K1_calset file"};
  if (rec.m_nRscrFileSize == 0) return {"NAND : Rscr1 file not existed", "Verify a path of Rscr file"};
  if (rec.m_nRscr2FileSize == 0) return {"NAND : Rscr2 file not existed", "Verify a path of Rscr2 file"};
  if (rec.m_nFactoryFSFileSize == 0) return {"NAND : FactoryFS file not existed", "Verify a path of FactoryFS file"};
  DownloadPlan plan;
  if (RecordsFail(rec.m_strImageFileName, &plan) ||
      (rec.m_bCalsetDefault == 1 && RecordsFail(rec.m_strParamDepFileName, &plan)) ||
      RecordsFail(rec.m_strRscrFileName, &plan) || RecordsFail(rec.m_strRscr2FileName, &plan) ||
      FileSystemRecordsFail(rec, &plan))
    return plan.messages;
  return {};
}

}  // namespace vantrel
