// The operation buttons: START, DOWNLOAD with its checks and counter, the
// confirmed erases, the bootloader warning, Disconnect and Cancel.
#include <gtest/gtest.h>

#include <fstream>
#include <unistd.h>

#include <fcntl.h>

#include <map>
#include <thread>

#include "jobs/Connect.h"
#include "jobs/ControlIds.h"
#include "link/ComNames.h"
#include "link/Stop.h"
#include "maintenance/OperationControl.h"
#include "tests/jobs/JobsFixture.h"
#include "tests/support/ScriptedHandset.h"
#include "tests/support/ScratchConfig.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {
namespace {

constexpr const char* kCom = "COM7";
const std::string kCanceled = "  CANCELED\n\n  Turn Off the target phone!!!!!\n";

class MapSettings : public SettingsStore {
 public:
  int ReadInt(const std::string& s, const std::string& k, int def) override {
    auto it = ints.find(s + "/" + k);
    return it == ints.end() ? def : it->second;
  }
  std::string ReadString(const std::string&, const std::string&, const std::string& def) override { return def; }
  void WriteInt(const std::string& s, const std::string& k, int v) override { ints[s + "/" + k] = v; }
  void WriteString(const std::string&, const std::string&, const std::string&) override {}
  std::map<std::string, int> ints;
};

class OperationControlTest : public JobsFixture {
 protected:
  void SetUp() override {
    JobsFixture::SetUp();
    rec.m_nComPort = 6;
    rec.m_nBaudRate = 0;
    rec.m_nCommType = 0;
    folder_ = config_.Root();
  }
  void TearDown() override {
    control_.reset();
    SetComOverride(kCom, "");
    JobsFixture::TearDown();
  }

  OperationControl& Control() {
    if (!control_) control_ = std::make_unique<OperationControl>(rec, con, &settings_);
    return *control_;
  }
  JobState& Job() { return Control().Context().job; }

  // A file of `size` bytes (sparse) in the scratch folder.
  std::string File(const std::string& name, uint32_t size) {
    const std::string path = folder_ + "/" + name;
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(::ftruncate(fd, size), 0);
    ::close(fd);
    return path;
  }

  ScratchConfig config_;
  std::string folder_;
  MapSettings settings_;
  TraceCapture traces_;
  std::unique_ptr<OperationControl> control_;
};

TEST_F(OperationControlTest, StartWithoutCommTypeAsksForOne) {
  rec.m_nCommType = -1;
  Control().OnStart();
  EXPECT_FALSE(Control().JobRunning());
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Select a comm type by USB or by UART.\r\nTry again!!"});
  EXPECT_EQ(con.MessageBoxes()[0].ShownCaption(), kAppName);
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Disconnected"}));
}

TEST_F(OperationControlTest, StartOverUartConnectsAndEndsReady) {
  int starts = 0;
  ScriptedHandset h(kCom);
  h.SetBootBytes({0xA5});
  h.SetScript([&](uint8_t b, ScriptedHandset& hs) {
    if (b == 0xB9 && ++starts == 1) hs.Send({0xB9});
  });
  h.AnswerFlashTypeQueries(0xBA);
  h.Start();
  Control().OnStart();
  Control().WaitForJob();
  EXPECT_EQ(static_cast<int>(rec.m_nLinkMode), 201);
  EXPECT_EQ(rec.m_nConnectResult, 0) << con.Dump();
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Busy", "Ready"}));
  EXPECT_EQ(con.IndicatorText(ctl::kFlashIdBox), "ECBA");
  const std::string log = con.Log();
  EXPECT_EQ(log.rfind("\n  * Connecting to target phone\n     Try to open COM7\t>Success!!\n", 0), 0u);
  EXPECT_NE(log.find("\n     UART Download Mode\t> > > Available\n\n"), std::string::npos);
  EXPECT_EQ(Job().loaderState, kLoaderNand);
}

TEST_F(OperationControlTest, StartOverUsbSetsTheUsbLinkMode) {
  rec.m_nCommType = 1;
  int starts = 0;
  ScriptedHandset h(kCom);
  h.SetScript([&](uint8_t b, ScriptedHandset& hs) {
    if (b == 0xB9 && ++starts == 1) hs.Send({0xB9});
  });
  h.AnswerFlashTypeQueries(0x56);
  h.Start();
  Control().OnStart();
  Control().WaitForJob();
  EXPECT_EQ(static_cast<int>(rec.m_nLinkMode), 85);
  EXPECT_EQ(rec.m_nConnectResult, 0) << con.Dump();
  EXPECT_EQ(con.IndicatorText(ctl::kFlashIdBox), "NX6604A0 512");
  EXPECT_EQ(con.LastState(), "Ready");
}

TEST_F(OperationControlTest, AutoAllStartStopsAtTheFirstMissingFile) {
  rec.m_bAutoAllDownload = 1;
  rec.m_strImageFileName = File("a.img", 100);
  rec.m_strRscrFileName = folder_ + "/missing.rc1";
  Control().OnStart();
  EXPECT_FALSE(Control().JobRunning());
  EXPECT_EQ(con.MessageTexts(),
            (std::vector<std::string>{"NAND : Rscr1 file not existed", "Verify a path of Rscr file"}));
  auto ind = con.Calls(CallType::LinkIndicator);
  ASSERT_EQ(ind.size(), 1u);
  EXPECT_EQ(ind[0].text, "  Connect");
  EXPECT_EQ(ind[0].kind, 4);
  EXPECT_EQ(con.LastState(), "Disconnected");
}

TEST_F(OperationControlTest, DownloadRefusalsReturnToReadyWithoutCounting) {
  rec.m_nDownloadNum = 5;
  rec.m_nDownloadItem = -1;
  Control().OnDownload();
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Please select download item"});
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Ready"}));

  // A file that vanished after it was chosen.
  con.Clear();
  rec.m_nDownloadItem = 6;
  rec.m_strParamDepFileName = File("calset.img", 131071);
  ::unlink(rec.m_strParamDepFileName.c_str());
  Control().OnDownload();
  EXPECT_EQ(con.MessageTexts(),
            (std::vector<std::string>{"Check the file location", "Verify a path of W5K1_calset file"}));

  con.Clear();
  rec.m_strParamDepFileName = File("calset.img", 131072);
  Control().OnDownload();
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"File size error"});
  EXPECT_EQ(rec.m_nParamDepFileSize, 131072u);
  EXPECT_EQ(con.LastState(), "Ready");

  EXPECT_FALSE(Control().JobRunning());
  EXPECT_EQ(rec.m_nDownloadNum, 5);
  EXPECT_TRUE(settings_.ints.empty());
}

