// The UART image-file sessions: record selection, the failed-block rule,
// the stream types, and TOOL_DownloadBoot2's own rules.
#include <sys/stat.h>

#include <chrono>

#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "payloads/Payloads.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

struct StartCommand {
  uint32_t word = 0, address = 0, length = 0, end = 0;
};

StartCommand ReadStart(ScriptedHandset& h) {
  Bytes b = h.Expect(16);
  auto be = [&](int i) {
    return (uint32_t{b[i]} << 24) | (uint32_t{b[i + 1]} << 16) | (uint32_t{b[i + 2]} << 8) | b[i + 3];
  };
  return {be(0), be(4), be(8), be(12)};
}

// Handset: takes one announced record in blocks of at most `piece` bytes and
// finishes it; returns what arrived.
Bytes TakeRecord(ScriptedHandset& h, uint32_t length, uint32_t piece = 0x10000) {
  h.SendByte(0x26);
  EXPECT_THAT(h.Expect(1), ElementsAre(0x2D));
  Bytes data;
  for (uint32_t done = 0; done < length;) {
    const uint32_t n = std::min(piece, length - done);
    Bytes b = h.ServeBlock(n);
    data.insert(data.end(), b.begin(), b.end());
    done += n;
  }
  h.SendByte(0x27);
  EXPECT_THAT(h.Expect(1), ElementsAre(0x2D));
  h.SendByte(0x29);
  return data;
}

class FileSessionTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    OpenAt(kBaud115200);
    for (int i = 0; i < 5; ++i) records_.push_back(Pattern(300 + 10 * i, static_cast<uint8_t>(i)));
    Bytes file;
    for (int i = 0; i < 5; ++i) file = Concat({file, Record(0x100000u * (i + 1), records_[i])});
    imgset_ = WriteFile("imgset.bin", file);
  }

  // Runs an imgset session over the five records; returns the indices the
  // handset was sent, in order.
  std::vector<int> SentRecords(uint32_t type, Result* rc) {
    ScriptedHandset& handset = handset_;
    std::vector<int> sent;
    handset.Play([&](ScriptedHandset& h) {
      for (;;) {
        Bytes first = h.Read(16, 300);
        if (first.empty()) return;
        Bytes rest = h.Expect(16 - first.size());
        first.insert(first.end(), rest.begin(), rest.end());
        const uint32_t address = (uint32_t{first[4]} << 24) | (uint32_t{first[5]} << 16);
        const int index = static_cast<int>(address / 0x100000u) - 1;
        sent.push_back(index);
        if (index < 0 || index > 4) return;
        EXPECT_EQ(TakeRecord(h, static_cast<uint32_t>(records_[index].size())), records_[index]);
      }
    });
    *rc = TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, imgset_, type, progress_.Callback());
    handset.Join();
    return sent;
  }

  ScriptedHandset handset_;
  std::vector<Bytes> records_;
  std::string imgset_;
};

TEST_F(FileSessionTest, ImgsetSelectionExamples) {
  Result rc = Result::Ok;
  session_.SetSelection(1, 1, 0, 0, 0, 0);
  EXPECT_THAT(SentRecords(proto::kTypeImgset, &rc), ElementsAre(0, 1, 2));
  EXPECT_EQ(rc, 0);

  session_.SetSelection(0, 1, 0, 0, 0, 2);
  EXPECT_THAT(SentRecords(proto::kTypeImgset, &rc), ElementsAre(1, 2, 3, 4));
  EXPECT_EQ(rc, 0);

  // Middle part skipped: three records count as the middle.
  session_.SetSelection(1, 0, 0, 0, 0, 1);
  EXPECT_THAT(SentRecords(proto::kTypeImgset, &rc), ElementsAre(0, 4));
  EXPECT_EQ(rc, 0);
}

