// Block layer: byte order, checksums and their pause, frames, the image
// cursor, and block sends as the handset sees them on a pseudo-terminal.
#include <cstring>

#include "link/ResultCodes.h"
#include "protocol/BlockLayer.h"
#include "protocol/Constants.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

TEST(BlockLayerWords, SwapWordReversesBytes) {
  EXPECT_EQ(SwapWord(0xFFFF0004u), 0x0400FFFFu);
  EXPECT_EQ(SwapWord(0x12345678u), 0x78563412u);
}

class ChecksumTest : public FastTiming {};

TEST_F(ChecksumTest, WrapsAndPausesOnlyForSmallUartBlocks) {
  const uint8_t abc[] = {'a', 'b', 'c'};
  EXPECT_EQ(Checksum8(LinkMode::Usb, abc, 3), 0x26);
  EXPECT_TRUE(PauseLog().empty());
  EXPECT_EQ(Checksum8(LinkMode::Uart, abc, 3), 0x26);
  EXPECT_THAT(PauseLog(), ElementsAre("Checksum8:200"));

  timing::ClearRecording();
  Bytes big(0x20000, 1);
  EXPECT_EQ(Checksum8(LinkMode::Uart, big.data(), 0x20000), 0x00);  // 0x20000 ones wrap to 0
  EXPECT_EQ(Checksum8(LinkMode::Uart, big.data(), 0x1FFFF), 0xFF);
  EXPECT_THAT(PauseLog(), ElementsAre("Checksum8:200"));  // only the block below 128 KiB
  EXPECT_EQ(Checksum8(LinkMode::Usb, nullptr, 0), 0);
}

TEST(BlockLayerFrames, FramedCommandAndShortFrameBytes) {
  uint8_t frame[16];
  std::memset(frame, 0xEE, sizeof frame);
  const uint32_t words[2] = {SwapWord(0xFFFF0006u), SwapWord(1)};
  ASSERT_EQ(BuildFrame(frame, 0x33, words, 2, 0x1234), 4u);
  EXPECT_THAT(Bytes(frame, frame + 16),
              ElementsAre(0x33, 0, 0x34, 0x12, 0, 0, 0, 0, 0xFF, 0xFF, 0x00, 0x06, 0, 0, 0, 1));

  std::memset(frame, 0xEE, sizeof frame);
  ASSERT_EQ(BuildFrame(frame, 0x30, nullptr, 0, 0x0102), 2u);
  EXPECT_THAT(Bytes(frame, frame + 8), ElementsAre(0x30, 0, 0x02, 0x01, 0, 0, 0, 0));
  EXPECT_EQ(frame[8], 0xEE);  // a short frame is 8 bytes
}

TEST(BlockLayerSessions, EachHandsetHasItsOwnSequenceAndCursor) {
  // Two handsets in one process: what one session draws or takes must not
  // move the other's state.
  TargetSession one, two;
  std::vector<uint16_t> drawn;
  for (int i = 0; i < 8; ++i) drawn.push_back(one.NextSequenceValue());
  EXPECT_TRUE(std::all_of(drawn.begin(), drawn.end(), [](uint16_t v) { return v <= 0x7FFF; }));
  EXPECT_NE(std::count(drawn.begin(), drawn.end(), drawn[0]), 8);
  EXPECT_EQ(two.NextSequenceValue(), drawn[0]);  // a fresh session starts where `one` started

  const Bytes image = Pattern(64, 1);
  uint8_t out[16];
  ASSERT_TRUE(one.TakeImageBytes(image.data(), 64, out, 16));
  EXPECT_EQ(one.ImageCursor(), 16u);
  EXPECT_EQ(two.ImageCursor(), 0u);
  one.SetSelection(1, 1, 0, 0, 0, 0);
  EXPECT_EQ(two.Selection().head, 0);
}

TEST(BlockLayerImageCursor, RefusesRequestsPastTheEndWithoutCopying) {
  Bytes image = Pattern(1124, 3);
  Bytes out(2048, 0xEE);
  TargetSession session;
  ASSERT_TRUE(session.TakeImageBytes(image.data(), 1124, out.data(), 1024));
  EXPECT_EQ(session.ImageCursor(), 1024u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 1024, image.begin()));

  std::fill(out.begin(), out.end(), 0xEE);
  EXPECT_FALSE(session.TakeImageBytes(image.data(), 1124, out.data(), 1024));  // 100 remain
  EXPECT_EQ(session.ImageCursor(), 1024u);
  EXPECT_EQ(out[0], 0xEE);
  // A length that would wrap the cursor around is refused too.
  EXPECT_FALSE(session.TakeImageBytes(image.data(), 1124, out.data(), 0xFFFFFFFFu));
  ASSERT_TRUE(session.TakeImageBytes(image.data(), 1124, out.data(), 100));
  EXPECT_EQ(session.ImageCursor(), 1124u);
  }