TEST_F(OperationControlTest, DownloadWithoutAPortStaysBusyAndCountsNothing) {
  rec.m_nComPort = -1;
  rec.m_nDownloadItem = 6;
  rec.m_strParamDepFileName = File("calset.img", 100);
  Control().OnDownload();
  EXPECT_EQ(con.States(), std::vector<std::string>{"Busy"});
  EXPECT_TRUE(con.MessageBoxes().empty());
  EXPECT_FALSE(Control().JobRunning());
  EXPECT_EQ(rec.m_nDownloadNum, 0);
}

TEST_F(OperationControlTest, AcceptedDownloadCountsAndStartsTheJob) {
  SetComOverride(kCom, "/nonexistent/tty");  // the job itself fails to open its link
  rec.m_nDownloadNum = 41;
  rec.m_dTotalElapsed = 12.5;
  rec.m_nDownloadItem = 6;
  rec.m_strParamDepFileName = File("calset.img", 131071);
  // One record filling the file: DOWNLOAD sends only files that parse.
  const uint8_t header[8] = {0, 0, 0, 0, 0xF7, 0xFF, 0x01, 0};  // length 131063
  std::fstream(rec.m_strParamDepFileName, std::ios::binary | std::ios::in | std::ios::out)
      .write(reinterpret_cast<const char*>(header), sizeof header);
  Control().OnDownload();
  Control().WaitForJob();
  EXPECT_EQ(rec.m_nDownloadNum, 42);
  EXPECT_EQ(settings_.ints["FennikDL/m_nDownloadNum"], 42);
  EXPECT_EQ(con.ControlText(ctl::kDownloadCounter), "42");
  EXPECT_EQ(Job().operation, kOpCalset);
  EXPECT_EQ(Control().Context().session.Selection().calibration, 1);
  EXPECT_EQ(Job().expectedTicks, 1);
  EXPECT_LT(rec.m_dTotalElapsed, 12.5);  // cleared by the press
  // The record was exchanged with the controls before the job started.
  auto calls = con.Calls();
  size_t exchange = 0, job = 0;
  for (size_t i = 0; i < calls.size(); ++i) {
    if (calls[i].type == CallType::RecordToControls && exchange == 0) exchange = i;
    if (calls[i].type == CallType::Log && calls[i].text == "\n  * NAND : Calset Download" && job == 0) job = i;
  }
  EXPECT_GT(exchange, 0u);
  EXPECT_GT(job, exchange) << con.Dump();
}