TEST_F(FileSessionTest, OtherTypesSelectionExamples) {
  Result rc = Result::Ok;
  session_.SetSelection(0, 0, 0, 0, 1, 0);
  EXPECT_THAT(SentRecords(proto::kTypeCalset, &rc), ElementsAre(0));
  session_.SetSelection(0, 0, 0, 0, 0, 1);  // two calibration records skipped
  EXPECT_THAT(SentRecords(proto::kTypeCalset, &rc), ElementsAre(2, 3, 4));
  session_.SetSelection(0, 0, 0, 1, 0, 0);
  EXPECT_THAT(SentRecords(proto::kTypeRsrc2, &rc), ElementsAre(0));
  session_.SetSelection(0, 0, 0, 0, 0, 0);
  EXPECT_THAT(SentRecords(proto::kTypeRsrc1, &rc), ElementsAre());
  EXPECT_EQ(rc, 0);
}

TEST_F(FileSessionTest, SelectionCountersStartOverWithTheFlags) {
  // A session that stops after the first middle record leaves the counter
  // at 1; setting the flags again must still give the full middle part.
  session_.SetSelection(1, 1, 0, 0, 0, 0);
  {
    ScriptedHandset& handset = handset_;
    handset.Play([&](ScriptedHandset& h) {
      ReadStart(h);
      TakeRecord(h, static_cast<uint32_t>(records_[0].size()));
      ReadStart(h);
      h.SendByte(0x28);
    });
    EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, imgset_, 0, nullptr), Result::Sync);
    handset.Join();
  }
  Result rc = Result::Ok;
  session_.SetSelection(1, 1, 0, 0, 0, 0);
  EXPECT_THAT(SentRecords(proto::kTypeImgset, &rc), ElementsAre(0, 1, 2));
}

TEST_F(FileSessionTest, RecordBlocksCallbacksAndPauses) {
  session_.SetSelection(1, 0, 0, 0, 0, 0);
  const std::string path =
      WriteFile("two.bin", Concat({Record(0x200000, Pattern(3000, 7)), Record(0x300000, Pattern(10, 8))}));
  ScriptedHandset& handset = handset_;
  StartCommand start;
  Bytes data;
  handset.Play([&](ScriptedHandset& h) {
    start = ReadStart(h);
    data = TakeRecord(h, 3000, 2000);
  });
  timing::ClearRecording();
  session_.SetLastEchoedChecksum(0);
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, path, 0, progress_.Callback()), 0);
  handset.Join();
  EXPECT_EQ(start.word, 0xFFFF0004u);
  EXPECT_EQ(start.address, 0x200000u);
  EXPECT_EQ(start.length, 3000u);
  EXPECT_EQ(start.end, 0xFF00FF00u);
  EXPECT_EQ(data, Pattern(3000, 7));
  const Bytes whole = Pattern(3000, 7);
  const Bytes second(whole.begin() + 2000, whole.end());
  EXPECT_THAT(progress_.Only(1, 0),
              ElementsAre(ProgressCall{1, 0, 0x200000, 2000, 0}, ProgressCall{1, 0, 0x200000 + 2000, 1000, 0}));
  EXPECT_THAT(progress_.Only(1, 1), ElementsAre(ProgressCall{1, 1, 2, 0, 0}, ProgressCall{1, 1, 0, Sum8(second), 0}));
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_DownloadImageSet:1000", "ReadFileBlock:1000", "Checksum8:200",
                                      "ReadFileBlock:1000", "Checksum8:200", "TOOL_DownloadImageSet:1000"));
}

