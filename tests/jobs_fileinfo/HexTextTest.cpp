#include <gtest/gtest.h>

#include "maintenance/HexText.h"

using vantrel::FormatHexUpper;
using vantrel::IsHexText;
using vantrel::ParseHexText;

TEST(HexText, AcceptsDigitsOfEitherCaseAndTheEmptyText) {
  EXPECT_TRUE(IsHexText(""));
  EXPECT_TRUE(IsHexText("0123456789abcdefABCDEF"));
  for (const char* bad : {"12G", "g", "0x10", " 1", "1 ", "-1", "1.0", "\xC3\xA9"}) EXPECT_FALSE(IsHexText(bad)) << bad;
}

TEST(HexText, ParsesUpToEightDigitsExactlyAndLongerTextsModulo2To32) {
  EXPECT_EQ(ParseHexText(""), 0u);
  EXPECT_EQ(ParseHexText("ABffff"), 0xABFFFFu);
  EXPECT_EQ(ParseHexText("7E8"), 0x7E8u);
  EXPECT_EQ(ParseHexText("FFFFFFFF"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseHexText("100000000"), 0u);
  EXPECT_EQ(ParseHexText("123456789"), 0x23456789u);
  EXPECT_EQ(ParseHexText("00000000000000ff"), 0xFFu);
}

TEST(HexText, FormatsUpperCaseWithoutLeadingZeros) {
  EXPECT_EQ(FormatHexUpper(0), "0");
  EXPECT_EQ(FormatHexUpper(0x1F00001), "1F00001");
  EXPECT_EQ(FormatHexUpper(0xFFFFFFFF), "FFFFFFFF");
}
