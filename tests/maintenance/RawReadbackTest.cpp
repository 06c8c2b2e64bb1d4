// The raw read-back exchange against a scripted line: every answer the
// handset can give, every error text, and what the host sends back.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <functional>
#include <memory>
#include <numeric>
#include <vector>

#include "jobs/OperationRecord.h"
#include "maintenance/RawReadBack.h"
#include "protocol/TargetSession.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/FastTiming.h"
#include "tests/support/RecordingConsole.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::test {
namespace {

uint8_t Sum(const std::vector<uint8_t>& bytes) {
  return static_cast<uint8_t>(std::accumulate(bytes.begin(), bytes.end(), 0u));
}

class RawReadBackTest : public FastTiming {
  // Public: the error table scripts the line through these.
 public:
  void SetUp() override {
    FastTiming::SetUp();
    rec.m_nComPort = 0;
    rec.m_nBaudRate = 0;
  }
  void Feed(const std::vector<uint8_t>& bytes) { scripted.Feed(bytes); }
  // Address, its acknowledgement, the length (least significant byte first)
  // and its acknowledgement.
  void Greet(uint32_t length) {
    Feed({0x30, 0x00, 0x00, 0x00, 0x77});
    lengthBytes = {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8),
                   static_cast<uint8_t>(length >> 16), static_cast<uint8_t>(length >> 24)};
    Feed(lengthBytes);
    Feed({0x77});
  }
  std::string Run() {
    RawReadBackExchange(ctx);
    const auto boxes = con.MessageBoxes();
    return boxes.empty() ? std::string("<no box>") : boxes.back().text;
  }

  ScratchConfig config;
  QueuedLineScope scripted;
  std::shared_ptr<LineJournal>& line = scripted.line;
  RecordingConsole con;
  OperationRecord rec;
  TargetSession session;
  JobState job;
  JobContext ctx{rec, con, nullptr, session, job};
  std::vector<uint8_t> lengthBytes;
};

TEST_F(RawReadBackTest, TwoChunksOfWordsAndRunsEndWithEnd) {
  Greet(0x4000);
  // First chunk: a plain word, a run of 0x12121212 (four copies in all), and
  // runs of 0xFF words up to 8192 bytes: 4 + 16 + 7 * 1024 + 1020 + 4 + ... .
  std::vector<uint8_t> chunk1 = {0x01, 0x02, 0x03, 0x04, 0x12, 0x12, 0x12, 0x12, 3};
  uint32_t bytes = 20;
  while (bytes + 1024 <= 8192) {
    chunk1.insert(chunk1.end(), {0xFF, 0xFF, 0xFF, 0xFF, 255});
    bytes += 1024;
  }
  while (bytes < 8192) {
    chunk1.insert(chunk1.end(), {0xA0, 0xB0, 0xC0, static_cast<uint8_t>(bytes)});
    bytes += 4;
  }
  Feed(chunk1);
  Feed({0x77});
  // Second chunk: one run ends it exactly (8 runs of 256 words).
  std::vector<uint8_t> chunk2;
  for (int i = 0; i < 8; ++i) chunk2.insert(chunk2.end(), {0x5A, 0x5A, 0x5A, 0x5A, 255});
  Feed(chunk2);
  Feed({0x77});

  EXPECT_EQ(Run(), "END");
  std::vector<uint8_t> firstSum = lengthBytes;  // the first chunk's sum covers the length bytes
  firstSum.insert(firstSum.end(), chunk1.begin(), chunk1.end());
  const std::vector<uint8_t> expected = {0xCF, 0xCC, 0x30, Sum(lengthBytes), Sum(firstSum), Sum(chunk2)};
  EXPECT_EQ(line->written, expected);
  EXPECT_TRUE(line->answers.empty());

  const auto ranges = con.Calls(CallType::ProgressRange);
  ASSERT_FALSE(ranges.empty());
  EXPECT_EQ(ranges.front().value2, 2);  // 0x4000 >> 13
  std::vector<int> positions;
  for (const auto& c : con.Calls(CallType::ProgressPos)) positions.push_back(c.value);
  EXPECT_EQ(positions, (std::vector<int>{0, 1, 2, 0}));  // the bar is given back at the end
  EXPECT_EQ(con.Log(), " OpenComport success \r  Send 0xCF success \r  Send 0x success \r  recv ramaddress success \r ");
  EXPECT_EQ(con.MessageBoxes().back().ShownCaption(), kAppName);
}

