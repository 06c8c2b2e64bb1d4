// The operator's settings file unreadable, damaged or not writable while the
// buttons are used: the work goes on, the operator is told once that the
// settings are not saved, and no other key is lost.
#ifdef VANTREL_HAVE_SETTINGS

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "console/IniSettings.h"
#include "tests/robustness/FaultMatrix.h"

namespace vantrel::test {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t kImgsetAt = 0x4A0000;
const char* const kNotSaved = "\n  Settings not saved: ";

class SettingsFaults : public FaultMatrix {
 protected:
  void SetUp() override {
    FaultMatrix::SetUp();
    path_ = IniSettings::DefaultPath();
    fs::create_directories(fs::path(path_).parent_path());
  }

  // The window's settings store behind the operation buttons.
  void UseStore() {
    store_ = std::make_unique<IniSettings>(path_);
    // As the window does at start-up.
    rec.m_nDownloadNum = store_->ReadInt("FennikDL", "m_nDownloadNum", 0);
    control.reset();
    control = std::make_unique<OperationControl>(rec, con, store_.get());
  }

  void WriteRaw(const std::string& text) { std::ofstream(path_, std::ios::binary | std::ios::trunc) << text; }
  std::string ReadRaw() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

  void MakeImage() {
    if (image_.empty()) image_ = WriteRecordFile("imgset.img", {{kImgsetAt, Pattern(3000, 8)}});
  }
  // A DOWNLOAD that works whatever the settings do.
  void DownloadOnce() {
    MakeImage();
    con.Clear();
    PressDownloadImgset(image_);
    EXPECT_EQ(Messages(), std::vector<std::string>{"Download Finished"}) << con.Dump();
    EXPECT_EQ(con.LastState(), "Ready");
  }
  size_t NotSavedLines() const {
    size_t n = 0;
    for (const auto& [kind, text] : con.LogEntries()) {
      if (text.rfind(kNotSaved, 0) == 0) ++n;
    }
    return n;
  }

  // In a child process. 0 when the download worked and the operator was told.
  int DownloadWithTheDiskRefusingWrites() {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{16, 16};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    StartHandset();
    Connect();
    UseStore();
    DownloadOnce();
    const bool told = NotSavedLines() == 1 && con.Log().find(std::strerror(EFBIG)) != std::string::npos;
    if (!told) std::fprintf(stderr, "%s\n", con.Dump().c_str());
    return told && !HasFailure() ? 0 : 1;
  }

  std::string path_;
  std::string image_;
  std::unique_ptr<IniSettings> store_;
};

const std::string kOtherKeys =
    "; the operator's notes\n[FennikDL]\nUartPort=3\nm_nBaudRate=2\nm_strImageFileName=/images/imgset.img\n"
    "m_nDownloadNum=41\n[Other]\nkeep=me\n";

TEST_F(SettingsFaults, DamagedFileKeepsEveryOtherKey) {
  std::string garbage = "\x01\x02\xff binary junk\n[FennikDL\n=novalue\n";
  garbage += std::string("\0\0", 2) + "\n]broken[\n";
  WriteRaw(garbage + kOtherKeys + "[unterminated\nlast=1");
  StartHandset();
  Connect();
  UseStore();
  DownloadOnce();
  EXPECT_EQ(NotSavedLines(), 0u) << con.Dump();
  IniSettings check(path_);
  EXPECT_EQ(check.ReadInt("FennikDL", "m_nDownloadNum", 0), 42);
  EXPECT_EQ(check.ReadInt("FennikDL", "UartPort", 0), 3);
  EXPECT_EQ(check.ReadString("FennikDL", "m_strImageFileName", ""), "/images/imgset.img");
  EXPECT_EQ(check.ReadString("Other", "keep", ""), "me");
  const std::string raw = ReadRaw();
  EXPECT_NE(raw.find("\x01\x02\xff binary junk"), std::string::npos) << "lines the store does not know stay";
  EXPECT_NE(raw.find("last=1"), std::string::npos);
}

TEST_F(SettingsFaults, UnreadableFileIsLeftAloneAndTheOperatorIsToldOnce) {
  // A folder where the file should be: nothing can be read or written.
  fs::create_directories(fs::path(path_) / "keep");
  StartHandset();
  Connect();
  UseStore();
  DownloadOnce();
  ASSERT_EQ(NotSavedLines(), 1u) << con.Dump();
  EXPECT_NE(con.Log().find(path_ + " cannot be read"), std::string::npos) << con.Log();
  DownloadOnce();
  EXPECT_EQ(NotSavedLines(), 0u) << "told once, not at every download";
  EXPECT_TRUE(fs::is_directory(fs::path(path_) / "keep"));
  ExpectStartWorksAgain();
}

TEST_F(SettingsFaults, ReadOnlyFileStaysAsItWas) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser (see WriteRefusedByTheDisk)";
  WriteRaw(kOtherKeys);
  ::chmod(path_.c_str(), 0444);
  StartHandset();
  Connect();
  UseStore();
  DownloadOnce();
  EXPECT_EQ(NotSavedLines(), 1u) << con.Dump();
  EXPECT_NE(con.Log().find(" is read-only"), std::string::npos);
  EXPECT_EQ(ReadRaw(), kOtherKeys);
  ::chmod(path_.c_str(), 0600);
}

TEST_F(SettingsFaults, WriteRefusedByTheDiskKeepsTheOldFile) {
  // The file system refuses to let the file grow (as a full or read-only
  // disk would); in a child process, which reports through its exit code.
  WriteRaw(kOtherKeys);
  MakeImage();  // before the limit
  GTEST_FLAG_SET(death_test_style, "fast");
  EXPECT_EXIT(std::_Exit(DownloadWithTheDiskRefusingWrites()), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadRaw(), kOtherKeys) << "the old file must stay whole";
  for (const auto& entry : fs::directory_iterator(fs::path(path_).parent_path())) {
    EXPECT_EQ(entry.path().filename().string().find(".INI."), std::string::npos)
        << "a temporary file was left behind: " << entry.path();
  }
}

}  // namespace
}  // namespace vantrel::test

#endif  // VANTREL_HAVE_SETTINGS