TEST_F(FileSessionTest, FourthFailedBlockSendEndsTheSession) {
  session_.SetSelection(1, 0, 0, 0, 0, 0);
  for (int failures : {3, 4}) {
    ScriptedHandset& handset = handset_;
    Bytes last;
    handset.Play([&](ScriptedHandset& h) {
      ReadStart(h);
      Bytes first = h.ServeBlock(300, true);
      for (int i = 1; i < failures; ++i) {
        h.SendByte(0x2A);
        last = h.Expect(301);
        h.SendByte(static_cast<uint8_t>(~last.back()));
      }
      if (failures == 4) return;
      h.SendByte(0x2A);
      last = h.Expect(301);
      h.SendByte(last.back());
      EXPECT_EQ(Bytes(last.begin(), last.end() - 1), first);
      h.SendByte(0x29);
    });
    progress_.calls.clear();
    const Result rc = TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, imgset_, 0, progress_.Callback());
    handset.Join();
    EXPECT_EQ(rc, failures == 4 ? Result::Error : Result::Ok) << failures;
    EXPECT_EQ(progress_.Only(0, 1).size(), static_cast<size_t>(failures));
    EXPECT_EQ(std::count(progress_.calls.begin(), progress_.calls.end(), ProgressCall{1, 1, 3, 0, 0}), 3);
    session_.SetSelection(1, 0, 0, 0, 0, 0);
  }
}

TEST_F(FileSessionTest, EndsAndTheirCodes) {
  const auto endedBy = [&](const std::string& path, std::function<void(ScriptedHandset&)> script) {
    session_.SetSelection(1, 0, 0, 0, 0, 0);
    ScriptedHandset& handset = handset_;
    handset.Play(std::move(script));
    progress_.calls.clear();
    const Result rc = TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, path, 0, progress_.Callback());
    handset.Join();
    return rc;
  };
  EXPECT_EQ(endedBy(imgset_, [](ScriptedHandset& h) { ReadStart(h), h.SendByte(0x28); }), Result::Sync);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 4, 0, 0}));
  EXPECT_EQ(endedBy(imgset_, [](ScriptedHandset& h) { ReadStart(h), h.SendByte(0x2B); }), Result::InvalidAddress);
  EXPECT_EQ(endedBy(imgset_, [](ScriptedHandset& h) { ReadStart(h), h.SendByte(0x2C); }), Result::InvalidAddress);
  EXPECT_EQ(endedBy(imgset_, [](ScriptedHandset& h) { ReadStart(h), h.SendByte(0x99); }), Result::Internal);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 5, 0, 0}));
  EXPECT_EQ(endedBy(imgset_, [](ScriptedHandset& h) { ReadStart(h); }), Result::NoResponse);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 6, 0, 0}));

  // Requests beyond the record's data in a short file, or beyond the buffer:
  // 205 and nothing sent for them.
  const std::string shortFile = WriteFile("short.bin", Concat({Record(0x1000, Pattern(500, 1))}));
  Bytes after;
  EXPECT_EQ(endedBy(shortFile,
                    [&](ScriptedHandset& h) {
                      ReadStart(h);
                      h.SendByte(0x2E);
                      h.SendWordBe(501);
                      after = h.Drain(100);
                    }),
            Result::Internal);
  EXPECT_TRUE(after.empty());
  EXPECT_EQ(endedBy(imgset_,
                    [&](ScriptedHandset& h) {
                      ReadStart(h);
                      h.SendByte(0x2E);
                      h.SendWordBe(0x40001);
                      after = h.Drain(100);
                    }),
            Result::Internal);
  EXPECT_TRUE(after.empty());

  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, scratch_.Root() + "/missing.bin", 0, nullptr),
            Result::FileOpen);
}

TEST_F(FileSessionTest, CancelEndsAWaitingSessionWith210) {
  session_.SetSelection(1, 0, 0, 0, 0, 0);
  ScriptedHandset& handset = handset_;
  Bytes after;
  handset.Play([&](ScriptedHandset& h) {
    ReadStart(h);
    h.SendByte(0x26);
    h.Expect(1);
    // The handset thinks it over, and the operator cancels meanwhile: once
    // the host has answered, whenever that is on a busy machine.
    stop::Request();
    after = h.Drain(400);
  });
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, imgset_, 0, progress_.Callback()), Result::ComPort);
  handset.Join();
  EXPECT_TRUE(after.empty());
  stop::Clear();
}

