#include "tests/flashjobs/FlashJobsFixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "jobs/Jobs.h"
#include "link/ComLink.h"
#include "link/Stop.h"
#include "link/Timing.h"

namespace vantrel::test {

ImageRecord MakeRecord(uint32_t address, size_t length, uint32_t seed) {
  return ImageRecord{address, PatternBytes(length, seed)};
}

void FlashJobsTest::SetUp() {
  SimTest::SetUp();
  // No real time for pauses: the pause after a set-rate command ends once the
  // loader has taken the command and switched (link/SimulatedLine.h).
  timing::SetPauseScale(0.0);
  traces_ = std::make_unique<TraceCapture>();
  stop::Clear();
  rec.m_nComPort = 6;  // COM7
  rec.m_nBaudRate = kBaud921K;
  rec.m_nCommType = 0;
  rec.m_nLinkMode = LinkMode::Uart;
  rec.m_strToday = kTestToday;
  imageDir = Config().Root() + "/images";
  ::mkdir(imageDir.c_str(), 0700);
}

void FlashJobsTest::TearDown() {
  CloseLink(rec.m_pLink);
  if (rec.m_linkRecord.IsOpen()) ClosePort(rec.m_linkRecord);
  traces_.reset();
  SimTest::TearDown();
}

sim::Simulator& FlashJobsTest::StartHandset(bool usb, sim::Options options) {
  options.usb = usb;
  // A handset on USB is switched on before its port appears, and the host
  // sends its start signal right after the open: nothing waits for a BOOT byte.
  if (usb) options.autoPowerOn = false;
  rec.m_nCommType = usb ? 1 : 0;
  rec.m_nLinkMode = usb ? LinkMode::Usb : LinkMode::Uart;
  sim::Simulator& s = StartSim(std::move(options));
  if (usb) s.PowerOn();
  return s;
}

void FlashJobsTest::Connect() {
  ASSERT_EQ(ConnectTarget(ctx), ConnectResult::Ok) << con.Dump();
  ASSERT_EQ(ctx.job.loaderState.load(), kLoaderNand);
  con.Clear();
}

std::string FlashJobsTest::WriteRecordFile(const std::string& name, const std::vector<ImageRecord>& records) {
  return WriteFile(name, RecordFileBytes(records));
}

std::string FlashJobsTest::WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) {
  const std::string path = imageDir + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  EXPECT_NE(f, nullptr) << path;
  if (f) {
    if (!bytes.empty()) {
      EXPECT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    }
    std::fclose(f);
  }
  return path;
}

::testing::AssertionResult FlashJobsTest::LogHasInOrder(const std::vector<LogEntry>& expected) const {
  const auto entries = con.LogEntries();
  size_t at = 0;
  for (const LogEntry& want : expected) {
    while (at < entries.size() && entries[at] != want) ++at;
    if (at == entries.size()) {
      return ::testing::AssertionFailure() << "log lacks (in order) kind " << want.first << " \"" << want.second
                                           << "\"\nlog:\n"
                                           << con.Dump();
    }
    ++at;
  }
  return ::testing::AssertionSuccess();
}

std::vector<std::pair<std::string, std::string>> FlashJobsTest::Boxes() const {
  std::vector<std::pair<std::string, std::string>> out;
  for (const ConsoleCall& c : con.MessageBoxes()) out.emplace_back(c.text, c.ShownCaption());
  return out;
}

int FlashJobsTest::CountLogStartingWith(const std::string& prefix) const {
  int n = 0;
  for (const auto& e : con.LogEntries())
    if (e.second.rfind(prefix, 0) == 0) ++n;
  return n;
}

}  // namespace vantrel::test
