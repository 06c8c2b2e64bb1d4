#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "console/IniSettings.h"

using vantrel::IniSettings;
namespace fs = std::filesystem;

namespace {

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("settings_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    path_ = (dir_ / "vantrel-downloader" / "vantrel-downloader.INI").string();
  }
  void TearDown() override {
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(dir_, ec);
  }
  void WriteRaw(const std::string& text) {
    fs::create_directories(fs::path(path_).parent_path());
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::string ReadRaw() {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  fs::path dir_;
  std::string path_;
};

}  // namespace

TEST_F(SettingsTest, MissingFileGivesDefaultsAndTheFirstWriteCreatesIt) {
  IniSettings s(path_);
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", 7), 7);
  EXPECT_EQ(s.ReadString("FennikDL", "m_strImageFileName", ""), "");
  s.WriteInt("FennikDL", "UsbPort", 4);
  EXPECT_TRUE(s.LastWriteOk());
  EXPECT_EQ(ReadRaw(), "[FennikDL]\nUsbPort=4\n");
  EXPECT_EQ(IniSettings(path_).ReadInt("FennikDL", "UsbPort", 0), 4);
}

TEST_F(SettingsTest, ValuesRoundTripExactlyAndOverwriteInPlace) {
  IniSettings s(path_);
  const std::string odd = " C:\\pkg\\img\\Q77T_0612.img =;#[x]\"q\" ";
  s.WriteString("FennikDL", "m_strImageFileName", odd);
  s.WriteString("FennikDL", "m_strRscrFileName", "/home/op/build/tzk_bin/Q77T.rc1");
  s.WriteInt("FennikDL", "m_nDownloadNum", -12);
  s.WriteInt("FennikDL", "m_nBaudRate", INT_MAX);
  s.WriteString("FennikDL", "m_strImageFileName", odd + "2");
  IniSettings again(path_);
  EXPECT_EQ(again.ReadString("FennikDL", "m_strImageFileName", ""), odd + "2");
  EXPECT_EQ(again.ReadString("FennikDL", "m_strRscrFileName", ""), "/home/op/build/tzk_bin/Q77T.rc1");
  EXPECT_EQ(again.ReadInt("FennikDL", "m_nDownloadNum", 0), -12);
  EXPECT_EQ(again.ReadInt("FennikDL", "m_nBaudRate", 0), INT_MAX);
  // One line per key, no duplicates.
  std::string raw = ReadRaw();
  EXPECT_EQ(raw.find("m_strImageFileName"), raw.rfind("m_strImageFileName"));
  // An empty value is a value, not an absent key.
  s.WriteString("FennikDL", "m_strOgmPath", "");
  EXPECT_EQ(s.ReadString("FennikDL", "m_strOgmPath", "def"), "");
}

TEST_F(SettingsTest, SectionAndKeyNamesIgnoreCase) {
  IniSettings s(path_);
  s.WriteString("FennikDL", "m_strParamDepFileName", "/a/calset.img");
  s.WriteString("FennikDl", "m_strParamDepFileName", "/b/derived.img");
  EXPECT_EQ(s.ReadString("FENNIKDL", "M_STRPARAMDEPFILENAME", ""), "/b/derived.img");
  std::string raw = ReadRaw();
  EXPECT_EQ(raw, "[FennikDL]\nm_strParamDepFileName=/b/derived.img\n");
}

TEST_F(SettingsTest, OtherSectionsAndForeignLinesAreKept) {
  WriteRaw("; operator notes\r\n[Other]\r\nUartPort=9\r\n\r\n[fennikdl]\r\nUartPort=2\r\n\r\n[Tail]\r\nx=1\r\n");
  IniSettings s(path_);
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", 0), 2);
  s.WriteInt("FennikDL", "UsbPort", 3);
  s.WriteInt("FennikDL", "UartPort", 5);
  EXPECT_EQ(ReadRaw(),
            "; operator notes\r\n[Other]\r\nUartPort=9\r\n\r\n[fennikdl]\r\nUartPort=5\r\nUsbPort=3\r\n\r\n"
            "[Tail]\r\nx=1\r\n");
  EXPECT_EQ(s.ReadInt("Other", "UartPort", 0), 9);
}

TEST_F(SettingsTest, DamagedLinesNeitherCrashNorHideTheOtherKeys) {
  std::string garbage = "[FennikDL\n=novalue\n\x01\x02\xff\xfe binary\nno equals sign\n";
  garbage += std::string("\0\0\0", 3) + "\n";
  WriteRaw(garbage + "[FennikDL]\nUartPort=abc\nUsbPort=12xyz\nm_nBaudRate=  -2\nm_nDownloadNum=99999999999\n"
                     "]broken[\nm_strImageFileName=/img/a.img\n[unterminated\nlast=1");
  IniSettings s(path_);
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", 7), 0);  // not a number reads as 0
  EXPECT_EQ(s.ReadInt("FennikDL", "UsbPort", 7), 12);
  EXPECT_EQ(s.ReadInt("FennikDL", "m_nBaudRate", 7), -2);
  EXPECT_EQ(s.ReadInt("FennikDL", "m_nDownloadNum", 7), INT_MAX);
  EXPECT_EQ(s.ReadString("FennikDL", "m_strImageFileName", ""), "/img/a.img");
  s.WriteInt("FennikDL", "UartPort", 1);
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", 7), 1);
  EXPECT_EQ(s.ReadString("FennikDL", "m_strImageFileName", ""), "/img/a.img");
  std::string raw = ReadRaw();
  EXPECT_NE(raw.find("\x01\x02\xff\xfe binary"), std::string::npos);  // kept as it was
  EXPECT_NE(raw.find("last=1"), std::string::npos);
}

TEST_F(SettingsTest, ALineBreakInAValueIsNotStored) {
  IniSettings s(path_);
  s.WriteString("FennikDL", "m_strImageFileName", "/ok.img");
  s.WriteString("FennikDL", "m_strImageFileName", "/x.img\nUartPort=9");
  EXPECT_FALSE(s.LastWriteOk());
  EXPECT_EQ(s.ReadString("FennikDL", "m_strImageFileName", ""), "/ok.img");
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", -1), -1);
}

TEST_F(SettingsTest, AnUnreadableStoreGivesDefaultsAndIsNotReplaced) {
  // A folder where the file should be: it cannot be read, and writing must
  // not remove it.
  fs::create_directories(fs::path(path_) / "keep");
  IniSettings s(path_);
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", 3), 3);
  s.WriteInt("FennikDL", "UartPort", 1);
  EXPECT_FALSE(s.LastWriteOk());
  EXPECT_TRUE(fs::is_directory(fs::path(path_) / "keep"));
  // A settings folder that is a plain file: nothing can be written, no crash.
  fs::remove_all(dir_);
  fs::create_directories(dir_);
  std::ofstream(dir_ / "vantrel-downloader") << "not a folder";
  IniSettings t(path_);
  t.WriteInt("FennikDL", "UartPort", 1);
  EXPECT_FALSE(t.LastWriteOk());
  EXPECT_EQ(t.ReadInt("FennikDL", "UartPort", 5), 5);
}

TEST_F(SettingsTest, ReadOnlyFileOrFolderKeepsTheOldFileWhole) {
  if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
  IniSettings s(path_);
  s.WriteInt("FennikDL", "UartPort", 2);
  s.WriteString("FennikDL", "m_strImageFileName", "/img/a.img");
  std::string before = ReadRaw();
  fs::permissions(path_, fs::perms::owner_read);
  s.WriteInt("FennikDL", "UartPort", 3);
  EXPECT_FALSE(s.LastWriteOk());
  EXPECT_EQ(ReadRaw(), before);
  fs::permissions(path_, fs::perms::owner_read | fs::perms::owner_write);
  fs::permissions(fs::path(path_).parent_path(), fs::perms::owner_read | fs::perms::owner_exec);
  s.WriteInt("FennikDL", "UartPort", 4);
  EXPECT_FALSE(s.LastWriteOk());
  EXPECT_EQ(ReadRaw(), before);
  fs::permissions(path_, fs::perms::none);
  EXPECT_EQ(s.ReadInt("FennikDL", "UartPort", 9), 9);
}

TEST_F(SettingsTest, WritesThroughALinkKeepTheLink) {
  fs::create_directories(dir_ / "real");
  fs::create_directories(fs::path(path_).parent_path());
  std::string real = (dir_ / "real" / "store.INI").string();
  std::ofstream(real) << "[FennikDL]\nUartPort=1\n";
  fs::create_symlink(real, path_);
  IniSettings s(path_);
  s.WriteInt("FennikDL", "UsbPort", 6);
  EXPECT_TRUE(fs::is_symlink(path_));
  EXPECT_EQ(IniSettings(real).ReadInt("FennikDL", "UsbPort", 0), 6);
  EXPECT_EQ(IniSettings(real).ReadInt("FennikDL", "UartPort", 0), 1);
}

TEST(SettingsPath, FollowsTheConfigurationFolder) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  std::string saved = old ? old : "";
  ::setenv("XDG_CONFIG_HOME", "/cfg/here", 1);
  EXPECT_EQ(IniSettings::DefaultPath(), "/cfg/here/vantrel-downloader/vantrel-downloader.INI");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);
  ::setenv("HOME", "/home/op", 1);
  EXPECT_EQ(IniSettings::DefaultPath(), "/home/op/.config/vantrel-downloader/vantrel-downloader.INI");
  if (old) ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1); else ::unsetenv("XDG_CONFIG_HOME");
}

TEST(SettingsInt, ParsesLikeTheProfileReader) {
  EXPECT_EQ(IniSettings::ParseIntValue("42"), 42);
  EXPECT_EQ(IniSettings::ParseIntValue(" -7tail"), -7);
  EXPECT_EQ(IniSettings::ParseIntValue("+3"), 3);
  EXPECT_EQ(IniSettings::ParseIntValue(""), 0);
  EXPECT_EQ(IniSettings::ParseIntValue("x1"), 0);
  EXPECT_EQ(IniSettings::ParseIntValue("-99999999999999999999"), INT_MIN);
}
