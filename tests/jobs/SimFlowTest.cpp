// Operations from the buttons to the handset simulator and back: START,
// DOWNLOAD, the erases, the bootloader download, the All Download chain,
// a handset that falls silent, and Cancel in the middle of a download.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <fstream>
#include <thread>

#include "jobs/Connect.h"
#include "jobs/ControlIds.h"
#include "jobs/Jobs.h"
#include "link/Stop.h"
#include "maintenance/OperationControl.h"
#include "payloads/Payloads.h"
#include "protocol/ImageSession.h"
#include "tests/support/RecordingConsole.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/WriteWatch.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

struct Record {
  uint32_t address;
  std::vector<uint8_t> data;
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return v;
}

void PutWord(std::ofstream& f, uint32_t w) {
  const char b[4] = {static_cast<char>(w), static_cast<char>(w >> 8), static_cast<char>(w >> 16),
                     static_cast<char>(w >> 24)};
  f.write(b, 4);
}

// Polls `pred` until it holds or `ms` of real time passed (the simulator
// works on its own thread and may still be taking the host's last bytes).
template <class F>
bool Eventually(F pred, int ms = 3000) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

size_t CountContaining(const std::vector<std::string>& lines, const std::string& piece) {
  size_t n = 0;
  for (const auto& l : lines)
    if (l.find(piece) != std::string::npos) ++n;
  return n;
}

class SimFlowTest : public sim::SimTest {
 protected:
  void SetUp() override {
    sim::SimTest::SetUp();
    rec.m_nComPort = 6;  // COM7
    rec.m_nCommType = 0;
    rec.m_nBaudRate = 2;  // 921K
  }
  void TearDown() override {
    control.WaitForJob();
    sim::SimTest::TearDown();
  }

  std::string Path(const std::string& name) { return Config().Root() + "/" + name; }
  JobState& Job() { return control.Context().job; }

  std::string RecordFile(const std::string& name, const std::vector<Record>& records) {
    const std::string path = Path(name);
    std::ofstream f(path, std::ios::binary);
    for (const auto& r : records) {
      PutWord(f, r.address);
      PutWord(f, static_cast<uint32_t>(r.data.size()));
      f.write(reinterpret_cast<const char*>(r.data.data()), static_cast<std::streamsize>(r.data.size()));
    }
    return path;
  }

  std::string PlainFile(const std::string& name, const std::vector<uint8_t>& data) {
    const std::string path = Path(name);
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return path;
  }

  void Connect() {
    const size_t mark = con.Count();
    control.OnStart();
    control.WaitForJob();
    ASSERT_EQ(rec.m_nConnectResult, 0) << con.Dump();
    ASSERT_EQ(con.LastState(), "Ready");
    ASSERT_NE(con.LogSince(mark).find("Available\n\n"), std::string::npos);
  }

  void Download(int item) {
    rec.m_nDownloadItem = item;
    control.OnDownload();
    control.WaitForJob();
  }

  void ExpectFlash(const Record& r) {
    EXPECT_EQ(Sim().ReadNand(r.address, static_cast<uint32_t>(r.data.size())), r.data)
        << "at 0x" << std::hex << r.address;
  }

  bool Erased(uint32_t address, uint32_t length) {
    const auto v = Sim().ReadNand(address, length);
    return std::all_of(v.begin(), v.end(), [](uint8_t b) { return b == 0xFF; });
  }

  RecordingConsole con;
  OperationRecord rec;
  OperationControl control{rec, con, nullptr};
  TraceCapture traces;
};

