// The checks of DOWNLOAD and START: limits, messages, address rounding.
#include <gtest/gtest.h>

#include <fstream>

#include "jobs/DownloadChecks.h"
#include "jobs/ThreadProcs.h"
#include "link/ResultCodes.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::test {
namespace {

using Messages = std::vector<std::string>;

// Steps one file of the record through the checks of its size: missing (0),
// too large, then a size the check takes; returns the plan at that size.
DownloadPlan MissingTooLargeThen(OperationRecord& rec, uint32_t OperationRecord::*size, const Messages& missing,
                                 uint32_t tooLarge, uint32_t fits) {
  for (const auto& [bytes, refused] : {std::pair{0u, missing}, std::pair{tooLarge, Messages{"File size error"}}}) {
    rec.*size = bytes;
    const DownloadPlan plan = PlanDownload(rec);
    EXPECT_FALSE(plan.ok) << bytes;
    EXPECT_EQ(plan.messages, refused) << bytes;
  }
  rec.*size = fits;
  return PlanDownload(rec);
}

struct Case {
  int item;
  uint32_t OperationRecord::*size;
  uint32_t limit;
  uint8_t op;
  Messages missing;
};

TEST(DownloadChecksTest, SingleItemLimitsAreInclusive) {
  const Case cases[] = {
      {5, &OperationRecord::m_nImageFileSize, 52690943, 16, {"Check the file location", "Verify a path of Imgset file"}},
      {6, &OperationRecord::m_nParamDepFileSize, 131071, 17,
       {"Check the file location", "Verify a path of W5K1_calset file"}},
      {0, &OperationRecord::m_nRscrFileSize, 39845888, 18, {"Check the file location"}},
      {2, &OperationRecord::m_nRscr2FileSize, 10485760, 19, {"Check the file location"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.item);
    OperationRecord rec;
    rec.m_nDownloadItem = c.item;
    const DownloadPlan plan = MissingTooLargeThen(rec, c.size, c.missing, c.limit + 1, c.limit);
    EXPECT_TRUE(plan.ok);
    EXPECT_TRUE(plan.messages.empty());
    EXPECT_EQ(plan.operation, c.op);
    EXPECT_EQ(plan.proc, &NandItemDownloadProc);
  }
}

TEST(DownloadChecksTest, FileSystemItemNeedsTheFileSystemButton) {
  OperationRecord rec;
  rec.m_nDownloadItem = 3;
  rec.m_nOgmSize = 100;
  rec.m_bFsChosen = 0;
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Please check vlf file(Push the 'File system' button.\n"});
  rec.m_bFsChosen = 1;
  rec.m_nOgmSize = 0;
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Check the file location"});
  rec.m_nOgmSize = 100;
  auto plan = PlanDownload(rec);
  EXPECT_TRUE(plan.ok);
  EXPECT_EQ(plan.operation, kOpVlf);
}

TEST(DownloadChecksTest, NoItemChosen) {
  OperationRecord rec;
  for (int item : {-1, 4, 11}) {
    rec.m_nDownloadItem = item;
    auto plan = PlanDownload(rec);
    EXPECT_FALSE(plan.ok);
    EXPECT_EQ(plan.messages, Messages{"Please select download item"});
  }
}

void AllPresent(OperationRecord& rec) {
  rec.m_nDownloadItem = 7;
  rec.m_nImageFileSize = 1000;
  rec.m_nParamDepFileSize = 0;
  rec.m_nRscrFileSize = 1000;
  rec.m_nRscr2FileSize = 1000;
  rec.m_nOgmSize = 1000;
}

TEST(DownloadChecksTest, AllDownloadChecksEveryFileInOrder) {
  OperationRecord rec;
  AllPresent(rec);
  auto plan = PlanDownload(rec);
  EXPECT_TRUE(plan.ok);  // calset not needed: neither calset box checked
  EXPECT_EQ(plan.operation, kOpAllChain);
  EXPECT_EQ(plan.proc, &NandAllDownloadProc);

  const Messages calsetMissing{"Check the file location", "Verify a path of W5K1_calset file"};
  rec.m_bCalsetDefault = 1;
  EXPECT_EQ(PlanDownload(rec).messages, calsetMissing);
  // The NAND chain writes the calibration set when the visible "Calset" box
  // is checked, so the file is needed then as well.
  rec.m_bCalsetDefault = 0;
  rec.m_bCalset = 1;
  EXPECT_TRUE(MissingTooLargeThen(rec, &OperationRecord::m_nParamDepFileSize, calsetMissing, 131072, 131071).ok);

  rec.m_nRscrFileSize = 0;
  const Messages imgsetMissing{"Check the file location", "Verify a path of W5K1_imgset file"};
  plan = MissingTooLargeThen(rec, &OperationRecord::m_nImageFileSize, imgsetMissing, 52690944, 10);
  EXPECT_EQ(plan.messages, (Messages{"Rscr file not existed", "Verify a path of Rscr file"}));
  rec.m_nRscrFileSize = 10;
  const Messages rscr2Missing{"Rscr2 file not existed", "Verify a path of Rscr2 file"};
  EXPECT_TRUE(MissingTooLargeThen(rec, &OperationRecord::m_nRscr2FileSize, rscr2Missing, 10485761, 10).ok);
  rec.m_nOgmSize = 0;
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Check the file location"});
}

TEST(DownloadChecksTest, NandManualAddressIsRoundedAndBounded) {
  OperationRecord rec;
  rec.m_nDownloadItem = 10;
  rec.m_nManualNandImageSize = 0x80000;
  rec.m_nStartAddress = 0x7E40000;
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Image file size too big"});

  rec.m_nStartAddress = 0x1FFFF;
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"start address -> PROTECT AREA\r\nCheck the start adress!!!!"});
  EXPECT_EQ(rec.m_nStartAddress, 0u);

  rec.m_nStartAddress = 0x7C4ABCD;  // rounds to 0x7C40000; 0x7C40000 + 0x80000 = 0x7CC0000 exactly
  auto plan = PlanDownload(rec);
  EXPECT_TRUE(plan.ok);
  EXPECT_EQ(rec.m_nStartAddress, 0x7C40000u);
  EXPECT_EQ(plan.messages, Messages{"Start Address check OK!!\r\nCheck start block Address : 0x7c40000"});
  EXPECT_EQ(plan.operation, kOpNandManual);

  rec.m_nStartAddress = 0xFFFE0000;  // the sum would wrap in 32 bits
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Image file size too big"});

  rec.m_nStartAddress = 0x40000;
  rec.m_nManualNandImageSize = 0;
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Check the file location"});
}

TEST(DownloadChecksTest, HiddenItems) {
  OperationRecord rec;
  rec.m_nDownloadItem = 1;
  rec.m_nRscrFileSize = 0;
  EXPECT_EQ(PlanDownload(rec).messages, (Messages{"Rscr file not existed", "Verify a path of Rscr file"}));
  rec.m_nRscrFileSize = 100;
  auto plan = MissingTooLargeThen(rec, &OperationRecord::m_nOgmSize,
                                  {"FactoryFS file not existed", "Verify a path of FactoryFS file"}, 1048576, 1048575);
  EXPECT_TRUE(plan.ok);
  EXPECT_EQ(plan.operation, kOpAllChain);
  EXPECT_EQ(plan.proc, &NandItemDownloadProc);

  rec.m_nDownloadItem = 8;
  plan = MissingTooLargeThen(rec, &OperationRecord::m_nEntireFlashFileSize, {"Check the file location"}, 65798144,
                             44470272);
  EXPECT_EQ(plan.operation, kOpEntireFlash);

  rec.m_nDownloadItem = 9;
  rec.m_nManualImageSize = 0x20000;
  rec.m_nStartAddress = 0x1FE0003;  // low 7 bits 3: reduced by 3 KiB
  plan = PlanDownload(rec);
  EXPECT_TRUE(plan.ok);
  EXPECT_EQ(rec.m_nStartAddress, 0x1FE0003u - 3 * 1024);
  EXPECT_EQ(plan.proc, &NorManualDownloadProc);
  EXPECT_EQ(plan.operation, kOpNorManual);
  rec.m_nStartAddress = 0x1FE0000;
  rec.m_nManualImageSize = 0x20000;  // ends at 0x2000000, one past the last byte
  EXPECT_EQ(PlanDownload(rec).messages, Messages{"Image file size too big"});
}

TEST(DownloadChecksTest, AutoAllFilesInOrder) {
  OperationRecord rec;
  EXPECT_EQ(CheckAutoAllFiles(rec), (Messages{"NOR : imgset - not existed", "Verify a path of W5K1_imgset file"}));
  rec.m_nImageFileSize = 1;
  rec.m_bCalsetDefault = 1;
  EXPECT_EQ(CheckAutoAllFiles(rec), (Messages{"NOR: calset - not existed", "Verify a path of W5K1_calset file"}));
  rec.m_bCalsetDefault = 0;
  EXPECT_EQ(CheckAutoAllFiles(rec), (Messages{"NAND : Rscr1 file not existed", "Verify a path of Rscr file"}));
  rec.m_nRscrFileSize = 1;
  EXPECT_EQ(CheckAutoAllFiles(rec), (Messages{"NAND : Rscr2 file not existed", "Verify a path of Rscr2 file"}));
  rec.m_nRscr2FileSize = 1;
  EXPECT_EQ(CheckAutoAllFiles(rec),
            (Messages{"NAND : FactoryFS file not existed", "Verify a path of FactoryFS file"}));
  rec.m_nFactoryFSFileSize = 1;
  EXPECT_TRUE(CheckAutoAllFiles(rec).empty());
}

// DOWNLOAD (one item or the whole chain) and START's automatic download
// refuse a record file that does not parse, naming the file and the offset.
TEST(DownloadChecksTest, RecordFilesMustParseToTheirLastByte) {
  ScratchConfig scratch;
  std::vector<uint8_t> bytes = RecordFileBytes({{0x4A0000, std::vector<uint8_t>(0x20, 1)}, {0x4C0000, {2, 3}}});
  const std::string good = scratch.Root() + "/good.img", bad = scratch.Root() + "/bad.img";
  std::ofstream(good, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 50);
  std::ofstream(bad, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), 50) << "\x09\x09\x09";
  OperationRecord rec;
  rec.m_strImageFileName = rec.m_strRscrFileName = rec.m_strOgmPath = rec.m_strFactoryFSFileName = good;
  rec.m_strRscr2FileName = bad;
  MeasureImageFiles(rec);
  const Messages refused{"Image file format error\r\n" + bad +
                         "\r\n3 bytes are left over after the last record, at offset 50 (0x32)."};
  for (int item : {kItemRsrc2, kItemAll}) {
    rec.m_nDownloadItem = item;
    const DownloadPlan plan = PlanDownload(rec);
    EXPECT_EQ(plan.messages, refused);
    EXPECT_EQ(plan.failure, FailureKind::File);
  }
  EXPECT_EQ(CheckAutoAllFiles(rec), refused);
  rec.m_strRscr2FileName = good;
  EXPECT_TRUE(PlanDownload(rec).ok);
  EXPECT_TRUE(CheckAutoAllFiles(rec).empty());
}

}  // namespace
}  // namespace vantrel::test