TEST_F(OperationControlTest, ManualDownloadConfirmsTheRoundedAddress) {
  SetComOverride(kCom, "/nonexistent/tty");
  rec.m_nDownloadItem = 10;
  rec.m_nStartAddress = 0x123456;
  rec.m_strManualNandImage = File("manual.bin", 0x1000);
  Control().OnDownload();
  Control().WaitForJob();
  ASSERT_FALSE(con.MessageBoxes().empty());
  EXPECT_EQ(con.MessageTexts()[0], "Start Address check OK!!\r\nCheck start block Address : 0x120000");
  EXPECT_EQ(rec.m_nStartAddress, 0x120000u);
  EXPECT_EQ(Job().operation, kOpNandManual);
}

TEST_F(OperationControlTest, ErasesAskEveryTime) {
  Job().operation = kOpAllChain;  // left from an All Download: still asks
  con.QueueConfirm(false);
  Control().OnNandEraseAll();
  auto confirms = con.Calls(CallType::Confirm);
  ASSERT_EQ(confirms.size(), 1u);
  EXPECT_EQ(confirms[0].text, "WARNING!!!!!!!!");
  EXPECT_EQ(confirms[0].lines, (std::vector<std::string>{"All NAND flash data are erased.", "Are you sure?"}));
  EXPECT_EQ(con.States(), std::vector<std::string>{"Ready"});
  EXPECT_FALSE(Control().JobRunning());
  EXPECT_EQ(Job().operation, kOpAllChain);

  SetComOverride(kCom, "/nonexistent/tty");
  con.Clear();
  Control().OnEraseBootloader();  // confirmed by default
  Control().WaitForJob();
  EXPECT_EQ(con.Calls(CallType::Confirm).size(), 1u);
  EXPECT_EQ(Job().operation, kOpBootAreaErase);
  EXPECT_EQ(con.States().front(), "Busy");
}

TEST_F(OperationControlTest, BootloaderWarningAndUartOnly) {
  con.QueueConfirm(false);
  Control().OnBootloaderDownload();
  EXPECT_EQ(con.Calls(CallType::Confirm).size(), 1u);
  EXPECT_EQ(con.Calls(CallType::Confirm)[0].text, "Warning!!!!!!!!!!!!!!!!!!!");
  EXPECT_TRUE(con.States().empty());

  con.Clear();
  rec.m_nCommType = 1;
  Control().OnBootloaderDownload();
  EXPECT_EQ(con.MessageTexts(), std::vector<std::string>{"Only uart mode available!!!!"});
  EXPECT_TRUE(con.States().empty());
  EXPECT_FALSE(Control().JobRunning());
}

TEST_F(OperationControlTest, DisconnectOverUsbClosesTheBootLinkAndWaits) {
  rec.m_nLinkMode = LinkMode::Usb;
  rec.m_bConnected = 1;
  Job().loaderState = kLoaderNand;
  Control().OnDisconnect();
  Control().WaitForJob();
  EXPECT_EQ(con.ControlText(ctl::kNorIdBox), "Disconnected");
  EXPECT_EQ(con.ControlText(ctl::kHiddenBox1117), "Disconnected");
  EXPECT_EQ(Job().loaderState, kLoaderNone);
  EXPECT_EQ(rec.m_bConnected, 0);
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(PausesTagged("Disconnect"), std::vector<unsigned>{1000});
}

TEST_F(OperationControlTest, CancelStopsTheJobAndStartWorksAgain) {
  timing::SetPollScale(1.0);  // a real 6 s wait for the BOOT byte
  ScriptedHandset silent(kCom);
  silent.Start();
  Control().OnStart();
  ASSERT_TRUE(con.WaitForLog("Listen for the BOOT signal"));
  ASSERT_TRUE(Control().JobRunning());
  Job().loaderState = kLoaderNand;

  Control().OnCancel();
  const size_t mark = con.Count();
  const auto entries = con.LogEntries();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(entries[entries.size() - 3], (std::pair<int, std::string>{4, kCanceled}));
  EXPECT_EQ(entries[entries.size() - 2], (std::pair<int, std::string>{4, kCanceled}));
  EXPECT_EQ(entries.back(), (std::pair<int, std::string>{5, " "}));
  EXPECT_EQ(con.ProgressPos(), 0);
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(Job().loaderState, kLoaderNone);
  EXPECT_EQ(rec.m_bConnected, 0);

  Control().WaitForJob();  // the stopped job unwinds quickly and says nothing more
  EXPECT_EQ(con.Count(), mark) << con.Dump();
  EXPECT_FALSE(rec.m_linkRecord.IsOpen());

  // START works again.
  timing::SetPollScale(kFastPollScale);
  Control().OnStart();
  Control().WaitForJob();
  EXPECT_FALSE(stop::Requested());
  EXPECT_EQ(rec.m_nConnectResult, 1);
  EXPECT_NE(con.LogSince(mark).find("Success!!\n"), std::string::npos);
  EXPECT_EQ(con.MessageTexts().back(), "Timeout : No Response at the target phone");
}

