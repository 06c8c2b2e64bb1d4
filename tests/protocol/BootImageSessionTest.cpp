// TOOL_DownloadImage: the boot-image session that follows the flash driver,
// on a per-step port.
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "payloads/Payloads.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

class BootImageSessionTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    link_.baudCode = kBaud921600;
    session_.SetImageCursor(0);
  }

  // Handset: answers the start request and takes address and length.
  static Bytes Start(ScriptedHandset& h) {
    EXPECT_THAT(h.Expect(1), ElementsAre(0x5A));
    h.SendByte(0xA5);
    return h.Expect(8);
  }

  // Handset: requests a block of the embedded image the raw way.
  static Bytes RawBlock(ScriptedHandset& h, uint32_t length) {
    h.SendByte(0x2E);
    h.SendWordBe(length);
    return h.Expect(length + 1);
  }

  // Runs a session whose handset ends it with `last` after the start.
  Result EndedBy(uint8_t last) {
    ScriptedHandset handset;
    handset.Play([&](ScriptedHandset& h) {
      Start(h);
      h.SendByte(last);
    });
    const Result rc = TOOL_DownloadImage(session_, link_, 0, progress_.Callback(), proto::kSelectSecBoot);
    handset.Join();
    EXPECT_FALSE(link_.IsOpen());
    return rc;
  }
};

TEST_F(BootImageSessionTest, OutOfSyncRetriesThenTheWholeImage) {
  ScriptedHandset handset;
  const Payload& image = SecBootImage();
  Bytes startWords, data, acks;
  handset.Play([&](ScriptedHandset& h) {
    EXPECT_THAT(h.Expect(1), ElementsAre(0x5A));
    h.SendByte(0x00);
    EXPECT_THAT(h.Expect(1), ElementsAre(0x5A));
    h.SendByte(0x00);
    startWords = Start(h);
    h.SendByte(0x26);
    acks = h.Expect(1);
    for (uint32_t len : {1024u, 1024u, 856u}) {
      Bytes got = RawBlock(h, len);
      EXPECT_EQ(got.back(), Sum8(Bytes(got.begin(), got.end() - 1)));
      data.insert(data.end(), got.begin(), got.end() - 1);
    }
    h.SendByte(0x27);
    Bytes ack = h.Expect(1);
    acks.insert(acks.end(), ack.begin(), ack.end());
    h.SendByte(0x29);
  });
  EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0, progress_.Callback(), proto::kSelectSecBoot), 0);
  handset.Join();
  EXPECT_EQ(startWords, WordsBe({0, kSecBootImageSize}));
  EXPECT_EQ(data, Bytes(image.data, image.data + image.size));
  EXPECT_THAT(acks, ElementsAre(0x2D, 0x2D));
  EXPECT_EQ(link_.baudCode, kBaud921600);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_TRUE(progress_.calls.empty());  // raw blocks report nothing
  EXPECT_THAT(PauseLog(), ElementsAre("OpenPort:100", "TOOL_DownloadImage:3000", "TOOL_DownloadImage:1000",
                                      "TOOL_DownloadImage:1000", "Checksum8:200", "Checksum8:200",
                                      "Checksum8:200", "ClosePort:1000"));
  EXPECT_THAT(traces_.Lines(),
              ElementsAre("Updater: Entering TOOL_DownloadImage", "Updater: Sending FP_StartReq",
                          "Updater: out-of-sync - trying again", "Updater: Sending FP_StartReq",
                          "Updater: out-of-sync - trying again", "Updater: Sending FP_StartReq",
                          "Updater: Received FP_StartOK", "Updater: Received FP_ImageOK",
                          "Updater: Received FP_ReturnBlockSize", "Updater: Received FP_ReturnBlockSize",
                          "Updater: Received FP_ReturnBlockSize", "Updater: Received FP_SectorOK",
                          "Updater: Received FP_Finished"));
}