TEST_F(SimFlowTest, StartThenImgsetAt921KThenEraseBootloaderAndNorEraseAfterReconnect) {
  StartSim();
  Connect();
  EXPECT_EQ(con.IndicatorText(ctl::kFlashIdBox), "ECB1");

  const std::vector<Record> recs = {{0x4A0000, Pattern(0x20005, 1)},
                                    {0x600000, Pattern(300, 2)},
                                    {0x700000, Pattern(0x1000, 3)},
                                    {0x800000, Pattern(64, 4)}};  // beyond the image set's three records
  rec.m_strImageFileName = RecordFile("a.img", recs);
  size_t mark = con.Count();
  Download(5);
  EXPECT_NE(con.LogSince(mark).find("\n      Download  Completed"), std::string::npos) << con.Dump();
  EXPECT_EQ(con.MessageTexts().back(), "Download Finished");
  EXPECT_EQ(con.MessageBoxes().back().caption, "  NOTICE  ");
  EXPECT_EQ(con.LastState(), "Ready");
  for (int i = 0; i < 3; ++i) ExpectFlash(recs[i]);
  EXPECT_TRUE(Erased(0x800000, 64));
  EXPECT_EQ(Sim().LastDownloadDate().size(), 8u);
  // Returned to the base rate before the link closed.
  EXPECT_TRUE(Eventually([&] { return Sim().HandsetRate() == 115200u; }));
  EXPECT_EQ(rec.m_nDownloadNum, 1);
  EXPECT_EQ(Job().progressTicks, 4);  // two blocks of the first record, one of each other

  // A second operation at 921K: the boot area erase.
  Sim().WriteNand(0x40000, Pattern(16, 9));
  mark = con.Count();
  control.OnEraseBootloader();
  control.WaitForJob();
  EXPECT_EQ(con.LastState(), "Ready") << con.Dump();
  EXPECT_TRUE(Eventually([&] { return Erased(0x40000, 16) && Sim().HandsetRate() == 115200u; }));

  // NOR work after a NAND job: the reconnect is heard at the base rate.
  EXPECT_EQ(Job().loaderState, kLoaderNand);
  mark = con.Count();
  control.OnNorAllSectorsErase();
  control.WaitForJob();
  EXPECT_NE(con.LogSince(mark).find("    Now Reconnecting\t\t\t> > > OK"), std::string::npos) << con.Dump();
  EXPECT_GE(CountContaining(Sim().Transcript(), "reconnect"), 1u);
  EXPECT_EQ(Job().loaderState, kLoaderNor) << con.Dump();
}

TEST_F(SimFlowTest, StartOverUsbAndDownloadCalset) {
  sim::Options o = sim::TestOptions();
  o.usb = true;
  // A USB port appears only while the handset is on.
  o.autoPowerOn = false;
  StartSim(o);
  Sim().PowerOn();
  rec.m_nCommType = 1;
  Connect();
  EXPECT_EQ(static_cast<int>(rec.m_nLinkMode), 85);
  const std::vector<Record> recs = {{0x240000, Pattern(0x1000, 5)}, {0x260000, Pattern(0x100, 6)}};
  rec.m_strParamDepFileName = RecordFile("c.img", recs);
  Download(6);
  EXPECT_EQ(con.MessageTexts().back(), "Download Finished") << con.Dump();
  ExpectFlash(recs[0]);
  EXPECT_TRUE(Erased(0x260000, 0x100));  // a calset gives its first record only
}

TEST_F(SimFlowTest, CancelInTheMiddleOfADownloadThenStartAgain) {
  sim::Options o = sim::TestOptions();
  o.blockSize = 0x10000;  // small blocks: the UART session paces each one
  StartSim(o);
  Connect();
  WriteWatch watch;
  timing::SetPauseScale(0.05);  // about 60 ms per block
  rec.m_strRscrFileName = RecordFile("r.rc1", {{0x2000000, Pattern(0x400000, 7)}});  // 64 blocks
  rec.m_nDownloadItem = 0;
  control.OnDownload();
  ASSERT_TRUE(con.WaitFor([this](const std::vector<ConsoleCall>&) { return Job().progressTicks.load() >= 2; },
                          std::chrono::seconds(60)))
      << con.Dump();
  EXPECT_EQ(con.Enabled(ctl::kCancel), true);
  EXPECT_EQ(con.EnableCount(ctl::kCancel, true), 1);  // once, not once per 1024 bytes

  control.OnCancel();
  watch.Arm();
  const size_t mark = con.Count();
  const std::string log = con.Log();
  const std::string canceled = "  CANCELED\n\n  Turn Off the target phone!!!!!\n";
  ASSERT_GE(log.size(), 2 * canceled.size());
  EXPECT_EQ(log.substr(log.size() - 2 * canceled.size()), canceled + canceled);
  EXPECT_EQ(con.LastState(), "Disconnected");
  control.WaitForJob();
  EXPECT_EQ(con.Count(), mark) << con.Dump();
  EXPECT_EQ(watch.WritesSinceArmed(), 0);  // nothing went to the handset after Cancel returned
  EXPECT_FALSE(rec.m_pLink);
  EXPECT_LT(Job().progressTicks, 64);
  EXPECT_TRUE(Erased(0x2000000 + 0x3F0000, 0x10000));  // the last block never came

  // The operator switches the handset off and starts again; the handset
  // comes on when the port opens.
  watch.Disarm();
  timing::SetPauseScale(0.0);
  Sim().PowerOff();
  ASSERT_TRUE(Eventually([&] { return Sim().StateName() == "off"; }));
  Connect();
  rec.m_strRscrFileName = RecordFile("r2.rc1", {{0x2000000, Pattern(0x800, 8)}});
  Download(0);
  EXPECT_EQ(con.MessageTexts().back(), "Download Finished") << con.Dump();
  ExpectFlash({0x2000000, Pattern(0x800, 8)});
}

