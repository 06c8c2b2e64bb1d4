// The USB image sessions: start frame, handset frames, the acknowledgement
// short frame before each block and the handset's checksum reports.
#include "link/ResultCodes.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

uint32_t Le(const Bytes& b, size_t at) {
  return uint32_t{b[at]} | (uint32_t{b[at + 1]} << 8) | (uint32_t{b[at + 2]} << 16) | (uint32_t{b[at + 3]} << 24);
}

// A 16-byte handset frame.
Bytes Frame(uint8_t kind, uint32_t length = 0, uint8_t byte8 = 0) {
  Bytes f(16, 0);
  f[0] = kind;
  for (int i = 0; i < 4; ++i) f[4 + i] = static_cast<uint8_t>(length >> (8 * i));
  f[8] = byte8;
  return f;
}

Bytes Finished(uint8_t sum) {
  Bytes f(16, 0);
  f[0] = 0x29;
  f[4] = sum;
  return f;
}

class UsbSessionTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    OpenAt(kBaud921600);
  }

  // Handset: reads the start frame and checks its fixed bytes; returns
  // (address, length).
  static std::pair<uint32_t, uint32_t> ReadStart(ScriptedHandset& h) {
    Bytes f = h.Expect(16);
    EXPECT_EQ(f[0], 0x5A);
    EXPECT_EQ(f[1], 0);
    EXPECT_THAT(Bytes(f.begin() + 4, f.begin() + 8), ElementsAre(0, 0, 0, 0));
    return {Le(f, 8), Le(f, 12)};
  }

  // Handset: asks for `length` bytes (reporting `prevSum` for the block before)
  // and reads the acknowledgement and the block.
  static Bytes Want(ScriptedHandset& h, uint32_t length, uint8_t prevSum) {
    h.Send(Frame(0x26, length, prevSum));
    Bytes ack = h.Expect(8);
    EXPECT_EQ(ack[0], 0x30);
    EXPECT_EQ(ack[1], 0);
    EXPECT_THAT(Bytes(ack.begin() + 4, ack.end()), ElementsAre(0, 0, 0, 0));
    return h.Expect(length);
  }

  ScriptedHandset handset_;
};

TEST_F(UsbSessionTest, FileSessionFramesBlocksAndChecksums) {
  const Bytes file = Pattern(3000, 21);
  const std::string path = WriteFile("manual.img", file);
  std::pair<uint32_t, uint32_t> start;
  Bytes data;
  handset_.Play([&](ScriptedHandset& h) {
    start = ReadStart(h);
    data = Want(h, 2048, 0x77);  // the first frame's checksum means nothing
    h.Send(Frame(0x27));         // status frames are ignored
    Bytes more = Want(h, 952, Sum8(data));
    data.insert(data.end(), more.begin(), more.end());
    h.Send(Finished(0x00));  // not compared by the file session
  });
  EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, path, link_, 0x300000, progress_.Callback()), 0);
  handset_.Join();
  EXPECT_EQ(start, (std::pair<uint32_t, uint32_t>{0x300000, 3000}));
  EXPECT_EQ(data, file);
  const Bytes first(file.begin(), file.begin() + 2048), second(file.begin() + 2048, file.end());
  EXPECT_THAT(progress_.Only(1, 0),
              ElementsAre(ProgressCall{1, 0, 0x300000, 2048, 0}, ProgressCall{1, 0, 0x300800, 952, 0}));
  EXPECT_THAT(progress_.Only(1, 1), ElementsAre(ProgressCall{1, 1, 2, 0, 0}, ProgressCall{1, 1, 0, Sum8(first), 0},
                                                ProgressCall{1, 1, 0, Sum8(second), 0}));
  EXPECT_TRUE(PauseLog().empty());
  EXPECT_THAT(traces_.Lines(), ElementsAre("Updater: FP_ImageOK received.", "Updater: FP_ImageOK received.",
                                           "Updater: Received FP_Finished"));
}

TEST_F(UsbSessionTest, HandsetChecksumThatDiffersEndsWith1) {
  const std::string path = WriteFile("manual.img", Pattern(600, 22));
  handset_.Play([&](ScriptedHandset& h) {
    ReadStart(h);
    Bytes block = Want(h, 300, 0);
    h.Send(Frame(0x26, 300, static_cast<uint8_t>(Sum8(block) + 1)));
  });
  EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, path, link_, 0, nullptr), Result::Error);
  handset_.Join();
}