TEST_F(BootImageSessionTest, SelectorsPickTheImageAndTheCursorCarriesOver) {
  ScriptedHandset handset;
  Bytes startWords, data;
  handset.Play([&](ScriptedHandset& h) {
    startWords = Start(h);
    Bytes got = RawBlock(h, 100);
    data.assign(got.begin(), got.end() - 1);
    h.SendByte(0x29);
  });
  session_.SetImageCursor(48);  // the session does not reset the cursor itself
  EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0x4000, progress_.Callback(), 's'), 0);
  handset.Join();
  EXPECT_EQ(startWords, WordsBe({0x4000, kBoot1bImageSize}));
  EXPECT_EQ(data, Bytes(Boot1bImage().data + 48, Boot1bImage().data + 148));
  EXPECT_EQ(session_.ImageCursor(), 148u);

  handset.Play([&](ScriptedHandset& h) {
    startWords = Start(h);
    h.SendByte(0x29);
  });
  EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0x1000, progress_.Callback(), 'r'), 0);
  handset.Join();
  EXPECT_EQ(startWords, WordsBe({0x1000, kBoot1aImageSize}));
}

TEST_F(BootImageSessionTest, ResendIsCheckedAndAWrongEchoEndsWith1) {
  ScriptedHandset handset;
  Bytes first, resent;
  handset.Play([&](ScriptedHandset& h) {
    Start(h);
    first = RawBlock(h, 512);
    h.SendByte(0x27);
    h.Expect(1);
    h.SendByte(0x2A);
    resent = h.Expect(513);
    h.SendByte(static_cast<uint8_t>(resent.back() ^ 0xFF));
  });
  EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0x100, progress_.Callback(), 'q'), Result::Error);
  handset.Join();
  EXPECT_EQ(resent, first);
  // The resend reports at the address after the acknowledged sector.
  EXPECT_THAT(progress_.Only(1, 0), ElementsAre(ProgressCall{1, 0, 0x100 + 512, 512, 0}));
  EXPECT_THAT(progress_.Only(0, 1), ElementsAre(ProgressCall{0, 1, 1, 512, 0}));
}

TEST_F(BootImageSessionTest, RequestsPastTheImageOrTheBufferAre205WithNothingSent) {
  for (uint32_t length : {kSecBootImageSize + 1, 0x40001u, 0xFFFFFFFFu}) {
    ScriptedHandset handset;
    Bytes after;
    handset.Play([&](ScriptedHandset& h) {
      Start(h);
      h.SendByte(0x2E);
      h.SendWordBe(length);
      after = h.Drain(100);
    });
    session_.SetImageCursor(0);
    EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0, progress_.Callback(), 'q'), Result::Internal) << length;
    handset.Join();
    EXPECT_TRUE(after.empty()) << length;
    EXPECT_EQ(session_.ImageCursor(), 0u);
  }
}

TEST_F(BootImageSessionTest, HandsetVerdicts) {
  EXPECT_EQ(EndedBy(0x28), Result::Sync);
  EXPECT_TRUE(traces_.Contains("Updater: Received FP_Failed"));
  EXPECT_EQ(EndedBy(0x2B), Result::InvalidAddress);
  EXPECT_TRUE(traces_.Contains("Updater: Received FP_AddrWrong"));
  EXPECT_EQ(EndedBy(0x2C), Result::InvalidAddress);
  EXPECT_TRUE(traces_.Contains("Updater: Received FP_ImageTooLarge"));
  EXPECT_EQ(EndedBy(0x30), Result::Internal);
  EXPECT_TRUE(progress_.calls.empty());
}

TEST_F(BootImageSessionTest, SilenceIs212AndUnusableRatesAre209) {
  {
    ScriptedHandset handset;
    handset.Play([&](ScriptedHandset& h) { Start(h); });
    EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0, nullptr, 'q'), Result::NoResponse);
    handset.Join();
    EXPECT_FALSE(link_.IsOpen());
  }
  ScriptedHandset handset;
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
  link_.baudCode = kBaud812000;
  timing::ClearRecording();
  EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0, nullptr, 'q'), Result::InvalidValue);
  handset.Join();
  EXPECT_TRUE(seen.empty());
  EXPECT_THAT(PauseLog(), ElementsAre("ClosePort:1000"));

  SetComOverride(ScriptedHandset::kComName, scratch_.Root() + "/unplugged");
  link_.baudCode = kBaud460800;
  EXPECT_EQ(TOOL_DownloadImage(session_, link_, 0, nullptr, 'q'), Result::ComPort);
  EXPECT_FALSE(link_.IsOpen());
}

}  // namespace
}  // namespace vantrel::test
