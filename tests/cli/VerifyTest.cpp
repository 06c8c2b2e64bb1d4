// --verify's mapping from the blocks a download reported to the bytes of its
// file, and the comparison that names the first differing address.
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "cli/Verify.h"
#include "jobs/OperationRecord.h"
#include "link/ResultCodes.h"
#include "protocol/TargetSession.h"
#include "tests/support/QueuedLine.h"
#include "tests/support/ResultNumbers.h"
#include "tests/support/FastTiming.h"

namespace vantrel::cli {
namespace {

constexpr FlashRegion N = FlashRegion::Nand;

class TempFile {
 public:
  explicit TempFile(const std::vector<uint8_t>& bytes) {
    char tmpl[] = "/tmp/vantrel-verify-XXXXXX";
    int fd = mkstemp(tmpl);
    path_ = tmpl;
    if (fd >= 0) {
      ssize_t n = write(fd, bytes.data(), bytes.size());
      (void)n;
      close(fd);
    }
  }
  ~TempFile() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

void Put32(std::vector<uint8_t>& v, uint32_t w) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(w >> (8 * i)));
}

std::vector<uint8_t> Bytes(size_t n, uint8_t first) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(first + i * 7);
  return v;
}

// Three records; the download sends the first and the third only.
struct RecordFile {
  std::vector<uint8_t> a = Bytes(0x300, 1), b = Bytes(0x100, 2), c = Bytes(0x200, 3);
  std::vector<uint8_t> bytes;
  RecordFile() {
    Put32(bytes, 0x4A0000);
    Put32(bytes, static_cast<uint32_t>(a.size()));
    bytes.insert(bytes.end(), a.begin(), a.end());
    Put32(bytes, 0x4A0000);  // the same address again: only the order tells them apart
    Put32(bytes, static_cast<uint32_t>(b.size()));
    bytes.insert(bytes.end(), b.begin(), b.end());
    Put32(bytes, 0x4A0300);
    Put32(bytes, static_cast<uint32_t>(c.size()));
    bytes.insert(bytes.end(), c.begin(), c.end());
  }
};

TEST(CliVerify, RecordBlocksMapToTheirRecordsAndMerge) {
  RecordFile rf;
  TempFile f(rf.bytes);
  VerifySource src{Layout::Records, FlashRegion::Nand, f.path(), 0, ""};
  // Blocks of 0x200 and 0x100 for the first record, a resend of the second
  // block, then the third record right behind the first.
  std::vector<FlashRange> ranges = {{N, 0x4A0000, 0x200}, {N, 0x4A0200, 0x100}, {N, 0x4A0200, 0x100},
                                      {N, 0x4A0300, 0x200}};
  std::vector<Span> spans;
  std::string error;
  ASSERT_TRUE(BuildSpans(src, ranges, spans, error)) << error;
  ASSERT_EQ(spans.size(), 1u);  // adjacent ranges read back in one go
  EXPECT_EQ(spans[0].address, 0x4A0000u);
  std::vector<uint8_t> expect = rf.a;
  expect.insert(expect.end(), rf.c.begin(), rf.c.end());
  EXPECT_EQ(spans[0].expected, expect);
}

TEST(CliVerify, ABlockOutsideTheFileIsNamed) {
  RecordFile rf;
  TempFile f(rf.bytes);
  VerifySource src{Layout::Records, FlashRegion::Nand, f.path(), 0, ""};
  std::vector<Span> spans;
  std::string error;
  EXPECT_FALSE(BuildSpans(src, {{N, 0x600000, 0x10}}, spans, error));
  EXPECT_NE(error.find("0x600000"), std::string::npos) << error;
  src.path = "/no/such/file";
  EXPECT_FALSE(BuildSpans(src, {{N, 0x4A0000, 0x10}}, spans, error));
  EXPECT_NE(error.find("cannot read"), std::string::npos);
}

