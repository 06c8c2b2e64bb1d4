// Every DOWNLOAD item's NAND job against the simulated handset, over the
// UART at 921600 and over USB: the flash afterwards holds exactly the
// selected records, the log and the boxes read as the operator expects, and
// the handset is back at the base rate for the next job.
#include <string>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "jobs/ThreadProcs.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "tests/flashjobs/FlashJobsFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

constexpr uint32_t kBlock = 0x20000;
constexpr uint32_t kSpareBytes = 4096;
// Where the handset's loader puts a file-system or entire-flash stream.
constexpr uint32_t kStreamArea = 0x5000000;

struct NandCase {
  const char* name;
  uint8_t code;
  bool usb;
};
void PrintTo(const NandCase& c, std::ostream* os) {
  *os << c.name << " (operation " << int{c.code} << (c.usb ? " over USB)" : " over the UART)");
}

// What one item writes and what it must leave alone.
struct Plan {
  const char* headline;
  std::string startText;
  std::vector<ImageRecord> written;
  std::vector<uint32_t> untouched;
  std::string file;
};

class NandItemTest : public FlashJobsTest, public ::testing::WithParamInterface<NandCase> {
 protected:
  // Builds the item's file, points the record at it, sets the record
  // selection as the thread procedure does, and says what must be written.
  Plan Prepare(uint8_t code, bool usb) {
    Plan plan;
    // Points one of the record's path-and-size pairs at the item's file.
    auto use = [&](std::string& path, uint32_t& size, std::string written) {
      path = plan.file = std::move(written);
      size = GetSize(path);
    };
    switch (code) {
      case kOpImgset: {
        std::vector<ImageRecord> r = {MakeRecord(0x4A0000, 5000, 1), MakeRecord(0x4C0000, kBlock + 100, 2),
                                      MakeRecord(0x600000, 300, 3), MakeRecord(0x700000, 1000, 4),
                                      MakeRecord(0x800000, 1000, 5)};
        session.SetSelection(1, 1, 0, 0, 0, 0);
        plan = {"\n  * NAND : Imgset Download", "\n    imgset Download start!!\n", {r[0], r[1], r[2]},
                {0x700000, 0x800000}, {}};
        use(rec.m_strImageFileName, rec.m_nImageFileSize, WriteRecordFile("Q77T_imgset.img", r));
        break;
      }
      case kOpCalset: {
        std::vector<ImageRecord> r = {MakeRecord(0x240000, 2000, 11), MakeRecord(0x250000, 500, 12)};
        session.SetSelection(0, 0, 0, 0, 1, 0);
        plan = {"\n  * NAND : Calset Download", "\n    Now calset Download start!!\n", {r[0]}, {0x250000}, {}};
        use(rec.m_strParamDepFileName, rec.m_nParamDepFileSize, WriteRecordFile("Q77T_calset.img", r));
        break;
      }
      case kOpRsrc1: {
        std::vector<ImageRecord> r = {MakeRecord(0x2000000, kBlock + 777, 21), MakeRecord(0x2200000, 100, 22)};
        session.SetSelection(0, 0, 1, 0, 0, 0);
        plan = {"\n  * NAND : Rsrc1 Download", "\n    Now Rsrc1 Download start!!\n", {r[0]}, {0x2200000}, {}};
        use(rec.m_strRscrFileName, rec.m_nRscrFileSize, WriteRecordFile("Q77T.rc1", r));
        break;
      }
      case kOpRsrc2: {
        std::vector<ImageRecord> r = {MakeRecord(0x4600000, 3000, 31), MakeRecord(0x4700000, 100, 32)};
        session.SetSelection(0, 0, 0, 1, 0, 0);
        plan = {"\n  * NAND : Rsrc2 Download", "\n    Now Rsrc2 Download start!!\n", {r[0]}, {0x4700000}, {}};
        use(rec.m_strRscr2FileName, rec.m_nRscr2FileSize, WriteRecordFile("Q77T.rc2", r));
        break;
      }
      case kOpVlf: {
        plan.headline = "\n  * NAND : VLF Format & Download";
        plan.startText = "\n    Now VLF Download start!!\n";
        if (usb) {
          // On USB the file-system image is a record file whose records all go.
          std::vector<ImageRecord> r = {MakeRecord(0x5000000, 4000, 41), MakeRecord(0x5040000, 3000, 42)};
          use(rec.m_strFactoryFSFileName, rec.m_nFactoryFSFileSize, WriteRecordFile("Q77T.vlf", r));
          plan.written = r;
        } else {
          // On the UART it is one stream without record headers.
          std::vector<uint8_t> bytes = PatternBytes(kBlock + 5000, 43);
          use(rec.m_strFactoryFSFileName, rec.m_nFactoryFSFileSize, WriteFile("Q77T.vlf", bytes));
          plan.written = {ImageRecord{kStreamArea, bytes}};
        }
        session.SetSelection(0, 0, 0, 0, 0, 1);
        break;
      }
      case kOpEntireFlash: {
        // Every block carries its 4096 spare bytes, which the loader drops.
        std::vector<uint8_t> d1 = PatternBytes(kBlock, 51), s1 = PatternBytes(kSpareBytes, 52);
        std::vector<uint8_t> d2 = PatternBytes(1000, 53), s2 = PatternBytes(kSpareBytes, 54);
        std::vector<uint8_t> file = d1;
        file.insert(file.end(), s1.begin(), s1.end());
        file.insert(file.end(), d2.begin(), d2.end());
        file.insert(file.end(), s2.begin(), s2.end());
        session.SetSelection(0, 0, 0, 0, 0, 1);
        plan = {"\n  * NAND : Entire Flash Download", "\n    Now VLF Flash Download start!!\n",
                {ImageRecord{kStreamArea, d1}, ImageRecord{kStreamArea + kBlock, d2}}, {}, {}};
        use(rec.m_strEntireFlashFileName, rec.m_nEntireFlashFileSize, WriteFile("entire.dmp", file));
        break;
      }
      case kOpNandManual: {
        std::vector<uint8_t> bytes = PatternBytes(kBlock + 300, 61);
        rec.m_nStartAddress = 0x100000;
        plan = {"\n  * NAND : Manual Download",
                "\n    Now Manual Download start!!( Start address : 0x100000 File Size : " +
                    std::to_string(bytes.size()) + " )\n",
                {ImageRecord{0x100000, bytes}},
                {},
                {}};
        use(rec.m_strManualNandImage, rec.m_nManualNandImageSize, WriteFile("manual.img", bytes));
        break;
      }
      default:
        ADD_FAILURE() << "no plan for code " << int(code);
    }
    return plan;
  }

