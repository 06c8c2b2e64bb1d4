// PZL format and the raw read-back exchange against the handset simulator.
#include "jobs/ControlIds.h"
#include "link/ComNames.h"
#include "tests/maintenance/MaintenanceFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

using PzlFormatTest = MaintenanceTest;

TEST_F(PzlFormatTest, FormatsWithTheNandLoaderRunning) {
  StartSim();
  Connect();
  const auto boot = Seed(FlashPart::Nand, 0x10000, 0x1000);
  Seed(FlashPart::Nand, 0x100000, 0x1000, 2);
  const size_t mark = con.Count();
  op->OnPzlFormat();
  op->WaitForJob();
  EXPECT_EQ(con.LogSince(mark),
            "\n  * PZL Format\n    Open Comport\t\t\t\t> > > OKOK\n    Now NAND PZL Format Setting\t\t> > > OK\n");
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"PZL All Erased. Turn On/Off |   NOTICE  "});
  EXPECT_EQ(Sim().ReadNand(0x100000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
  EXPECT_EQ(Sim().ReadNand(0x10000, 0x1000), boot);
  EXPECT_EQ(Job().loaderState.load(), 2);
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(rec.m_pLink, nullptr);
}

TEST_F(PzlFormatTest, NorLoaderGivesWayAndTheNandLoaderIsUploadedFirst) {
  StartSim();
  Connect();
  con.QueueNorDumpArea(DumpArea{0, 0x100, 0});
  con.QueueSaveFile(Config().Root() + "/nor.dmp");
  op->OnNorDump();
  op->WaitForJob();
  ASSERT_EQ(Job().loaderState.load(), 1);
  Seed(FlashPart::Nand, 0x200000, 0x1000);
  rec.m_nBaudRate = 1;  // 460K: the rate goes up for the command and back afterwards
  const size_t mark = con.Count();
  op->OnPzlFormat();
  op->WaitForJob();
  const std::string log = con.LogSince(mark);
  const size_t reconnect = log.find("\n   * Reconnecting (Flash Driver Change)");
  const size_t loader = log.find("\n\n  * NAND Flash Driver Download");
  const size_t format = log.find(
      "\n  * PZL Format\n    Open Comport\t\t\t\t> > > OK\n    Set Target Phone BaudRate\t\t> > > OK\n"
      "    Now NAND PZL Format Setting\t\t> > > OK\n");
  EXPECT_LT(reconnect, loader) << log;
  EXPECT_LT(loader, format) << log;
  EXPECT_NE(format, std::string::npos) << log;
  EXPECT_EQ(Sim().ReadNand(0x200000, 0x1000), std::vector<uint8_t>(0x1000, 0xFF));
  EXPECT_EQ(Job().loaderState.load(), 2);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"PZL All Erased. Turn On/Off |   NOTICE  "});
}

TEST_F(PzlFormatTest, NoticeFollowsAPortThatCannotBeOpened) {
  // No handset: the port leads nowhere.
  SetComOverride("COM41", Config().Root() + "/no-such-tty");
  rec.m_nComPort = 40;
  Job().loaderState = 2;
  const size_t mark = con.Count();
  op->OnPzlFormat();
  op->WaitForJob();
  SetComOverride("COM41", "");
  const auto entries = con.LogEntries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries[entries.size() - 2], (std::pair<int, std::string>{4, "FAIL"}));
  // The reason follows: the device that is not there.
  const std::string reason = "\n      " + Config().Root() + "/no-such-tty: no such device";
  EXPECT_EQ(entries.back().first, 4);
  EXPECT_EQ(entries.back().second.rfind(reason, 0), 0u) << entries.back().second;
  EXPECT_EQ(con.LogSince(mark).rfind("\n  * PZL Format\n    Open Comport\t\t\t\t> > > FAIL" + reason, 0), 0u);
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"PZL All Erased. Turn On/Off |   NOTICE  "});
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(Job().loaderState.load(), 2);
}

class RawReadBackSimTest : public MaintenanceTest {
 protected:
  // A connected handset whose raw read-back covers `length` bytes from `address`.
  void ConnectWithRawRange(uint32_t address, uint32_t length) {
    auto options = sim::TestOptions();
    options.rawAddress = address;
    options.rawLength = length;
    StartSim(options);
    Connect();
  }
  std::string RunExchange() {
    const size_t mark = con.Count();
    op->OnRawDump();
    op->WaitForJob();
    const auto boxes = MessagesSince(mark);
    return boxes.empty() ? std::string("<no box>") : boxes.back();
  }
};

TEST_F(RawReadBackSimTest, ChunksWithRunsAgreeWithTheHandset) {
  ConnectWithRawRange(0x300000, 0x4000);
  // Plain words, a stretch of equal bytes and erased flash (runs of 0xFF),
  // so that runs end chunks.
  Seed(FlashPart::Nand, 0x300000, 0x100);
  Sim().WriteNand(0x300100, std::vector<uint8_t>(0x400, 0x12));
  EXPECT_EQ(RunExchange(), "END | VANTREL Downloader");
  const auto ranges = con.Calls(CallType::ProgressRange);
  ASSERT_GE(ranges.size(), 1u);
  EXPECT_EQ(ranges[ranges.size() - 2].value2, 2);
  EXPECT_FALSE(rec.m_linkRecord.IsOpen());
}

TEST_F(RawReadBackSimTest, ShortReadBackFinishes) {
  ConnectWithRawRange(0x300000, 0x24);
  Seed(FlashPart::Nand, 0x300000, 0x10);
  EXPECT_EQ(RunExchange(), "END | VANTREL Downloader");
}

}  // namespace
}  // namespace vantrel::test
