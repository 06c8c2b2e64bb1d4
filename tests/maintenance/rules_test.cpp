// Dump ranges, default names and the raw read-back's chunk decoding.
#include <gtest/gtest.h>

#include "maintenance/Maintenance.h"
#include "maintenance/RawReadBack.h"

namespace vantrel {
namespace {

TEST(DumpRangeTest, NorIsHalfOpenWithinThirtyTwoMegabytes) {
  EXPECT_TRUE(NorDumpRangeValid(0, 1));
  EXPECT_TRUE(NorDumpRangeValid(0x1FFFFFE, 0x1FFFFFF));
  EXPECT_FALSE(NorDumpRangeValid(0x1FFFFFE, 0x2000000));
  EXPECT_FALSE(NorDumpRangeValid(0x1FFFFFF, 0x1FFFFFF));
  EXPECT_FALSE(NorDumpRangeValid(0x100, 0x100));
  EXPECT_FALSE(NorDumpRangeValid(0x200, 0x100));
  EXPECT_FALSE(NorDumpRangeValid(0, 0));  // an untouched dialog
  EXPECT_FALSE(NorDumpRangeValid(0, 0x1FFFFFFF));  // the dialog's own TO limit is far above the part
}

TEST(DumpRangeTest, NandIsInclusiveWithinOneHundredTwentyEightMegabytes) {
  EXPECT_TRUE(NandDumpRangeValid(0, 0x7FFFFFF));
  EXPECT_TRUE(NandDumpRangeValid(0x7FFFFFE, 0x7FFFFFF));
  EXPECT_FALSE(NandDumpRangeValid(0, 0x8000000));
  EXPECT_FALSE(NandDumpRangeValid(0x7FFFFFF, 0x7FFFFFF));
  EXPECT_FALSE(NandDumpRangeValid(0x500, 0x400));
  EXPECT_FALSE(NandDumpRangeValid(0, 0));
}

TEST(DumpRangeTest, DefaultNames) {
  EXPECT_EQ(NorDumpFileName(0x20000, 0x1EAFFFF), "nordump0x20000_0x1eaffff.dmp");
  EXPECT_EQ(NorDumpFileName(0, 0xFFFF), "nordump0x0_0xffff.dmp");
  EXPECT_EQ(NandDumpFileName(0xAC0000, 0xCBFFFF), "nanddump0xac0000_0xcc0000.dmp");
  EXPECT_EQ(NandDumpFileName(0, 0xABFFFF), "nanddump0x0_0xac0000.dmp");
  EXPECT_EQ(NandDumpFileName(0x5000000, 0x5000001), "vlf_area_dump.dmp");
  EXPECT_EQ(NandDumpFileName(0x5000001, 0x50FFFFF), "nanddump0x5000001_0x5100000.dmp");
  EXPECT_EQ(NandDumpFileName(0x7FFFFFE, 0x7FFFFFF), "nanddump0x7fffffe_0x8000000.dmp");
}

TEST(RawChunkDecoderTest, RunStoresCopiesAndCountsTheirBytes) {
  RawChunkDecoder d(0x4000);
  EXPECT_EQ(d.Limit(), 8192u);
  EXPECT_FALSE(d.AddWord(0x01020304, 0));
  EXPECT_FALSE(d.AddWord(0x12121212, 3));
  EXPECT_EQ(d.Count(), 20u);
  EXPECT_EQ(d.Remaining(), 0x4000u - 20);
  EXPECT_EQ(d.Word(0), 0x01020304u);
  for (uint32_t i = 1; i <= 4; ++i) EXPECT_EQ(d.Word(i), 0x12121212u);
}

TEST(RawChunkDecoderTest, ShortLengthIsOneChunkOfItsOwnSize) {
  RawChunkDecoder d(12);
  EXPECT_EQ(d.Limit(), 12u);
  EXPECT_FALSE(d.AddWord(1, 0));
  EXPECT_FALSE(d.AddWord(2, 0));
  EXPECT_TRUE(d.AddWord(3, 0));
  EXPECT_TRUE(d.NextChunk());
  EXPECT_EQ(d.Chunks(), 1u);
}

TEST(RawChunkDecoderTest, TwoFullChunksThenTheEnd) {
  RawChunkDecoder d(0x4000);
  // A chunk of 8192 bytes: one word and a run of 255 copies, repeated.
  int words = 0;
  bool complete = false;
  while (!complete) {
    complete = d.AddWord(0xAAAAAAAA, 255);
    ++words;
  }
  EXPECT_EQ(words, 8);  // 8 * 256 words = 8192 bytes
  EXPECT_EQ(d.Count(), 8192u);
  EXPECT_FALSE(d.NextChunk());
  EXPECT_EQ(d.Limit(), 8192u);
  for (int i = 0; i < 2047; ++i) ASSERT_FALSE(d.AddWord(0x01020304, 0));
  EXPECT_TRUE(d.AddWord(0x01020304, 0));
  EXPECT_TRUE(d.NextChunk());
  EXPECT_EQ(d.Chunks(), 2u);
}

TEST(RawChunkDecoderTest, RunPastTheLimitEndsTheChunkAndTheNextStartsEmpty) {
  RawChunkDecoder d(20000);
  for (int i = 0; i < 2047; ++i) ASSERT_FALSE(d.AddWord(0x01020304, 0));
  // The longest run starting at 8188 bytes: stays inside the buffer.
  EXPECT_TRUE(d.AddWord(0x55555555, 255));
  EXPECT_EQ(d.Count(), 8188u + 1024u);
  EXPECT_EQ(d.Word(2046 + 256), 0x55555555u);
  EXPECT_EQ(d.Remaining(), 20000u - 9212u);
  EXPECT_FALSE(d.NextChunk());
  EXPECT_EQ(d.Count(), 0u);
  EXPECT_EQ(d.Limit(), 8192u);
}

TEST(RawChunkDecoderTest, RunBeyondTheAnnouncedLengthEndsTheExchangeWithoutWrapping) {
  RawChunkDecoder d(8);
  EXPECT_TRUE(d.AddWord(0x07070707, 200));
  EXPECT_EQ(d.Remaining(), 0u);
  EXPECT_TRUE(d.NextChunk());

  // A length that is not a whole number of words ends on the word that passes it.
  RawChunkDecoder odd(6);
  EXPECT_FALSE(odd.AddWord(1, 0));
  EXPECT_TRUE(odd.AddWord(2, 0));
  EXPECT_EQ(odd.Remaining(), 0u);
  EXPECT_TRUE(odd.NextChunk());
}

}  // namespace
}  // namespace vantrel
