// The text and JSON sinks: colours by kind, the progress bar that stands in
// for the log's unfinished line and gives it back, and JSON that parses.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "JsonCheck.h"
#include "cli/CliConsole.h"
#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "cli/Output.h"
#include "cli/ProgressMeter.h"

namespace vantrel::cli {
namespace {

// A FILE* whose contents the test can read back.
class Capture {
 public:
  Capture() : f_(std::tmpfile()) {}
  ~Capture() { std::fclose(f_); }
  std::FILE* file() { return f_; }
  std::string Text() {
    std::fflush(f_);
    long n = std::ftell(f_);
    std::string s(static_cast<size_t>(n), '\0');
    std::rewind(f_);
    size_t got = std::fread(s.data(), 1, s.size(), f_);
    s.resize(got);
    std::fseek(f_, 0, SEEK_END);
    return s;
  }

 private:
  std::FILE* f_;
};

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  for (std::string l; std::getline(ss, l);) out.push_back(l);
  return out;
}

TEST(CliTextSink, KindsAreColouredOnlyWhenAsked) {
  Capture out, err;
  TextSink colour(out.file(), err.file(), true, false, false);
  colour.Log("\n  * NAND : Imgset Download", LogKind::Red);
  colour.Log("OK", LogKind::BlueNote);
  colour.Log("plain\r\n", std::nullopt);
  colour.Log("scratch", LogKind::Scratch);
  colour.Log("0x6D\n", LogKind::Red);
  // No colour change straddles a line break.
  EXPECT_EQ(out.Text(), "\n\033[31m  * NAND : Imgset Download\033[0m\033[34mOK\033[0mplain\n\033[31m0x6D\033[0m\n");

  Capture out2, err2;
  TextSink plain(out2.file(), err2.file(), false, false, false);
  plain.Log("Available\n\n", LogKind::BlueNote);
  plain.Log(" OpenComport success \r ", std::nullopt);
  EXPECT_EQ(out2.Text(), "Available\n\n OpenComport success \n ");
  EXPECT_EQ(err2.Text(), "");
}

TEST(CliTextSink, MessagesGoToStandardErrorWithTheirCaption) {
  Capture out, err;
  TextSink sink(out.file(), err.file(), false, false, false);
  sink.Message("  NOTICE  ", "Download Finished", nullptr);
  sink.Message("", "Error flashing image set : No respone at the target phone\n", nullptr);
  sink.Message("", "Start Address check OK!!\r\nCheck start block Address : 0x20000", nullptr);
  auto lines = Lines(err.Text());
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "NOTICE: Download Finished");
  EXPECT_EQ(lines[1], "VANTREL Downloader: Error flashing image set : No respone at the target phone");
  EXPECT_EQ(lines[2], "VANTREL Downloader: Start Address check OK!!");
  EXPECT_EQ(lines[3], "                    Check start block Address : 0x20000");
  EXPECT_EQ(out.Text(), "");
}

TEST(CliTextSink, ControlBytesFromFileNamesAreShownNotObeyed) {
  Capture out, err;
  TextSink sink(out.file(), err.file(), true, false, false);
  sink.Info("a\033]0;owned\007.img", 3, 1);
  sink.Note("cannot use the image file \033[2J\xc2\x9b.img");
  EXPECT_EQ(out.Text(), "a\\x1B]0;owned\\x07.img\nFile size : 3 byte\nChecksum : 0x1\n");
  EXPECT_EQ(err.Text(), "vantrel-cli: cannot use the image file \\x1B[2J\\xC2\\x9B.img\n");
}

TEST(CliTextSink, MessageOnTheSameTerminalStartsOnItsOwnLine) {
  Capture out, err;
  TextSink sink(out.file(), err.file(), false, false, true);
  sink.Log("\n    Open Comport\t\t\t\t> > > ", std::nullopt);
  sink.Message("Failure", "Comm Error", nullptr);
  EXPECT_EQ(out.Text(), "\n    Open Comport\t\t\t\t> > > \n");
}

