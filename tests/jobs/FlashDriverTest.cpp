// Bringing up the flash loaders and naming the flash part.
#include <gtest/gtest.h>

#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "tests/jobs/JobsFixture.h"
#include "tests/support/ScriptedHandset.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {
namespace {

constexpr const char* kCom = "COM7";

class FlashDriverTest : public JobsFixture {
 protected:
  void SetUp() override {
    JobsFixture::SetUp();
    rec.m_nComPort = 6;
    link.SetPortName(kCom);
    link.baudCode = kBaud115200;
  }
  void TearDown() override {
    SetComOverride(kCom, "");
    JobsFixture::TearDown();
  }
  bool EndsWith(const std::string& tail) {
    const std::string log = con.Log();
    return log.size() >= tail.size() && log.compare(log.size() - tail.size(), tail.size(), tail) == 0;
  }

  ComLink link;
  TraceCapture traces;
};

TEST_F(FlashDriverTest, FlashTypeTable) {
  struct Row {
    uint8_t id;
    const char* text;
    int box;
  };
  const Row rows[] = {{0x10, "NQ4410TB 256", 1118}, {0x11, "NQ4410BB 256", 1118}, {0x26, "MLC NOR 512", 1118},
                      {0x14, "EC14", 1119},         {0x24, "EC24", 1119},         {0x34, "EC34", 1119},
                      {0x55, "NX3302A0 256", 1119}, {0x56, "NX6604A0 512", 1119}, {0xB1, "ECB1", 1119},
                      {0xBA, "ECBA", 1119}};
  for (const auto& r : rows) {
    con.Clear();
    EXPECT_TRUE(ShowFlashType(ctx, r.id));
    auto calls = con.Calls();
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].type, CallType::ControlText);
    EXPECT_EQ(calls[0].id, r.box);
    EXPECT_EQ(calls[0].text, r.text);
  }
  con.Clear();
  EXPECT_FALSE(ShowFlashType(ctx, 0x00));
  EXPECT_FALSE(ShowFlashType(ctx, 0x12));
  EXPECT_EQ(con.Count(), 0u);
}

TEST_F(FlashDriverTest, NorLoaderNamesTheNorPart) {
  ScriptedHandset h(kCom);
  h.AnswerFlashTypeQueries(0x10);
  h.Start();
  ctx.job.loaderState = kLoaderNand;
  EXPECT_TRUE(DownloadNorFlashDriver(ctx, link));
  EXPECT_EQ(ctx.job.loaderState, kLoaderNor);
  EXPECT_EQ(con.IndicatorText(ctl::kNorIdBox), "NQ4410TB 256");
  EXPECT_EQ(con.IndicatorText(ctl::kFlashIdBox), "");
  const std::string head =
      StandInWarning() + "\n\n  * NOR Flash Driver Download\n     NOR Flash driver Downloading\t\t> > > OK\n"
      "     Flash type Checking\t\t\t> > > OK\n    ( Elapsed Time : ";
  EXPECT_EQ(con.Log().substr(0, head.size()), head);
  EXPECT_TRUE(EndsWith("s)\n"));
  EXPECT_EQ(PausesTagged("NorFlashTypeCheck"), std::vector<unsigned>{1000});
  EXPECT_GT(rec.m_dTotalElapsed, 0.0);
}

TEST_F(FlashDriverTest, UnknownDeviceIdFailsOnlyTheTypeCheck) {
  {
    ScriptedHandset h(kCom);
    h.AnswerFlashTypeQueries(0x00);
    h.Start();
    EXPECT_TRUE(DownloadNorFlashDriver(ctx, link));
    EXPECT_NE(con.Log().find("     Flash type Checking\t\t\t> > > FAIL\n"), std::string::npos);
    EXPECT_EQ(ctx.job.loaderState, kLoaderNor);
  }
  con.Clear();
  ScriptedHandset h(kCom);
  h.AnswerFlashTypeQueries(0x00);
  h.Start();
  EXPECT_TRUE(DownloadNandFlashDriver(ctx, link, 1));
  EXPECT_NE(con.Log().find("     Flash Type Checking\t\t\t> > > device_id=0 FAIL\n"), std::string::npos);
  EXPECT_EQ(ctx.job.loaderState, kLoaderNand);
  EXPECT_TRUE(con.MessageBoxes().empty());
}

TEST_F(FlashDriverTest, NorUploadFailureDisconnects) {
  SetComOverride(kCom, "/nonexistent/tty");
  ctx.job.loaderState = kLoaderNand;
  EXPECT_FALSE(DownloadNorFlashDriver(ctx, link));
  ASSERT_EQ(con.MessageBoxes().size(), 1u);
  EXPECT_EQ(con.MessageBoxes()[0].text, ResultText(Result::ComPort));
  EXPECT_EQ(con.MessageBoxes()[0].caption, "Downloading Failure");
  EXPECT_TRUE(EndsWith("> > > FAIL\n\n   Turn On/Off the target phone!!!\n"));
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(ctx.job.loaderState, kLoaderNand);  // left as it was
  EXPECT_EQ(con.Log().find("Elapsed"), std::string::npos);
}

TEST_F(FlashDriverTest, BaudChoiceOutsideTheListFailsTheNandLoaderWith209) {
  ScriptedHandset h(kCom);
  h.Start();
  rec.m_nBaudRate = 3;
  ctx.job.loaderState = kLoaderNone;
  EXPECT_FALSE(DownloadNandFlashDriver(ctx, link, 1));
  ASSERT_EQ(con.MessageBoxes().size(), 1u);
  EXPECT_EQ(con.MessageBoxes()[0].text, ResultText(Result::InvalidValue));
  EXPECT_EQ(con.MessageBoxes()[0].caption, "Downloading Failure");
  EXPECT_EQ(con.Log(),
            StandInWarning() + "\n\n  * NAND Flash Driver Download\n     preboot downloading\t\t\t> > > OK\n"
            "     NAND Flash driver downloading\t\t> > > FAIL\n\n  Turn On/Off the target phone!!!\n");
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(ctx.job.loaderState, kLoaderNone);
}

TEST_F(FlashDriverTest, NandPrebootFailureEndsReady) {
  SetComOverride(kCom, "/nonexistent/tty");
  EXPECT_FALSE(DownloadNandFlashDriver(ctx, link, 1));
  EXPECT_EQ(con.Log(),
            StandInWarning() + "\n\n  * NAND Flash Driver Download\n     preboot downloading\t\t\t> > > FAIL\n"
            "\n  Turn On/Off the target phone!!!\n");
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{ResultText(Result::ComPort)});
  EXPECT_EQ(con.LastState(), "Ready");
}

}  // namespace
}  // namespace vantrel::test
