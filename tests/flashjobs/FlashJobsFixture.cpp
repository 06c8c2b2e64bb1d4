#include "tests/flashjobs/FlashJobsFixture.h"

#include <sys/stat.h>

#include <cstdio>
#include <sstream>

#include "jobs/Jobs.h"
#include "link/ComLink.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "protocol/ImageSession.h"

namespace vantrel::test {

std::vector<uint8_t> PatternBytes(size_t count, uint32_t seed) {
  std::vector<uint8_t> out(count);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < count; ++i) {
    x = x * 1103515245u + 12345u;
    uint8_t b = static_cast<uint8_t>(x >> 16);
    out[i] = b == 0xFF ? 0x5A : b;  // never the erased value, so a missed write shows
  }
  return out;
}

ImageRecord MakeRecord(uint32_t address, size_t length, uint32_t seed) {
  return ImageRecord{address, PatternBytes(length, seed)};
}

void FlashJobsTest::SetUp() {
  SimTest::SetUp();
  // The loader switches its rate after the set-rate command; a host that
  // changed its own rate within microseconds would purge the command away.
  timing::SetPauseScale(0.02);
  traces_ = std::make_unique<TraceCapture>();
  stop::Clear();
  g_operation = 0;
  g_loaderState = kLoaderNone;
  g_progressTicks = 0;
  g_expectedTicks = 0;
  SetSelection(0, 0, 0, 0, 0, 0);
  SetMainContext(&ctx);
  rec.m_nComPort = 6;  // COM7
  rec.m_nBaudRate = kBaud921K;
  rec.m_nCommType = 0;
  rec.m_nLinkMode = kLinkModeUart;
  rec.m_strToday = kTestToday;
  imageDir = Config().Root() + "/images";
  ::mkdir(imageDir.c_str(), 0700);
}

void FlashJobsTest::TearDown() {
  SetMainContext(nullptr);
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
  rec.m_nLinkMode = usb ? kLinkModeUsb : kLinkModeUart;
  sim::Simulator& s = StartSim(std::move(options));
  if (usb) s.PowerOn();
  return s;
}

void FlashJobsTest::Connect() {
  const int rc = ConnectTarget(ctx);
  ASSERT_EQ(rc, 0) << con.Dump();
  ASSERT_EQ(g_loaderState.load(), kLoaderNand);
  con.Clear();
}

std::string FlashJobsTest::WriteRecordFile(const std::string& name, const std::vector<ImageRecord>& records) {
  std::vector<uint8_t> bytes;
  for (const ImageRecord& r : records) {
    const uint32_t words[2] = {r.address, static_cast<uint32_t>(r.data.size())};
    for (uint32_t w : words)
      for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(w >> (8 * i)));
    bytes.insert(bytes.end(), r.data.begin(), r.data.end());
  }
  return WriteFile(name, bytes);
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

::testing::AssertionResult FlashJobsTest::FlashHolds(sim::FlashPart part, uint32_t address,
                                                     const std::vector<uint8_t>& bytes) {
  const std::vector<uint8_t> got = Sim().ReadFlash(part, address, static_cast<uint32_t>(bytes.size()));
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (got[i] != bytes[i]) {
      std::ostringstream msg;
      msg << std::hex << "flash at 0x" << address + i << " holds 0x" << int(got[i]) << ", expected 0x"
          << int(bytes[i]) << " (offset 0x" << i << " of 0x" << bytes.size() << " bytes at 0x" << address << ")";
      return ::testing::AssertionFailure() << msg.str();
    }
  }
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult FlashJobsTest::FlashErased(sim::FlashPart part, uint32_t address, uint32_t length) {
  return FlashHolds(part, address, std::vector<uint8_t>(length, 0xFF));
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