TEST(CliTextSink, TheBarStandsInForTheUnfinishedLineAndGivesItBack) {
  Capture out, err;
  TextSink sink(out.file(), err.file(), false, true, false);
  sink.SetWidth(60);
  sink.Log("   0x0000 : \t", std::nullopt);
  ProgressSample s;
  s.percent = 50;
  s.ticks = 1;
  s.expected = 2;
  s.bytesPerSecond = 2048;
  s.secondsLeft = 3;
  sink.Progress(s);
  sink.Log("   Dump   >>>   OK", LogKind::BlueNote);
  sink.Log("\n   0x20000 : \t", std::nullopt);
  sink.ProgressEnd();  // nothing shown: no change
  std::string text = out.Text();
  std::string bar = RenderBar(s, 60);
  EXPECT_EQ(text, "   0x0000 : \t\r\033[K" + bar + "\r\033[K   0x0000 : \t   Dump   >>>   OK\n   0x20000 : \t");
  // With the bar cleared, what remains on the terminal is the log alone.
}

TEST(CliTextSink, BarRendering) {
  ProgressSample s;
  s.percent = 45;
  s.bytesPerSecond = 46100;
  s.secondsLeft = 12;
  std::string bar = RenderBar(s, 70);
  EXPECT_LE(bar.size(), 70u);
  EXPECT_NE(bar.find(" 45%"), std::string::npos);
  EXPECT_NE(bar.find("46.1 KB/s"), std::string::npos);
  EXPECT_NE(bar.find("0:12 left"), std::string::npos);
  s.percent = 100;
  s.secondsLeft = 0;
  bar = RenderBar(s, 70);
  EXPECT_EQ(bar.find('>'), std::string::npos);
  EXPECT_EQ(bar.find(' '), bar.find("]") + 1);  // full bar
  s.percent = 150;                                 // the dump callback does not clamp
  EXPECT_NE(RenderBar(s, 70).find("100%"), std::string::npos);
  EXPECT_LE(RenderBar(s, 12).size(), 12u);
  EXPECT_EQ(FormatRate(980), "980 B/s");
  EXPECT_EQ(FormatRate(1.2e6), "1.20 MB/s");
}

TEST(CliJsonSink, EveryEventIsOneParsableObject) {
  Capture out;
  JsonSink sink(out.file());
  sink.Log("\n    Open Comport\t\t\t\t> > > ", std::nullopt);
  sink.Log("OK", LogKind::BlueNote);
  sink.Message("  NOTICE  ", "Download Finished", nullptr);
  sink.Message("", "quote \" backslash \\ bell \x07", "cancel");
  sink.Confirm("WARNING!!!!!!!!", {"All NAND flash data are erased.", "Are you sure?"}, true, "--yes");
  sink.Dialog("save", "/tmp/x.dmp");
  sink.State("ready");
  ProgressSample s;
  s.percent = 10;
  sink.Progress(s);
  sink.Note("ModemManager is running");
  sink.OpBegin(1, 2, "connect");
  sink.OpEnd(1, 2, "connect", Judgement(kExitHandset, "Timeout : No Response at the target phone"));
  sink.Written({FlashRegion::Nor, 0x100000, 0x8000});
  sink.Verify("download imgset a.img", false, 4096, 0x4A0010, "");
  sink.Info("a.img", 3, 0x102);
  sink.Finish(4, 0, 2);
  auto lines = Lines(out.Text());
  ASSERT_EQ(lines.size(), 15u);
  test::JsonLine j;
  for (const auto& l : lines) EXPECT_TRUE(j.Parse(l)) << l;
  ASSERT_TRUE(j.Parse(lines[0]));
  EXPECT_EQ(j.Get("event"), "log");
  EXPECT_EQ(j.Get("kind"), "plain");
  EXPECT_EQ(j.Get("text"), "\n    Open Comport\t\t\t\t> > > ");
  ASSERT_TRUE(j.Parse(lines[1]));
  EXPECT_EQ(j.Get("kind"), "3");
  ASSERT_TRUE(j.Parse(lines[2]));
  EXPECT_EQ(j.Get("caption"), "NOTICE");
  ASSERT_TRUE(j.Parse(lines[3]));
  EXPECT_EQ(j.Get("text"), "quote \" backslash \\ bell \x07");
  EXPECT_EQ(j.Get("caption"), "VANTREL Downloader");
  EXPECT_EQ(j.Get("answer"), "cancel");
  ASSERT_TRUE(j.Parse(lines[7]));
  EXPECT_EQ(j.Get("seconds_left"), "null");
  ASSERT_TRUE(j.Parse(lines[10]));
  EXPECT_EQ(j.Get("ok"), "false");
  EXPECT_EQ(j.Get("failure"), "handset");
  ASSERT_TRUE(j.Parse(lines[11]));
  EXPECT_EQ(j.Get("region"), "NOR");
  EXPECT_EQ(j.Get("address"), "0x100000");
  ASSERT_TRUE(j.Parse(lines[12]));
  EXPECT_EQ(j.Get("first_difference"), "0x4A0010");
  ASSERT_TRUE(j.Parse(lines[13]));
  EXPECT_EQ(j.Get("checksum"), "0x102");
  ASSERT_TRUE(j.Parse(lines[14]));
  EXPECT_EQ(j.Get("event"), "exit");
  EXPECT_EQ(j.Get("status"), "4");
}

