#include "tests/robustness/FaultMatrix.h"

#include <sys/stat.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "jobs/Connect.h"
#include "jobs/DownloadChecks.h"
#include "jobs/Jobs.h"
#include "link/ComLink.h"
#include "link/ComNames.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "protocol/ImageSession.h"

namespace vantrel::test {

void FaultMatrix::SetUp() {
  SimTest::SetUp();
  // Fixed pauses cost no time: each one lasts until the handset has done
  // what it gives it time for (link/SimulatedLine.h). Idle budgets
  // run out ten times faster than on a real line, and count only while the
  // handset waits for the host: a silent case stays quick, and a handset
  // whose thread waits for a core never loses to one.
  timing::SetPauseScale(0.0);
  timing::SetPollScale(0.1);
  traces_ = std::make_unique<TraceCapture>();
  stop::Clear();
  rec.m_nComPort = kCom7;
  rec.m_nBaudRate = kRate921K;
  rec.m_nCommType = 0;
  rec.m_strToday = "20240315";
  control = std::make_unique<OperationControl>(rec, con, nullptr);
  dir = Config().Root() + "/files";
  ::mkdir(dir.c_str(), 0700);
}

void FaultMatrix::TearDown() {
  if (control && control->JobRunning()) control->OnCancel();
  control.reset();
  CloseLink(rec.m_pLink);
  if (rec.m_linkRecord.IsOpen()) ClosePort(rec.m_linkRecord);
  stop::Clear();
  traces_.reset();
  SimTest::TearDown();
}

sim::Simulator& FaultMatrix::StartHandset(sim::Options options) { return StartSim(std::move(options)); }

void FaultMatrix::AddFault(const std::string& text) {
  sim::Fault f;
  std::string error;
  ASSERT_TRUE(sim::Fault::Parse(text, &f, &error)) << error;
  Sim().AddFault(f);
}

void FaultMatrix::Press(const std::function<void(OperationControl&)>& handler, double budgetSeconds) {
  handler(*control);
  const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(budgetSeconds);
  while (control->JobRunning() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  if (control->JobRunning()) {
    ADD_FAILURE() << "the job still runs after " << budgetSeconds << " s:\n" << con.Dump();
    control->OnCancel();
  }
  control->WaitForJob();
}

std::string FaultMatrix::TranscriptTail() {
  const std::vector<std::string> lines = Sim().Transcript();
  std::string out = "simulator transcript (end):\n";
  for (size_t i = lines.size() > 40 ? lines.size() - 40 : 0; i < lines.size(); ++i) {
    if (lines[i].find("host> ") != std::string::npos && lines[i].find("block") != std::string::npos) continue;
    out += lines[i] + "\n";
  }
  return out;
}

void FaultMatrix::Connect() {
  const size_t mark = con.Count();
  Press([](OperationControl& c) { c.OnStart(); });
  ASSERT_EQ(rec.m_nConnectResult, 0) << con.Dump() << TranscriptTail();
  ASSERT_EQ(Job().loaderState.load(), kLoaderNand) << con.Dump();
  ASSERT_EQ(con.LastState(), "Ready");
  ASSERT_NE(con.LogSince(mark).find("Available"), std::string::npos) << con.Dump();
}

void FaultMatrix::SwitchOff() {
  Sim().PowerOff();
  // The switch is the simulator's to act on; a START must not come first.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (Sim().StateName() != "off" && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(Sim().StateName(), "off");
}

void FaultMatrix::ExpectStartWorksAgain() {
  ASSERT_TRUE(StartPossible()) << "the console ended " << con.LastState() << "\n" << con.Dump();
  EXPECT_FALSE(control->JobRunning());
  EXPECT_FALSE(rec.m_pLink) << "the failed job left its link open";
  Sim().ClearFaults();
  TakeViolations();  // what the fault provoked; the new connection must be clean
  SwitchOff();
  // After a hang-up the handset's port comes back a moment later (the cable
  // is plugged in again); the operator presses START once it is there.
  // (Until then the old device number may already belong to someone else.)
  if (Sim().WaitForTranscript("line hung up", 0)) {
    EXPECT_TRUE(Sim().WaitForTranscript("line back on a new port", 5000));
    EXPECT_EQ(ComDevicePath("COM7"), Sim().DevicePath());
  }
  con.Clear();
  Connect();
}

std::string FaultMatrix::WriteRecordFile(const std::string& name, const std::vector<Rec>& records) {
  return WriteFile(name, RecordFileBytes(records));
}

std::string FaultMatrix::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(out.good()) << path;
  return path;
}

std::vector<uint8_t> FaultMatrix::ReadFile(const std::string& path) const {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void FaultMatrix::PressDownloadImgset(const std::string& path) {
  rec.m_nDownloadItem = kItemImgset;
  rec.m_strImageFileName = path;
  Press([](OperationControl& c) { c.OnDownload(); });
}

std::string FaultMatrix::MessagesJoined() const {
  std::string out;
  for (const auto& m : con.MessageTexts()) out += "[" + m + "]";
  return out;
}

bool FaultMatrix::StartPossible() const {
  const std::string s = con.LastState();
  return s == "Ready" || s == "Disconnected";
}

::testing::AssertionResult FaultMatrix::NandHolds(uint32_t address, const std::vector<uint8_t>& bytes) {
  const std::vector<uint8_t> got = Sim().ReadNand(address, static_cast<uint32_t>(bytes.size()));
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (got[i] != bytes[i]) {
      return ::testing::AssertionFailure() << "NAND differs at 0x" << std::hex << address + i;
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace vantrel::test