TEST_F(FileSessionTest, RecordFilesThatDoNotParseSendNothing) {
  const Bytes good = Record(0x100000, records_[0]);
  Bytes longClaim = Record(0x200000, records_[1]);
  longClaim.pop_back();  // the record claims one byte more than the file holds
  const std::string fifo = scratch_.Root() + "/image.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    const char* name;
    std::string path;
    Result rc = Result::Ok;
  };
  const Case cases[] = {
      {"empty", WriteFile("empty.bin", {}), Result::FileRead},
      {"shorter than a header", WriteFile("five.bin", Bytes{1, 2, 3, 4, 5}), Result::FileRead},
      {"cut header after a record", WriteFile("cut.bin", Concat({good, Bytes{1, 2, 3}})), Result::FileRead},
      {"record past the end", WriteFile("long.bin", Concat({good, longClaim})), Result::FileRead},
      {"a FIFO, which must not block the open", fifo, Result::FileOpen},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session_.SetSelection(1, 1, 1, 1, 1, 1);
    Bytes seen;
    handset_.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
    EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, c.path, 0, nullptr), c.rc);
    EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, c.path, link_, 0, nullptr), c.rc);
    handset_.Join();
    EXPECT_TRUE(seen.empty());
  }
}

TEST_F(FileSessionTest, FlashStreamReadsExtraBytesPerBlockAndEndsWithTheFile) {
  const Bytes file = Pattern(2 * (1000 + 4096), 9);
  const std::string path = WriteFile("flash.bin", file);
  session_.SetSelection(0, 0, 0, 0, 0, 1);
  ScriptedHandset& handset = handset_;
  StartCommand start;
  Bytes data, resent;
  handset.Play([&](ScriptedHandset& h) {
    start = ReadStart(h);
    for (int block = 0; block < 2; ++block) {
      h.SendByte(0x2E);
      h.SendWordBe(1000);  // the host adds 4096 bytes to what is asked for
      Bytes got = h.Expect(5097);
      h.SendByte(block == 0 ? static_cast<uint8_t>(~got.back()) : got.back());
      data.insert(data.end(), got.begin(), got.end() - 1);
      if (block == 1) break;
      h.SendByte(0x2A);  // the resend carries the spare bytes again
      resent = h.Expect(5097);
      h.SendByte(resent.back());
    }
    h.SendByte(0x29);
  });
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, path, proto::kTypeVlfFlash, progress_.Callback()), 0);
  handset.Join();
  EXPECT_EQ(start.address, 0x5000000u);  // streams name their type
  EXPECT_EQ(start.length, file.size());
  EXPECT_EQ(data, file);
  EXPECT_EQ(Bytes(resent.begin(), resent.end() - 1), Bytes(file.begin(), file.begin() + 5096));
  // The address advances by the requested length once the block is through.
  EXPECT_THAT(progress_.Only(1, 0),
              ElementsAre(ProgressCall{1, 0, 0x5000000, 5096, 0}, ProgressCall{1, 0, 0x5000000, 5096, 0},
                          ProgressCall{1, 0, 0x5000000 + 1000, 5096, 0}));
}

TEST_F(FileSessionTest, VlfStreamFollowsTheRestFlag) {
  const Bytes file = Pattern(700, 10);
  const std::string path = WriteFile("vlf.bin", file);
  session_.SetSelection(0, 0, 0, 0, 0, 0);
  ScriptedHandset& handset = handset_;
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, path, proto::kTypeVlf, nullptr), 0);
  handset.Join();
  EXPECT_TRUE(seen.empty());

  // Sent; a handset that finishes early gets the rest of the stream announced.
  session_.SetSelection(0, 0, 0, 0, 0, 1);
  StartCommand first, second;
  Bytes data;
  handset.Play([&](ScriptedHandset& h) {
    first = ReadStart(h);
    data = h.ServeBlock(300);
    h.SendByte(0x29);
    second = ReadStart(h);
    Bytes more = h.ServeBlock(400);
    data.insert(data.end(), more.begin(), more.end());
    h.SendByte(0x29);
  });
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, link_, path, proto::kTypeVlf, nullptr), 0);
  handset.Join();
  EXPECT_EQ(first.address, 7u);
  EXPECT_EQ(first.length, 700u);
  EXPECT_EQ(second.length, 400u);
  EXPECT_EQ(data, file);
}