TEST_F(UsbSessionTest, ImageSetComparesAtFinishedAndSendsEveryVlfRecord) {
  const Bytes r1 = Pattern(500, 23), r2 = Pattern(700, 24);
  const std::string path = WriteFile("vlf.bin", Concat({Record(0x1000000, r1), Record(0x1100000, r2)}));
  session_.SetSelection(0, 0, 0, 0, 0, 0);  // type 7 ignores the flags
  std::vector<std::pair<uint32_t, uint32_t>> starts;
  Bytes data;
  handset_.Play([&](ScriptedHandset& h) {
    for (const Bytes* r : {&r1, &r2}) {
      starts.push_back(ReadStart(h));
      Bytes got = Want(h, static_cast<uint32_t>(r->size()), 0);
      data.insert(data.end(), got.begin(), got.end());
      h.Send(Finished(Sum8(got)));
    }
  });
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, path, link_, proto::kTypeVlf, progress_.Callback()), 0);
  handset_.Join();
  EXPECT_THAT(starts, ElementsAre(std::pair<uint32_t, uint32_t>{0x1000000, 500},
                                  std::pair<uint32_t, uint32_t>{0x1100000, 700}));
  EXPECT_EQ(data, Concat({r1, r2}));

  handset_.Play([&](ScriptedHandset& h) {
    ReadStart(h);
    Bytes got = Want(h, 500, 0);
    h.Send(Finished(static_cast<uint8_t>(Sum8(got) ^ 1)));
  });
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, path, link_, proto::kTypeVlf, nullptr), Result::Error);
  handset_.Join();
}

TEST_F(UsbSessionTest, ImageSetSelectsWithItsOwnCounters) {
  Bytes file;
  for (int i = 0; i < 5; ++i) file = Concat({file, Record(0x100000u * (i + 1), Pattern(64, static_cast<uint8_t>(i)))});
  const std::string path = WriteFile("imgset.bin", file);
  // The UART form's middle count must not leak into the USB form.
  session_.SetSelection(1, 1, 0, 0, 0, 0);
  session_.Selection().middleCountUart = 1;
  std::vector<uint32_t> addresses;
  handset_.Play([&](ScriptedHandset& h) {
    for (;;) {
      Bytes f = h.Read(16, 300);
      if (f.size() < 16) return;
      addresses.push_back(Le(f, 8));
      Want(h, 64, 0);
      h.Send(Finished(Sum8(Pattern(64, static_cast<uint8_t>(addresses.size() - 1)))));
    }
  });
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, path, link_, proto::kTypeImgset, nullptr), 0);
  handset_.Join();
  EXPECT_THAT(addresses, ElementsAre(0x100000, 0x200000, 0x300000));
}

TEST_F(UsbSessionTest, RefusalsFilesAndSilence) {
  const std::string path = WriteFile("manual.img", Pattern(100, 25));
  for (uint8_t verdict : {uint8_t{0x2B}, uint8_t{0x2C}}) {
    handset_.Play([&](ScriptedHandset& h) {
      ReadStart(h);
      h.Send(Frame(verdict));
    });
    EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, path, link_, 0, nullptr), Result::InvalidAddress);
    handset_.Join();
  }
  // A request beyond the buffer: 205, and not even the acknowledgement goes out.
  Bytes after;
  handset_.Play([&](ScriptedHandset& h) {
    ReadStart(h);
    h.Send(Frame(0x26, 0x210001));
    after = h.Drain(100);
  });
  EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, path, link_, 0, nullptr), Result::Internal);
  handset_.Join();
  EXPECT_TRUE(after.empty());
  // A request beyond the file: the acknowledgement, then 205.
  handset_.Play([&](ScriptedHandset& h) {
    ReadStart(h);
    h.Send(Frame(0x26, 101));
    after = h.Drain(100);
  });
  EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, path, link_, 0, nullptr), Result::Internal);
  handset_.Join();
  EXPECT_EQ(after.size(), 8u);

  handset_.Play([&](ScriptedHandset& h) { ReadStart(h); });
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, WriteFile("one.bin", Record(0, Pattern(10, 1))), link_, 7,
                                     nullptr),
            Result::NoResponse);
  handset_.Join();
  EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, scratch_.Root() + "/none", link_, 0, nullptr), Result::FileOpen);
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, scratch_.Root() + "/none", link_, 0, nullptr), Result::FileOpen);
}

}  // namespace
}  // namespace vantrel::test