TEST_F(RawReadBackTest, ShortReadBackIsOneChunkOfItsLength) {
  Greet(16);
  const std::vector<uint8_t> words = {1, 2, 3, 4, 9, 9, 9, 9, 2};  // 4 + 12 bytes
  Feed(words);
  Feed({0x77});
  EXPECT_EQ(Run(), "END");
  std::vector<uint8_t> summed = lengthBytes;
  summed.insert(summed.end(), words.begin(), words.end());
  EXPECT_EQ(line->written.back(), Sum(summed));
}

TEST_F(RawReadBackTest, HostileRunsNeitherOverflowNorWrap) {
  // A run far beyond the announced length ends the exchange at once.
  Greet(8);
  Feed({7, 7, 7, 7, 255, 0x77});
  EXPECT_EQ(Run(), "END");

  // A run that passes the chunk limit ends the chunk; the next starts empty.
  line->answers.clear();
  line->written.clear();
  con.Clear();
  Greet(8192 + 8);
  std::vector<uint8_t> chunk1;
  for (int i = 0; i < 2047; ++i) chunk1.insert(chunk1.end(), {1, 2, 3, static_cast<uint8_t>(i)});
  chunk1.insert(chunk1.end(), {0xEE, 0xEE, 0xEE, 0xEE, 1});  // 8196 bytes: past 8192
  Feed(chunk1);
  Feed({0x77});
  Feed({5, 6, 7, 8});  // the 4 bytes the length still allows
  Feed({0x77});
  EXPECT_EQ(Run(), "END");
  EXPECT_EQ(line->written.size(), 6u);
}

TEST_F(RawReadBackTest, EveryErrorText) {
  struct Case {
    const char* name;
    std::function<void(RawReadBackTest&)> script;
    const char* text;
  };
  const std::vector<Case> cases = {
      {"port", [](RawReadBackTest& t) { t.line->openError = ENOENT; }, "Comport error"},
      {"first byte", [](RawReadBackTest& t) { t.line->failWrite = 1; }, "0xCF sending error"},
      {"second byte", [](RawReadBackTest& t) { t.line->failWrite = 2; }, "0xCC sending error"},
      {"no address", [](RawReadBackTest&) {}, "0xCF sending error"},
      {"address sum refused", [](RawReadBackTest& t) { t.Feed({0x30, 0, 0, 0, 0x00}); }, "0x77 error"},
      {"address answer missing", [](RawReadBackTest& t) { t.Feed({0x30, 0, 0, 0}); }, "0xCF sending error"},
      {"no length", [](RawReadBackTest& t) { t.Feed({0x30, 0, 0, 0, 0x77}); }, "0xCF sending error"},
      {"length sum refused",
       [](RawReadBackTest& t) {
         t.Feed({0x30, 0, 0, 0, 0x77});
         t.Feed({0x10, 0, 0, 0, 0x12});
       },
       "0x77 error 1"},
      {"word cut short",
       [](RawReadBackTest& t) {
         t.Greet(0x10);
         t.Feed({1, 2, 3});
       },
       "read error"},
      {"run count missing",
       [](RawReadBackTest& t) {
         t.Greet(0x10);
         t.Feed({4, 4, 4, 4});
       },
       "read error"},
      {"chunk sum not sent",
       [](RawReadBackTest& t) {
         t.Greet(4);
         t.Feed({1, 2, 3, 4});
         t.line->failWrite = 5;
       },
       "write error"},
      {"chunk answer missing",
       [](RawReadBackTest& t) {
         t.Greet(4);
         t.Feed({1, 2, 3, 4});
       },
       "write error"},
      {"chunk sum refused",
       [](RawReadBackTest& t) {
         t.Greet(4);
         t.Feed({1, 2, 3, 4, 0x00});
       },
       "0x77 error 3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    *line = LineJournal{};
    con.Clear();
    c.script(*this);
    EXPECT_EQ(Run(), c.text);
    EXPECT_EQ(con.MessageBoxes().size(), 1u);
    EXPECT_FALSE(rec.m_linkRecord.IsOpen());
  }
}

}  // namespace
}  // namespace vantrel::test