class Boot2SessionTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    OpenAt(kBaud115200);
  }
  ScriptedHandset handset_;
};

TEST_F(Boot2SessionTest, EmbeddedImageAnnouncedAndServedFromItsOwnOffset) {
  ScriptedHandset& handset = handset_;
  StartCommand start;
  Bytes data, afterFinish;
  handset.Play([&](ScriptedHandset& h) {
    start = ReadStart(h);
    h.SendByte(0x26);
    h.Expect(1);
    data = h.ServeBlock(0x10000);
    h.SendByte(0x27);
    EXPECT_THAT(h.Expect(1), ElementsAre(0x2D));
    Bytes more = h.ServeBlock(100);
    data.insert(data.end(), more.begin(), more.end());
    h.SendByte(0x29);
    afterFinish = h.Drain(100);
  });
  session_.SetImageCursor(77);  // not used by this session
  timing::ClearRecording();
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Uart, link_, "boot2", 0x20000, progress_.Callback()), 0);
  handset.Join();
  EXPECT_EQ(start.word, 0xFFFF0004u);
  EXPECT_EQ(start.address, 0x20000u);
  EXPECT_EQ(start.length, 190380u);
  EXPECT_EQ(data, Bytes(Boot2Image().data, Boot2Image().data + 0x10000 + 100));
  EXPECT_TRUE(afterFinish.empty());  // no end byte on the UART
  EXPECT_THAT(progress_.Only(1, 0),
              ElementsAre(ProgressCall{1, 0, 0x20000, 0x10000, 0}, ProgressCall{1, 0, 0x30000, 100, 0}));
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_DownloadBoot2:3000", "Checksum8:200", "TOOL_DownloadBoot2:100",
                                      "Checksum8:200"));
}

TEST_F(Boot2SessionTest, RequestPastTheEmbeddedImageIs205) {
  ScriptedHandset& handset = handset_;
  Bytes after;
  handset.Play([&](ScriptedHandset& h) {
    ReadStart(h);
    h.ServeBlock(190000);
    h.SendByte(0x2E);
    h.SendWordBe(381);
    after = h.Drain(100);
  });
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Uart, link_, "boot2", 0x20000, nullptr), Result::Internal);
  handset.Join();
  EXPECT_TRUE(after.empty());
}

TEST_F(Boot2SessionTest, FileOverUsbEndsWithTheEndByte) {
  const Bytes file = Pattern(1500, 11);
  const std::string path = WriteFile("manual.img", file);
  ScriptedHandset& handset = handset_;
  StartCommand start;
  Bytes data, end;
  handset.Play([&](ScriptedHandset& h) {
    start = ReadStart(h);
    h.SendByte(0x2E);
    h.SendWordBe(1500);
    data = h.Expect(1500);  // no checksum byte over USB
    h.SendByte(0x27);
    EXPECT_THAT(h.Expect(1), ElementsAre(0x2D));
    h.SendByte(0x29);
    end = h.Expect(1);
  });
  timing::ClearRecording();
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Usb, link_, path, 0x7000000, progress_.Callback()), 0);
  handset.Join();
  EXPECT_EQ(start.length, 1500u);
  EXPECT_EQ(start.address, 0x7000000u);
  EXPECT_EQ(data, file);
  EXPECT_THAT(end, ElementsAre(0xAB));
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_DownloadBoot2:1000"));
}

TEST_F(Boot2SessionTest, OnlyTheExactNameSelectsTheEmbeddedImage) {
  ScriptedHandset& handset = handset_;
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Uart, link_, "Boot2", 0x20000, nullptr), Result::FileOpen);
  handset.Join();
  EXPECT_TRUE(seen.empty());
}

}  // namespace
}  // namespace vantrel::test
