#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/FileInfo.h"
#include "tests/support/RecordingConsole.h"

using namespace vantrel;
namespace fs = std::filesystem;

namespace {

class FileInfoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("fileinfo_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Make(const std::string& name, const std::vector<unsigned char>& bytes) {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                             static_cast<std::streamsize>(bytes.size()));
    return p.string();
  }
  fs::path dir_;
};

}  // namespace

TEST_F(FileInfoTest, SmallFileHasItsLengthAndByteSum) {
  std::string p = Make("three.img", {0x01, 0x02, 0xFF});
  EXPECT_EQ(GetFileLength(p), 3u);
  auto s = SummariseFile(p);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length, 3u);
  EXPECT_EQ(s->sum, 0x102u);
  std::string empty = Make("empty.img", {});
  EXPECT_EQ(GetFileLength(empty), 0u);
  ASSERT_TRUE(SummariseFile(empty));
  EXPECT_EQ(SummariseFile(empty)->sum, 0u);
}

TEST_F(FileInfoTest, SumOverManyPiecesEqualsTheWholeSum) {
  std::vector<unsigned char> bytes(700 * 1024 + 13);
  uint32_t expect = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<unsigned char>(i * 7 + (i >> 9));
    expect += bytes[i];
  }
  std::string p = Make("big.img", bytes);
  auto s = SummariseFile(p);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->length, bytes.size());
  EXPECT_EQ(s->sum, expect);
}

TEST_F(FileInfoTest, WhatIsNotARegularReadableFileCountsAsUnopened) {
  EXPECT_EQ(GetFileLength(""), 0u);
  EXPECT_EQ(GetFileLength((dir_ / "missing.img").string()), 0u);
  EXPECT_FALSE(CanReadFile((dir_ / "missing.img").string()));
  // A folder opens on this platform; it is still not an image file.
  EXPECT_FALSE(CanReadFile(dir_.string()));
  EXPECT_EQ(GetFileLength(dir_.string()), 0u);
  EXPECT_FALSE(SummariseFile(dir_.string()));
#ifdef _WIN32
  // A device name opens the device, not a file.
  const std::string device = "NUL";
#else
  // A pipe without a writer must not hang the caller.
  const std::string device = (dir_ / "pipe.img").string();
  ASSERT_EQ(::mkfifo(device.c_str(), 0600), 0);
#endif
  EXPECT_FALSE(CanReadFile(device));
  EXPECT_EQ(GetFileLength(device), 0u);
}

TEST_F(FileInfoTest, FileInformationRowGetsNameAndUpperCaseChecksum) {
  test::RecordingConsole con;
  std::string p = Make("Q77T_0612.img", {0xAB, 0xCD, 0xEF});
  ShowFileName(con, p);
  ShowFileChecksum(con, p);
  EXPECT_EQ(con.ControlText(ctl::kFileName), "Q77T_0612.img");
  EXPECT_EQ(con.ControlText(ctl::kCheckSum), "0x267");
  // An unreadable file leaves the checksum box alone.
  con.Clear();
  ShowFileChecksum(con, (dir_ / "gone.img").string());
  EXPECT_TRUE(con.Calls().empty());
  EXPECT_EQ(FileNamePart("plain"), "plain");
  EXPECT_EQ(FileNamePart("/a/b/"), "");
}

TEST(CompanionPaths, PackageTreeNamesLookUnderTheBuildFolderAboveTheirOwn) {
  CompanionPaths c = DeriveCompanionPaths("/work/pkg/img/Q77T_0612.img");
  EXPECT_EQ(c.calset, "/work/pkg/build/mavo_bin/Q77T_calset.img");
  EXPECT_EQ(c.rsrc1, "/work/pkg/build/tzk_bin/Q77T.rc1");
  EXPECT_EQ(c.rsrc2, "/work/pkg/build/nand_img/Q77T.rc2");
  EXPECT_EQ(c.fileSystem, "/work/pkg/build/tzk_bin/Q77T.vlf");
  // A name without "Q77T" follows the same rule.
  CompanionPaths o = DeriveCompanionPaths("/work/pkg/img/other.img");
  EXPECT_EQ(o.calset, "/work/pkg/build/mavo_bin/Q77T_calset.img");
  EXPECT_EQ(o.fileSystem, "/work/pkg/build/tzk_bin/Q77T.vlf");
  // "Q77T_" anywhere in the name, even after a "Q77T" start.
  EXPECT_EQ(DeriveCompanionPaths("/a/b/Q77TX_Q77T_1.img").rsrc1, "/a/build/tzk_bin/Q77T.rc1");
  // A file one level below the root: the root is the empty prefix.
  EXPECT_EQ(DeriveCompanionPaths("/img/x.img").rsrc2, "/build/nand_img/Q77T.rc2");
}

TEST(CompanionPaths, PlainQ77TNamesSitBesideTheirCompanions) {
  CompanionPaths c = DeriveCompanionPaths("/work/Q77T.bin.img");
  EXPECT_EQ(c.calset, "/work/Q77T.img");
  EXPECT_EQ(c.rsrc1, "/work/Q77T.rc1");
  EXPECT_EQ(c.rsrc2, "/work/Q77T.rc2");
  EXPECT_EQ(c.fileSystem, "/work/Q77T.vlf");
  EXPECT_EQ(DeriveCompanionPaths("/work/Q77T.img").calset, "/work/Q77T.img");
  EXPECT_EQ(DeriveCompanionPaths("/work/Q77Tfull").rsrc1, "/work/Q77Tfull.rc1");
}
