// The files layer on this platform (the same cases for the POSIX and the
// Win32 backend): what stands at a path is refused for what it is, exact
// reads, locked appends that keep their own lines, nested folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/Files.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::platform {
namespace {

std::string Contents(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

TEST(Files, ReadsExactlyAndRefusesWhatIsNoFileOfTheLength) {
  test::ScratchConfig scratch;
  const std::string root = scratch.Root(), file = root + "/six.bin";
  std::ofstream(file, std::ios::binary) << "abcdef";
  std::vector<uint8_t> bytes;
  EXPECT_FALSE(ReadExactFile(file, 6, Links::Refuse, &bytes));
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "abcdef");

  const FileError shorter = ReadExactFile(file, 7, Links::Refuse, &bytes);
  EXPECT_EQ(FileErrorText(shorter), "6 bytes, 7 expected");
  EXPECT_TRUE(bytes.empty());
  EXPECT_EQ(ReadExactFile(root, 6, Links::Follow, &bytes).fault, FileFault::Folder);
  EXPECT_EQ(ReadExactFile(root + "/none", 6, Links::Follow, &bytes).fault, FileFault::Missing);
}

TEST(Files, AppendsUnderALockInLinesOfTheirOwnAndMakesFolders) {
  test::ScratchConfig scratch;
  const std::string folder = scratch.Root() + "/a/b/c", log = folder + "/log.txt";
  ASSERT_FALSE(MakeFolders(folder));
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  EXPECT_FALSE(MakeFolders(folder));  // there already
  ASSERT_FALSE(AppendLocked(log, "one\n", true));
  std::ofstream(log, std::ios::binary | std::ios::app) << "cut sho";  // a writer killed mid-line
  ASSERT_FALSE(AppendLocked(log, "two\n", true));
  ASSERT_FALSE(AppendLocked(log, "three", false));
  EXPECT_EQ(Contents(log), "one\ncut sho\ntwo\nthree");
  EXPECT_EQ(AppendLocked(folder, "x\n", true).fault, FileFault::Folder);
}

}  // namespace
}  // namespace vantrel::platform
