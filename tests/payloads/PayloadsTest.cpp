// The embedded payload catalogue.
#include <gtest/gtest.h>

#include <cstring>
#include <iterator>

#include "payloads/Payloads.h"
#include "tests/payloads/Catalogue.h"

namespace vantrel {
namespace {

using test::Expected;
using test::kCatalogue;

uint32_t BigEndian(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

TEST(Payloads, LengthsStorageAndHeaders) {
  for (const Expected& e : kCatalogue) {
    const Payload& p = e.get();
    SCOPED_TRACE(p.name);
    ASSERT_NE(nullptr, p.data);
    ASSERT_NE(nullptr, p.name);
    EXPECT_EQ(e.size, p.size);
    // Stored as a 32-bit little-endian count and four zero bytes before the data.
    const uint8_t* stored = p.data - 8;
    EXPECT_EQ(e.size, static_cast<uint32_t>(stored[0]) | stored[1] << 8 | stored[2] << 16 |
                          static_cast<uint32_t>(stored[3]) << 24);
    EXPECT_EQ(0, stored[4] | stored[5] | stored[6] | stored[7]);
    if (e.header) {
      EXPECT_EQ(e.size - 8, BigEndian(p.data + 4));
    }
    // The same object every time.
    EXPECT_EQ(&p, &e.get());
  }
  EXPECT_STREQ("preboot.img", PrebootImage().name);
  EXPECT_STREQ("flashdrv_nand.img", NandFlashLoaderImage().name);
  EXPECT_STREQ("boot2", Boot2Image().name);
}

TEST(Payloads, StandInsAreDistinctFiller) {
  if (!BuiltInPayloadsAreStandIns()) GTEST_SKIP() << "built with real payload files";
  // Not all zeros, and no two payloads share their opening bytes.
  for (size_t i = 0; i < std::size(kCatalogue); ++i) {
    const Payload& a = kCatalogue[i].get();
    size_t zeros = 0;
    for (uint32_t k = 0; k < a.size; ++k) zeros += a.data[k] == 0;
    EXPECT_LT(zeros, a.size / 64) << a.name;
    for (size_t j = i + 1; j < std::size(kCatalogue); ++j) {
      EXPECT_NE(0, std::memcmp(a.data + 8, kCatalogue[j].get().data + 8, 64)) << a.name;
    }
  }
}

}  // namespace
}  // namespace vantrel