TEST(CliVerify, RawAndStreamLayouts) {
  std::vector<uint8_t> file = Bytes(0x500, 9);
  TempFile f(file);
  std::vector<Span> spans;
  std::string error;
  VerifySource raw{Layout::Raw, FlashRegion::Nor, f.path(), 0x1FE0000, ""};
  ASSERT_TRUE(BuildSpans(raw, {{N, 0x1FE0000, 0x400}, {N, 0x1FE0400, 0x100}}, spans, error)) << error;
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].flash, FlashRegion::Nor);
  EXPECT_EQ(spans[0].expected, file);
  // Past the end of the file.
  spans.clear();
  EXPECT_FALSE(BuildSpans(raw, {{N, 0x1FE0400, 0x200}}, spans, error));

  // A stream lands where the loader writes it; a block reported twice at the
  // same address is a resend, not the next part of the file.
  spans.clear();
  VerifySource stream{Layout::Stream, FlashRegion::Nand, f.path(), 0x5000000, ""};
  ASSERT_TRUE(BuildSpans(stream, {{N, 7, 0x300}, {N, 7, 0x300}, {N, 0x307, 0x200}}, spans, error)) << error;
  ASSERT_EQ(spans.size(), 1u);
  EXPECT_EQ(spans[0].address, 0x5000000u);
  EXPECT_EQ(spans[0].expected, file);
}

TEST(CliVerify, FirstDifference) {
  std::vector<uint8_t> a = {1, 2, 3, 4};
  EXPECT_FALSE(FirstDifference(0x100, a, a));
  EXPECT_EQ(FirstDifference(0x100, a, {1, 2, 7, 4}), 0x102u);
  EXPECT_EQ(FirstDifference(0x100, a, {1, 2}), 0x102u);  // a short read-back
  EXPECT_FALSE(FirstDifference(0x100, a, {1, 2, 3, 4, 5}));
}

TEST(CliVerify, TransfersNameTheirFiles) {
  OperationRecord rec;
  rec.m_strImageFileName = "i.img";
  rec.m_strManualNandImage = "m.img";
  rec.m_nStartAddress = 0x40000;
  rec.m_strFactoryFSFileName = "f.vlf";
  rec.m_nLinkMode = LinkMode::Uart;
  auto source = [&rec](ImageItem item, FlashRegion region = N) { return SourceForTransfer({item, region, {}}, rec); };
  VerifySource s = source(ImageItem::Imgset);
  EXPECT_EQ(s.layout, Layout::Records);
  EXPECT_EQ(s.path, "i.img");
  EXPECT_EQ(source(ImageItem::Imgset, FlashRegion::Nor).flash, FlashRegion::Nor);
  s = source(ImageItem::Manual);
  EXPECT_EQ(s.layout, Layout::Raw);
  EXPECT_EQ(s.path, "m.img");
  EXPECT_EQ(s.base, 0x40000u);
  EXPECT_EQ(source(ImageItem::FileSystem).layout, Layout::Stream);
  rec.m_nLinkMode = LinkMode::Usb;
  EXPECT_EQ(source(ImageItem::FileSystem).layout, Layout::Records);
  EXPECT_EQ(source(ImageItem::Boot2).layout, Layout::None);
  EXPECT_EQ(source(ImageItem::EntireFlash).layout, Layout::None);
  EXPECT_EQ(TransferName({ImageItem::Imgset, FlashRegion::Nor, {}}), "NOR : Imgset Download");
}

// A handset that sends more than the range (more blocks, or one block longer
// than the range): the read-back keeps at most the range it asked for and
// fails, instead of growing without end and passing.
TEST(CliVerify, ReadBackTakesNoMoreThanTheRange) {
  struct Case {
    uint32_t range;
    int blocks;  // of 0x100 bytes each
  };
  for (const Case c : {Case{0x100, 3}, Case{0x80, 1}}) {
    test::FastTimingScope fast;
    test::QueuedLineScope handset;
    std::vector<uint8_t> block = {0x2E, 0, 0, 1, 0};  // FP_ReturnBlockSize, 0x100 bytes
    block.resize(block.size() + 0x100, 0x5A);
    block.push_back(0);  // the block's checksum
    for (int i = 0; i < c.blocks; ++i) handset.Feed(block);
    handset.Feed({0x29});  // FP_Finished
    OperationRecord rec;
    rec.m_nLinkMode = LinkMode::Usb;
    TargetSession session;
    std::vector<uint8_t> got;
    EXPECT_EQ(ReadBackFlash(session, rec, FlashRegion::Nand, 0x4A0000, c.range, got, nullptr), 205)
        << "range 0x" << std::hex << c.range;
    EXPECT_LE(got.size(), c.range);
  }
}

}  // namespace
}  // namespace vantrel::cli