  static uint32_t GetSize(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return 0;
    std::fseek(f, 0, SEEK_END);
    long n = std::ftell(f);
    std::fclose(f);
    return static_cast<uint32_t>(n);
  }
};

TEST_P(NandItemTest, WritesExactlyTheSelectedRecords) {
  const NandCase c = GetParam();
  StartHandset(c.usb);
  Connect();
  const Plan plan = Prepare(c.code, c.usb);
  ctx.job.operation = c.code;
  rec.m_nDownloadItem = 5;

  ASSERT_TRUE(NandDownloadJob(ctx, c.code, 0)) << con.Dump();

  for (const ImageRecord& r : plan.written) EXPECT_TRUE(FlashHolds(FlashPart::Nand, r.address, r.data));
  for (uint32_t a : plan.untouched) EXPECT_TRUE(FlashErased(FlashPart::Nand, a, 16));
  // Nothing beyond the last record's end was written.
  const ImageRecord& last = plan.written.back();
  EXPECT_TRUE(FlashErased(FlashPart::Nand, last.address + static_cast<uint32_t>(last.data.size()), 16));

  std::vector<LogEntry> expected = {{4, plan.headline}, {-1, "\n    Open Comport\t\t\t\t> > > "}, {3, "OK"}};
  if (!c.usb) {
    expected.push_back({-1, "\n    Set Target Phone BaudRate\t\t> > > "});
    expected.push_back({3, "OK"});
  }
  expected.insert(expected.end(), {{-1, plan.startText}, {-1, kSeparator}, {-1, "\n      Download"},
                                   {3, "  Completed"}});
  EXPECT_TRUE(LogHasInOrder(expected));
  EXPECT_EQ(CountLogStartingWith(" ( Elapsed Time : "), 1);
  if (c.usb) {
    EXPECT_EQ(CountLogStartingWith("\n    Set Target Phone BaudRate"), 0);
  }

  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Download Finished", "  NOTICE  "}}));
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(con.ControlText(ctl::kFileName), plan.file.substr(plan.file.rfind('/') + 1));
  EXPECT_EQ(con.ControlText(ctl::kFileSize), std::to_string(GetSize(plan.file)) + " bytes");
  EXPECT_FALSE(rec.m_pLink) << "the job's link is closed";
  if (!c.usb) {
    EXPECT_EQ(Sim().HandsetRate(), 115200u) << "the handset is back at the base rate";
  }
  if (c.code == kOpImgset) {
    EXPECT_EQ(Sim().LastDownloadDate(), kTestToday);
  }
}