class BlockSendTest : public ProtocolTest {};

TEST_F(BlockSendTest, CheckedSendInPiecesWithEchoedChecksum) {
  ScriptedHandset handset;
  OpenAt(kBaud115200);
  const Bytes block = Pattern(2500, 1);
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) {
    seen = h.Expect(2501);
    h.SendByte(seen.back());  // echo the checksum byte
  });
  session_.SetLastEchoedChecksum(0);
  timing::ClearRecording();
  EXPECT_EQ(SendBlockChecked(session_, LinkMode::Uart, link_, block.data(), 2500, progress_.Callback(), 0x4000), 0);
  handset.Join();
  EXPECT_EQ(Bytes(seen.begin(), seen.end() - 1), block);
  EXPECT_EQ(seen.back(), Sum8(block));
  EXPECT_EQ(session_.LastEchoedChecksum(), Sum8(block));
  EXPECT_THAT(progress_.calls, ElementsAre(ProgressCall{0, 0, 2500, 2500, 0}, ProgressCall{0, 0, 2500, 2500, 0},
                                           ProgressCall{0, 0, 2500, 2500, 0}, ProgressCall{1, 0, 0x4000, 2500, 0}));
  EXPECT_THAT(PauseLog(), ElementsAre("Checksum8:200"));
}

TEST_F(BlockSendTest, CheckedSendReportsAWrongEcho) {
  ScriptedHandset handset;
  OpenAt(kBaud115200);
  const Bytes block = Pattern(100, 2);
  handset.Play([&](ScriptedHandset& h) {
    Bytes got = h.Expect(101);
    h.SendByte(static_cast<uint8_t>(got.back() + 1));
  });
  EXPECT_EQ(SendBlockChecked(session_, LinkMode::Uart, link_, block.data(), 100, progress_.Callback(), 0), Result::Error);
  handset.Join();
  EXPECT_EQ(session_.LastEchoedChecksum(), static_cast<uint8_t>(Sum8(block) + 1));
  EXPECT_THAT(progress_.Only(0, 1), ElementsAre(ProgressCall{0, 1, 1, 100, 0}));
}

TEST_F(BlockSendTest, CheckedSendWithoutEchoTimesOut) {
  ScriptedHandset handset;
  OpenAt(kBaud115200);
  const Bytes block = Pattern(10, 2);
  EXPECT_EQ(SendBlockChecked(session_, LinkMode::Uart, link_, block.data(), 10, nullptr, 0), Result::NoResponse);
}

TEST_F(BlockSendTest, UsbSendsNeitherChecksumNorReadsAnEcho) {
  ScriptedHandset handset;
  OpenAt(kBaud115200);
  const Bytes block = Pattern(1500, 4);
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Drain(150); });
  EXPECT_EQ(SendBlockChecked(session_, LinkMode::Usb, link_, block.data(), 1500, progress_.Callback(), 7), 0);
  uint8_t sum = 0;
  EXPECT_EQ(SendBlockSummed(LinkMode::Usb, link_, block.data(), 1500, &sum, progress_.Callback(), 9), 0);
  handset.Join();
  EXPECT_EQ(sum, Sum8(block));
  EXPECT_EQ(seen, Concat({block, block}));
  EXPECT_THAT(progress_.Only(1, 0), ElementsAre(ProgressCall{1, 0, 7, 1500, 0}, ProgressCall{1, 0, 9, 1500, 0}));
  EXPECT_TRUE(PauseLog().empty());
}

TEST_F(BlockSendTest, RawSendAndCommandBlockBytes) {
  ScriptedHandset handset;
  OpenAt(kBaud115200);
  const Bytes block = Pattern(3000, 5);
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Drain(150); });
  SendRawWithSum(link_, block.data(), 3000);
  EXPECT_EQ(SendCommandBlock(link_, proto::kCmdImageStart, 0x20000, 190380, 6), 0);
  handset.Join();
  EXPECT_EQ(seen, Concat({block, Bytes{Sum8(block)}, WordsBe({0xFFFF0004u, 0x20000, 190380, 0xFF00FF00u})}));
  EXPECT_THAT(PauseLog(), ElementsAre("Checksum8:200"));
}

}  // namespace
}  // namespace vantrel::test