TEST_F(OperationControlTest, PressesThatCannotActWhileAJobEndsSaySoAndTouchNothing) {
  // A job still running while its console looks ready (as a chain or a
  // failed connect leaves it for a moment).
  timing::SetPollScale(1.0);
  ScriptedHandset silent(kCom);
  silent.Start();
  Control().OnStart();
  ASSERT_TRUE(con.WaitForLog("Listen for the BOOT signal"));
  const size_t mark = con.Count();
  Control().OnNandEraseAll();
  Control().OnEraseBootloader();
  Control().OnBootloaderDownload();
  Control().OnDownload();
  Control().OnSelectionCheckBox(ctl::kChkCalset);  // the record stays as the job read it
  Control().OnRawDump();                            // never two jobs on one port
  EXPECT_TRUE(Control().JobRunning());
  const std::vector<ConsoleCall> all = con.Calls();
  const std::vector<ConsoleCall> said(all.begin() + static_cast<long>(mark), all.end());
  ASSERT_EQ(said.size(), 6u) << con.Dump();
  for (const ConsoleCall& call : said) {
    EXPECT_EQ(call.type, CallType::Log);
    EXPECT_EQ(call.text, "\n  The last operation is still finishing. Try again in a moment.\n");
  }
  Control().OnCancel();
  Control().WaitForJob();
}

TEST_F(OperationControlTest, ReconnectsAndTheUsbDisconnectPauseRunOnTheJobThread) {
  // Taken on the window's thread they would freeze it: no repaint, no Cancel.
  std::vector<std::string> onCaller;
  const auto caller = std::this_thread::get_id();
  timing::ObservePauses([&](const timing::PauseEvent& e) {
    if (std::this_thread::get_id() == caller) onCaller.push_back(e.tag);
  });
  ScriptedHandset h(kCom);
  h.Start();
  for (auto press : {&OperationControl::OnPzlFormat, &OperationControl::OnVlfFormat, &OperationControl::OnCheckBadBlock}) {
    Job().loaderState = kLoaderNor;
    (Control().*press)();
    Control().WaitForJob();
  }
  Job().loaderState = kLoaderNand;
  Control().OnNorAllSectorsErase();
  Control().WaitForJob();
  rec.m_nLinkMode = LinkMode::Usb;
  Control().OnDisconnect();
  Control().WaitForJob();
  timing::ObservePauses(nullptr);
  EXPECT_EQ(PausesTagged("Reconnect").size(), 4u) << con.Dump();
  EXPECT_EQ(PausesTagged("Disconnect").size(), 1u);
  EXPECT_TRUE(onCaller.empty()) << onCaller.front();
}

TEST_F(OperationControlTest, ClosingTheWindowDuringAJobEndsCleanly) {
  timing::SetPollScale(1.0);
  ScriptedHandset silent(kCom);
  silent.Start();
  Control().OnStart();
  ASSERT_TRUE(con.WaitForLog("Listen for the BOOT signal"));
  control_.reset();  // stops and joins
  const size_t mark = con.Count();
  EXPECT_EQ(con.Count(), mark);
  EXPECT_FALSE(rec.m_linkRecord.IsOpen());
}

TEST_F(OperationControlTest, SelectionCheckBoxesSetTheRecordSelection) {
  rec.m_bResource1164 = 1;
  rec.m_bBoot2 = 0;
  Control().OnSelectionCheckBox(ctl::kChkErRo);
  Control().OnSelectionCheckBox(ctl::kChkParam);
  Control().OnSelectionCheckBox(ctl::kChkResource1164);
  Control().OnSelectionCheckBox(ctl::kChkBoot2);
  EXPECT_EQ(Control().Context().session.Selection().head, 1);
  EXPECT_EQ(Control().Context().session.Selection().middle, 1);
  EXPECT_EQ(Control().Context().session.Selection().resource1, 1);
  EXPECT_EQ(Control().Context().session.Selection().rest, 0);
  EXPECT_EQ(con.Calls(CallType::ControlsToRecord).size(), 4u);
}

TEST_F(OperationControlTest, CheckBadBlockReconnectsOnlyFromTheNorLoader) {
  Control().OnCheckBadBlock();
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Ready"}));
  con.Clear();
  rec.m_nLinkMode = LinkMode::Usb;
  Job().loaderState = kLoaderNor;
  Control().OnCheckBadBlock();
  Control().WaitForJob();
  EXPECT_EQ(Job().loaderState, kLoaderNone);
  EXPECT_EQ(con.States(), (std::vector<std::string>{"Busy", "Ready"}));
}

}  // namespace
}  // namespace vantrel::test