class NandJobTest : public FlashJobsTest {};

// The session end after the file system is the last step of a chain: when it
// worked, the chain has succeeded.
TEST_F(NandJobTest, FileSystemDownloadWithRebootEndsTheSessionAndSucceeds) {
  StartHandset(/*usb=*/true);
  Connect();
  rec.m_bReboot = 1;
  rec.m_nDownloadItem = 7;
  ImageRecord r = MakeRecord(0x5000000, 2000, 71);
  rec.m_strFactoryFSFileName = WriteRecordFile("Q77T.vlf", {r});
  EXPECT_TRUE(NandDownloadJob(ctx, kOpVlf, 2)) << con.Dump();
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, r.address, r.data));
  EXPECT_TRUE(Boxes().empty()) << con.Dump();
  EXPECT_EQ(con.LastState(), "Disconnected");  // as after a NOR download with Reboot
  EXPECT_EQ(Sim().StateName(), "off") << "the session end restarts the handset";
}

// A front end without a title clock leaves the record's date empty: the
// handset still gets eight digits, today's.
TEST_F(NandJobTest, ImageSetWithoutARecordDateSendsToday) {
  StartHandset(/*usb=*/true);
  Connect();
  rec.m_strToday.clear();
  ImageRecord r = MakeRecord(0x4A0000, 100, 72);
  rec.m_strImageFileName = WriteRecordFile("imgset.img", {r});
  session.SetSelection(1, 1, 0, 0, 0, 0);
  ASSERT_TRUE(NandDownloadJob(ctx, kOpImgset, 0)) << con.Dump();
  EXPECT_EQ(Sim().LastDownloadDate(), TodayDigits());
}

// The File System item as the DOWNLOAD button runs it: the thread procedure
// sets no record selection for it, and whatever the session before left must
// not stop the stream.
TEST_F(NandJobTest, FileSystemItemAfterAnotherItemStillWritesTheStream) {
  StartHandset();
  Connect();
  std::vector<uint8_t> bytes = PatternBytes(3000, 73);
  rec.m_strFactoryFSFileName = WriteFile("Q77T.vlf", bytes);
  rec.m_nFactoryFSFileSize = static_cast<uint32_t>(bytes.size());
  session.SetSelection(0, 0, 0, 1, 0, 0);  // as the Rsrc2 item leaves it
  ctx.job.operation = kOpVlf;
  NandItemDownloadProc(ctx);
  EXPECT_TRUE(FlashHolds(FlashPart::Nand, kStreamArea, bytes)) << con.Dump();
  EXPECT_TRUE(LogHasInOrder({{3, "  Completed"}}));
}

const NandCase kNandCases[] = {
    {"ImgsetUart", kOpImgset, false},      {"ImgsetUsb", kOpImgset, true},
    {"CalsetUart", kOpCalset, false},      {"CalsetUsb", kOpCalset, true},
    {"Rsrc1Uart", kOpRsrc1, false},        {"Rsrc1Usb", kOpRsrc1, true},
    {"Rsrc2Uart", kOpRsrc2, false},        {"Rsrc2Usb", kOpRsrc2, true},
    {"VlfUart", kOpVlf, false},            {"VlfUsb", kOpVlf, true},
    {"ManualUart", kOpNandManual, false},  {"ManualUsb", kOpNandManual, true},
    {"EntireFlashUart", kOpEntireFlash, false}, {"EntireFlashUsb", kOpEntireFlash, true},
};

INSTANTIATE_TEST_SUITE_P(Items, NandItemTest, ::testing::ValuesIn(kNandCases),
                         [](const ::testing::TestParamInfo<NandCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace vantrel::test
