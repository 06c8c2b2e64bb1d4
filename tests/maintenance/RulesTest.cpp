// Dump range edges and default names, and the raw read-back's chunk buffer
// (the exchange tests cannot see the words it keeps).
#include <gtest/gtest.h>

#include "maintenance/DumpRanges.h"
#include "maintenance/RawChunkDecoder.h"

namespace vantrel {
namespace {

TEST(DumpRulesTest, RangeEdgesAndDefaultNames) {
  EXPECT_TRUE(NorDumpRangeValid(0, 1));
  EXPECT_FALSE(NorDumpRangeValid(0, 0x1FFFFFFF));  // the dialog's own TO limit lies far above the part
  EXPECT_TRUE(NandDumpRangeValid(0, 0x7FFFFFF));
  EXPECT_TRUE(NandDumpRangeValid(0x7FFFFFE, 0x7FFFFFF));
  EXPECT_FALSE(NandDumpRangeValid(0x7FFFFFF, 0x7FFFFFF));

  EXPECT_EQ(NorDumpFileName(0x20000, 0x1EAFFFF), "nordump0x20000_0x1eaffff.dmp");
  EXPECT_EQ(NandDumpFileName(0xAC0000, 0xCBFFFF), "nanddump0xac0000_0xcc0000.dmp");
  EXPECT_EQ(NandDumpFileName(0x5000000, 0x7FFFFFF), "vlf_area_dump.dmp");
  EXPECT_EQ(NandDumpFileName(0x7FFFFFE, 0x7FFFFFF), "nanddump0x7fffffe_0x8000000.dmp");
}

TEST(RawChunkDecoderTest, RunStoresCopiesWithinTheBuffer) {
  RawChunkDecoder d(20000);
  EXPECT_FALSE(d.AddWord(0x01020304, 0));
  EXPECT_FALSE(d.AddWord(0x12121212, 3));
  EXPECT_EQ(d.Count(), 20u);
  EXPECT_EQ(d.Word(0), 0x01020304u);
  for (uint32_t i = 1; i <= 4; ++i) EXPECT_EQ(d.Word(i), 0x12121212u);

  // The longest run, starting at the last word below the limit, still fits.
  for (int i = 5; i < 2047; ++i) ASSERT_FALSE(d.AddWord(0x0A0B0C0D, 0));
  EXPECT_TRUE(d.AddWord(0x55555555, 255));
  EXPECT_EQ(d.Count(), 8188u + 1024u);
  EXPECT_EQ(d.Word(RawChunkDecoder::kCapacityWords - 1), 0x55555555u);
  EXPECT_FALSE(d.NextChunk());
  EXPECT_EQ(d.Count(), 0u);
  EXPECT_EQ(d.Remaining(), 20000u - 9212u);
  EXPECT_EQ(d.Limit(), 8192u);
}

}  // namespace
}  // namespace vantrel