TEST_F(SimFlowTest, SilentHandsetInMidTransferFailsTheJob) {
  StartSim();
  rec.m_nBaudRate = 0;
  Connect();
  sim::Fault f;
  f.kind = sim::Fault::Kind::Silence;
  f.event = "block-request";
  f.occurrence = 2;
  Sim().AddFault(f);
  rec.m_strRscr2FileName = RecordFile("r.rc2", {{0x4600000, Pattern(0x40000, 3)}});
  const size_t mark = con.Count();
  Download(2);
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find(" Not response at the target phone\n"), std::string::npos) << log;
  EXPECT_NE(log.find("\n      Download  Failed"), std::string::npos) << log;
  EXPECT_NE(con.MessageTexts().back().find("Error flashing image set : "), std::string::npos);
  EXPECT_EQ(rec.m_nDownloadNum, 1);
  EXPECT_EQ(Job().progressTicks, 1);
  TakeViolations();
}

TEST_F(SimFlowTest, PushErasesTheWholeNand) {
  StartSim();
  Connect();
  Sim().WriteNand(0x3000000, Pattern(32, 1));
  control.OnNandEraseAll();
  control.WaitForJob();
  EXPECT_EQ(con.Calls(CallType::Confirm).size(), 1u);
  EXPECT_EQ(con.LastState(), "Ready") << con.Dump();
  EXPECT_TRUE(Erased(0x3000000, 32));
}

TEST_F(SimFlowTest, AllDownloadWritesEveryImage) {
  StartSim();
  Connect();
  const Record img1{0x4A0000, Pattern(0x300, 1)}, img2{0x500000, Pattern(0x200, 2)}, img3{0x520000, Pattern(8, 3)};
  const Record cal{0x240000, Pattern(0x100, 4)};
  const Record rc1{0x2000000, Pattern(0x21000, 5)};
  const Record rc2{0x4600000, Pattern(0x400, 6)};
  rec.m_strImageFileName = RecordFile("a.img", {img1, img2, img3});
  rec.m_strParamDepFileName = RecordFile("a_calset.img", {cal});
  rec.m_strRscrFileName = RecordFile("a.rc1", {rc1});
  rec.m_strRscr2FileName = RecordFile("a.rc2", {rc2});
  const auto vlf = Pattern(0x30000, 7);
  rec.m_strFactoryFSFileName = PlainFile("a.vlf", vlf);
  rec.m_strOgmPath = rec.m_strFactoryFSFileName;
  rec.m_bFsChosen = 1;
  rec.m_bCalset = 1;
  Sim().WriteNand(0x7000000, Pattern(16, 8));  // erased by the chain first
  Download(7);
  EXPECT_EQ(con.MessageTexts().back(), "All Download Finished") << con.Dump();
  for (const auto& r : {img1, img2, img3, cal, rc1, rc2}) ExpectFlash(r);
  EXPECT_EQ(Sim().ReadNand(0x5000000, static_cast<uint32_t>(vlf.size())), vlf);
  EXPECT_TRUE(Erased(0x7000000, 16));
  EXPECT_NE(con.Log().find("\n  * TOTAL Elapsed Time : "), std::string::npos);
  // No job of the chain showed its own notice.
  const auto texts = con.MessageTexts();
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "Download Finished"), 0);
  EXPECT_EQ(con.Font(ctl::kImgsetButton), ItemFont::Done);  // a finished region stays marked
}

