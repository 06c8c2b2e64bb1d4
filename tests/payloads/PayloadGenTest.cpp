// The generator's refusal of wrong files, and the run-time lookup of a
// payload folder (Linux: the generator runs as a program of the build
// machine, and the folders follow the XDG rules).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "payloads/Payloads.h"
#include "tests/payloads/Catalogue.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel {
namespace {

using test::Expected;
using test::kCatalogue;

// Runs the generator on a folder; returns its exit status and its messages.
int RunGenerator(const std::string& out, const std::string& dir, std::string* messages) {
  std::string cmd = std::string("'") + VANTREL_PAYLOAD_GEN + "' '" + out + "'";
  if (!dir.empty()) cmd += " '" + dir + "'";
  cmd += " 2>&1";
  FILE* pipe = ::popen(cmd.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buf[512];
  messages->clear();
  while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) messages->append(buf, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class PayloadGen : public ::testing::Test {
 protected:
  // The nine files, each as the check wants it, in `folder` (default: dir).
  void WriteAll(const std::string& folder = "") {
    for (const Expected& e : kCatalogue) Write(e.file, e.size, e.header ? e.size - 8 : 0, folder);
  }
  void Write(const std::string& file, uint32_t size, uint32_t headerRest, const std::string& folder = "") {
    std::vector<char> bytes(size, 0x42);
    if (headerRest != 0) {
      bytes[4] = static_cast<char>(headerRest >> 24);
      bytes[5] = static_cast<char>(headerRest >> 16);
      bytes[6] = static_cast<char>(headerRest >> 8);
      bytes[7] = static_cast<char>(headerRest);
    }
    const std::string where = folder.empty() ? dir : folder;
    std::filesystem::create_directories(where);
    std::ofstream(where + "/" + file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  }
  test::ScratchConfig scratch;  // only for its fresh temporary folder
  std::string dir = scratch.Root();
  std::string out = scratch.Root() + "/PayloadData.cpp";
  std::string messages;
};

TEST_F(PayloadGen, StandInsAreTheSameEveryTime) {
  ASSERT_EQ(0, RunGenerator(out, "", &messages)) << messages;
  const std::string first = ReadFile(out);
  ASSERT_EQ(0, RunGenerator(out, "", &messages)) << messages;
  EXPECT_EQ(first, ReadFile(out));
  EXPECT_NE(std::string::npos, first.find("bool BuiltInPayloadsAreStandIns() { return true; }"));
}

TEST_F(PayloadGen, RealFilesAreEmbedded) {
  WriteAll();
  ASSERT_EQ(0, RunGenerator(out, dir, &messages)) << messages;
  const std::string text = ReadFile(out);
  EXPECT_NE(std::string::npos, text.find("bool BuiltInPayloadsAreStandIns() { return false; }"));
  EXPECT_NE(std::string::npos, text.find("66,66,66,"));
}

// The generator and the program share one check; the generator names every
// problem of a folder at once.
TEST_F(PayloadGen, BadFolderFailsNamingEachFileWithBothLengths) {
  WriteAll();
  std::remove((dir + "/boot1b.img").c_str());
  Write("boot2.img", 190379, 0);
  Write("flashdrv_nor.img", 8396, 8396);  // the whole length instead of length - 8
  EXPECT_EQ(1, RunGenerator(out, dir, &messages));
  for (const std::string& line : {"payload_gen: missing in " + dir + ": boot1b.img (41552 bytes)",
                                  "payload_gen: " + dir + "/boot2.img: 190379 bytes, 190380 expected",
                                  "payload_gen: " + dir + "/flashdrv_nor.img: its header gives 8396 bytes after the header, 8388 expected"})
    EXPECT_NE(std::string::npos, messages.find(line)) << messages;
}

// What stands at a payload's name is checked for what it is and for its
// length before a byte of it is read: nothing throws, nothing waits for a
// writer, nothing is read whole. A link to a good file is fine.
TEST_F(PayloadGen, EachFileIsCheckedBeforeItIsRead) {
  namespace fs = std::filesystem;
  WriteAll();
  const std::string boot2 = dir + "/boot2.img", good = scratch.Root() + "/good.img";
  fs::rename(boot2, good);
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { fs::create_directory(boot2); }, boot2 + ": a folder"},
      {[&] { ::mkfifo(boot2.c_str(), 0600); }, boot2 + ": not a regular file"},
      {[&] { fs::create_symlink("/dev/zero", boot2); }, boot2 + ": not a regular file"},
      {[&] { std::ofstream(boot2).close(), fs::resize_file(boot2, 3ull << 30); },
       boot2 + ": 3221225472 bytes, 190380 expected"},
      {[&] { fs::create_symlink(good, boot2); }, ""},
  };
  for (const auto& [make, problem] : cases) {
    SCOPED_TRACE(problem);
    fs::remove_all(boot2);
    make();
    const PayloadFolder f = ReadPayloadFolder(dir);
    EXPECT_TRUE(f.missing.empty());
    EXPECT_EQ(f.problems, problem.empty() ? std::vector<std::string>{} : std::vector<std::string>{problem});
  }
}

using PayloadLookup = PayloadGen;

// Only scratch folders are searched: the search is given, not read from the
// environment, so an installed set cannot leak in.
TEST_F(PayloadLookup, FirstFolderHoldingAPayloadFileDecides) {
  const std::string root = scratch.Root();
  const std::string sub = "/vantrel-downloader/payloads";
  const std::string home = root + "/home/.local/share" + sub, site1 = root + "/site1" + sub,
                    site2 = root + "/site2" + sub, data = root + "/data" + sub;
  PayloadSearch search{"", "", {home, site1, site2}};

  if (BuiltInPayloadsAreStandIns()) {
    EXPECT_EQ(FindPayloads(search)->Notice(), kStandInPayloadsNotice);
  }
  WriteAll(site2);
  EXPECT_EQ(FindPayloads(search)->Notice(), "handset payloads: " + site2);
  WriteAll(site1);
  EXPECT_EQ(FindPayloads(search)->Folder(), site1);

  // An earlier folder with one wrong file is refused, not passed over.
  search.system.insert(search.system.begin(), data);
  Write("boot2.img", 190379, 0, data);
  const auto refused = FindPayloads(search);
  EXPECT_FALSE(refused->Usable());
  EXPECT_EQ(refused->Notice(), "handset payloads refused: missing in " + data +
                                   ": sdraminit.img (2656 bytes), preboot.img (1292 bytes), flashdrv_all.img (15796 "
                                   "bytes), flashdrv_nor.img (8396 bytes), flashdrv_nand.img (46940 bytes), "
                                   "sec_boot.img (2904 bytes), boot1a.img (4548 bytes), boot1b.img (41552 bytes); " +
                                   data + "/boot2.img: 190379 bytes, 190380 expected");
  EXPECT_EQ(refused->Get(PayloadId::Preboot).data, nullptr);

  // A folder the operator names decides even when it holds nothing; the
  // command line's comes before the variable's.
  search.variable = root + "/nowhere";
  EXPECT_EQ(FindPayloads(search)->Notice(), "handset payloads refused: " + root + "/nowhere: no such folder");
  search.option = site2;
  const auto chosen = FindPayloads(search);
  EXPECT_EQ(chosen->Folder(), site2);

  // Every sender reads the chosen set.
  UsePayloads(chosen);
  EXPECT_EQ(Boot2Image().size, 190380u);
  EXPECT_EQ(Boot2Image().data[190379], 0x42);
  EXPECT_EQ(NorFlashLoaderImage().data[7], (8396 - 8) & 0xFF);
  UsePayloads(nullptr);
  EXPECT_EQ(ActivePayloads().From(), PayloadSet::Source::BuiltIn);
}

}  // namespace
}  // namespace vantrel