TEST(CliJson, QuotingAndNumbers) {
  EXPECT_EQ(JsonQuote("a\r\n\t\x01"), "\"a\\r\\n\\t\\u0001\"");
  JsonObject o("x");
  o.Add("d", 1.5).Add("inf", 1.0 / 0.0).Add("big", static_cast<uint32_t>(0xFFFFFFFFu));
  EXPECT_EQ(o.Text(), "{\"event\":\"x\",\"d\":1.5,\"inf\":null,\"big\":4294967295}");

  // A file name is bytes: one that is not UTF-8 still gives valid JSON, and
  // its bytes whole beside it.
  Capture out;
  JsonSink sink(out.file());
  sink.Info("d\xff\xfe.img", 3, 0x102);
  nlohmann::json info = nlohmann::json::parse(out.Text());  // strict: throws on bad UTF-8
  EXPECT_EQ(info["file"], "d\uFFFD\uFFFD.img");
  EXPECT_EQ(info["file_hex"], "64fffe2e696d67");
}

TEST(CliProgress, RateAndTimeLeft) {
  RateEstimator r;
  r.Add(0, 0, 0);
  EXPECT_LT(r.SecondsLeft(), 0);  // nothing to go on yet
  r.Add(1, 1000, 0.25);
  r.Add(2, 3000, 0.5);
  EXPECT_DOUBLE_EQ(r.BytesPerSecond(), 1500);
  EXPECT_DOUBLE_EQ(r.SecondsLeft(), 2);
  // Old readings leave the window: the rate follows the line.
  r.Add(10, 3000, 0.5);
  r.Add(11, 13000, 0.6);
  EXPECT_NEAR(r.BytesPerSecond(), 10000, 1);
  r.Add(12, 14000, 1.0);
  EXPECT_EQ(r.SecondsLeft(), 0);
}

// A sink that only counts progress events.
class CountingSink : public JsonSink {
 public:
  CountingSink() : JsonSink(nullptr) {}
  void Progress(const ProgressSample& s) override {
    std::lock_guard<std::mutex> l(mu);
    samples.push_back(s);
  }
  void ProgressEnd() override { ends++; }
  std::mutex mu;
  std::vector<ProgressSample> samples;
  std::atomic<int> ends{0};
};

TEST(CliProgress, MeterReportsChangesOnlyAndEndsOnce) {
  CountingSink sink;
  std::atomic<int> ticks{0};
  ProgressMeter meter(
      sink,
      [&] {
        ProgressSample s;
        s.ticks = ticks;
        s.expected = 4;
        s.percent = ticks * 25;
        s.bytes = static_cast<uint64_t>(ticks) * 1024;
        return s;
      },
      std::chrono::milliseconds(5));
  meter.Start();
  // Before the transfer moves nothing is reported.
  for (int i = 0; i < 3; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  {
    std::lock_guard<std::mutex> l(sink.mu);
    EXPECT_TRUE(sink.samples.empty());
  }
  ticks = 2;
  for (int i = 0; i < 500; ++i) {
    {
      std::lock_guard<std::mutex> l(sink.mu);
      if (!sink.samples.empty()) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ticks = 4;
  meter.Stop();
  std::lock_guard<std::mutex> l(sink.mu);
  ASSERT_GE(sink.samples.size(), 2u);
  EXPECT_EQ(sink.samples.front().percent, 50);
  EXPECT_EQ(sink.samples.back().percent, 100);  // the final reading is never lost
  for (size_t i = 1; i < sink.samples.size(); ++i)
    EXPECT_TRUE(sink.samples[i].ticks != sink.samples[i - 1].ticks || sink.samples[i].bytes != sink.samples[i - 1].bytes);
  EXPECT_EQ(sink.ends, 1);
}

}  // namespace
}  // namespace vantrel::cli