TEST_F(SimFlowTest, AutoAllStartWritesNorThenNand) {
  StartSim();
  rec.m_nBaudRate = 1;  // 460K
  rec.m_bAutoAllDownload = 1;
  rec.m_bCalsetDefault = 1;
  rec.m_nDownloadItem = 5;
  const Record nor1{0x4A0000, Pattern(0x20010, 1)}, nor2{0x600000, Pattern(0x300, 2)};
  const Record norCal{0x240000, Pattern(0x80, 3)};
  const Record rc1{0x2000000, Pattern(0x1000, 4)}, rc2{0x4600000, Pattern(0x800, 5)};
  rec.m_strImageFileName = RecordFile("a.img", {nor1, nor2});
  rec.m_strParamDepFileName = RecordFile("a_calset.img", {norCal});
  rec.m_strRscrFileName = RecordFile("a.rc1", {rc1});
  rec.m_strRscr2FileName = RecordFile("a.rc2", {rc2});
  const auto vlf = Pattern(0x20000, 6);
  rec.m_strFactoryFSFileName = PlainFile("a.vlf", vlf);

  control.OnStart();
  control.WaitForJob();
  EXPECT_EQ(rec.m_nConnectResult, 0);
  EXPECT_EQ(con.MessageTexts().back(), "All Download Finished") << con.Dump();
  for (const auto& r : {nor1, nor2, norCal})
    EXPECT_EQ(Sim().ReadNor(r.address, static_cast<uint32_t>(r.data.size())), r.data) << std::hex << r.address;
  ExpectFlash(rc1);
  ExpectFlash(rc2);
  EXPECT_EQ(Sim().ReadNand(0x5000000, static_cast<uint32_t>(vlf.size())), vlf);
  // The expected count is taken from the file sizes: the image set's 0x20328
  // bytes count two NOR blocks, the calset, Rsrc1, Rsrc2 and VLF one each; the
  // run itself reports seven blocks, and the percentage stops at 100.
  EXPECT_EQ(Job().expectedTicks, 2 + 1 + 1 + 1 + 1);
  EXPECT_EQ(Job().progressTicks, 7);
  EXPECT_EQ(con.ControlText(ctl::kStatusCaption), "100");
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

TEST_F(SimFlowTest, NorManualDownloadThroughItem9) {
  StartSim();
  Connect();
  const auto data = Pattern(0x9000, 9);
  rec.m_strManualImage = PlainFile("nor.bin", data);
  rec.m_nStartAddress = 0x1FC0000;
  Download(9);
  // The NAND loader that START left gives way before the NOR loader goes up.
  const std::string log = con.Log();
  EXPECT_LT(log.find("    Now Reconnecting\t\t\t> > > OK"), log.find("\n  * NOR Flash Driver Download")) << log;
  EXPECT_EQ(con.MessageTexts().front(), "Start Address check OK!!\r\nCheck start block Address : 0x1fc0000");
  EXPECT_EQ(con.MessageTexts().back(), "Download Finished") << con.Dump();
  EXPECT_EQ(Sim().ReadNor(0x1FC0000, static_cast<uint32_t>(data.size())), data);
  EXPECT_EQ(Job().expectedTicks, 1);
  EXPECT_EQ(Job().loaderState, kLoaderNor);
}

TEST_F(SimFlowTest, HiddenVlfFormatReconnectsFromTheNorLoader) {
  StartSim();
  Connect();
  rec.m_strManualImage = PlainFile("nor.bin", Pattern(0x100, 1));
  rec.m_nStartAddress = 0x100000;
  Download(9);  // leaves the NOR loader running
  ASSERT_EQ(Job().loaderState, kLoaderNor);
  Sim().WriteNand(0x5000000, Pattern(64, 2));
  const size_t mark = con.Count();
  control.OnVlfFormat();
  control.WaitForJob();
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find("\n   * Reconnecting (Flash Driver Change)"), std::string::npos) << con.Dump();
  EXPECT_NE(log.find("\n  * VLF Format"), std::string::npos);
  EXPECT_EQ(con.MessageTexts().back(), "VLF All Erased. Turn On/Off");
  EXPECT_TRUE(Eventually([&] { return Erased(0x5000000, 64); }));
  EXPECT_EQ(Job().loaderState, kLoaderNand);
}

TEST_F(SimFlowTest, BootloaderDownloadEndsWithBoot2) {
  // The boot stages upload without a handshake: the handset must be on and
  // in its boot ROM before the first byte goes out. Each stage's boot image
  // session leaves it there for the next stage.
  sim::Options o = sim::TestOptions();
  o.autoPowerOn = false;
  StartSim(o);
  Sim().PowerOn();
  control.OnBootloaderDownload();
  control.WaitForJob();
  std::string transcript;
  for (const auto& l : Sim().Transcript()) transcript += l + "\n";
  EXPECT_EQ(con.MessageTexts().back(), "Download Finished") << con.Dump() << transcript;
  EXPECT_EQ(rec.m_strManualNandImage, "boot2");
  EXPECT_EQ(static_cast<int>(rec.m_nLinkMode), 201);
  EXPECT_EQ(Job().loaderState, kLoaderNone);
  EXPECT_EQ(con.LastState(), "Disconnected");
  const Payload& boot2 = Boot2Image();
  EXPECT_EQ(Sim().ReadNand(0x20000, boot2.size), std::vector<uint8_t>(boot2.data, boot2.data + boot2.size));
  EXPECT_EQ(Sim().Uploads().size(), 3u * 3 + 3);  // three passes through the boot ROM, then the NAND loader
}

}  // namespace
}  // namespace vantrel::test
