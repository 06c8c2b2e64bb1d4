// Handset answers the simulator never gives, on a scripted line: a dump that
// delivers less or more than it was asked for, and a format command that
// cannot be sent.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "jobs/OperationRecord.h"
#include "maintenance/NandDump.h"
#include "maintenance/PzlFormat.h"
#include "protocol/TargetSession.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/FastTiming.h"
#include "tests/support/RecordingConsole.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::test {
namespace {

class ScriptedJobsTest : public FastTiming {
 protected:
  void SetUp() override {
    FastTiming::SetUp();
    ctx.job.loaderState = 2;
    ctx.job.operation = kOpNandDump;
    ctx.job.progressTicks = 0;
    rec.m_nComPort = 0;
    rec.m_nBaudRate = 0;
    rec.m_nLinkMode = LinkMode::Uart;
    path = config.Root() + "/scripted.dmp";
  }
  void TearDown() override {
    FastTiming::TearDown();
  }
  std::vector<uint8_t> File(const std::string& suffix = "") const {
    std::ifstream in(path + suffix, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> out;
    for (const auto& c : con.MessageBoxes()) out.push_back(c.text + " | " + c.ShownCaption());
    return out;
  }

  ScratchConfig config;
  QueuedLineScope scripted;
  RecordingConsole con;
  OperationRecord rec;
  TargetSession session;
  JobState job;
  JobContext ctx{rec, con, nullptr, session, job};
  std::string path;
};

TEST_F(ScriptedJobsTest, DumpThatEndsShortIsNotComplete) {
  con.QueueNandDumpArea(DumpArea{0x100, 0x107, 0});
  con.QueueSaveFile(path);
  // Image OK, one block of 4 bytes and its sum, then "finished": 4 of 8 bytes.
  scripted.Feed({0x26, 0x2E, 0, 0, 0, 4, 1, 2, 3, 4, 10, 0x29});
  EXPECT_FALSE(NandDumpJob(ctx, kOpNandDump));
  EXPECT_EQ(Boxes(), std::vector<std::string>{"Dump error : the target phone sent 4 of 8 bytes.\n | VANTREL Downloader"});
  EXPECT_EQ(File(".partial"), (std::vector<uint8_t>{1, 2, 3, 4}));
  EXPECT_NE(con.Log().find("\r\n\r\n -  Fail!!!!!!!!"), std::string::npos);
  EXPECT_EQ(con.Log().find("Completed"), std::string::npos);
  EXPECT_EQ(rec.m_dumpFile, nullptr);
}

TEST_F(ScriptedJobsTest, DumpNeverWritesPastTheRange) {
  con.QueueNandDumpArea(DumpArea{0x100, 0x101, 0});
  con.QueueSaveFile(path);
  scripted.Feed({0x26, 0x2E, 0, 0, 0, 4, 1, 2, 3, 4, 10, 0x29});
  EXPECT_FALSE(NandDumpJob(ctx, kOpNandDump));
  EXPECT_EQ(Boxes(), std::vector<std::string>{
                         "Dump error : the target phone sent more than the 2 bytes asked for.\n | VANTREL Downloader"});
  EXPECT_TRUE(File().empty());
  EXPECT_EQ(ctx.job.loaderState.load(), 2);
}

TEST_F(ScriptedJobsTest, PzlFormatCommandThatCannotBeSentIsReported) {
  scripted.line->failWrite = 2;  // the rate command goes out, the format command does not
  EXPECT_FALSE(PzlFormatJob(ctx));
  const auto entries = con.LogEntries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2], (std::pair<int, std::string>{-1, "\n    Now NAND PZL Format Setting\t\t> > > "}));
  EXPECT_EQ(entries.back(), (std::pair<int, std::string>{4, "FAIL\n"}));
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Error formatting PZL : COM port error\n | VANTREL Downloader",
                                               "PZL All Erased. Turn On/Off |   NOTICE  "}));
  EXPECT_EQ(con.LastState(), "Ready");
}

}  // namespace
}  // namespace vantrel::test
