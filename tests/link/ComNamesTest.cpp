// Where COM names lead on Linux: links in the settings folder, overrides and
// the tty defaults.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "link/ComNames.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel {
namespace {

class ComNames : public ::testing::Test {
 protected:
  test::ScratchConfig config;
};

TEST_F(ComNames, SettingsFolderFollowsXdgThenHome) {
  EXPECT_EQ(config.Root() + "/vantrel-downloader", SettingsFolder());
  const std::string xdg = config.Root();
  const char* home = std::getenv("HOME");
  const std::string oldHome = home ? home : "";
  ::unsetenv("XDG_CONFIG_HOME");
  ::setenv("HOME", "/home/operator", 1);
  EXPECT_EQ("/home/operator/.config/vantrel-downloader", SettingsFolder());
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not a valid value
  EXPECT_EQ("/home/operator/.config/vantrel-downloader", SettingsFolder());
  if (home) ::setenv("HOME", oldHome.c_str(), 1); else ::unsetenv("HOME");
  ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
}

TEST_F(ComNames, LinkInTheSettingsFolderMapsThePort) {
  EXPECT_EQ(0, MapComPort(7, "/dev/pts/42"));
  EXPECT_EQ("/dev/pts/42", ComDevicePath("COM7"));
  char target[256] = {};
  ASSERT_GT(::readlink((config.Folder() + "/COM7").c_str(), target, sizeof target - 1), 0);
  EXPECT_STREQ("/dev/pts/42", target);
  // Mapping again replaces the link.
  EXPECT_EQ(0, MapComPort(7, "/dev/ttyUSB3"));
  EXPECT_EQ("/dev/ttyUSB3", ComDevicePath("COM7"));
  // A relative link is taken from the settings folder.
  ASSERT_EQ(0, ::symlink("my-adapter", (config.Folder() + "/COM9").c_str()));
  EXPECT_EQ(config.Folder() + "/my-adapter", ComDevicePath("COM9"));
  EXPECT_EQ(0, UnmapComPort(7));
  EXPECT_EQ(0, UnmapComPort(7));  // already gone
  EXPECT_NE("/dev/ttyUSB3", ComDevicePath("COM7"));
  EXPECT_EQ(EINVAL, MapComPort(0, "/dev/ttyS0"));
}

TEST_F(ComNames, OverrideComesFirst) {
  ASSERT_EQ(0, MapComPort(4, "/dev/pts/1"));
  SetComOverride("COM4", "/dev/pts/2");
  EXPECT_EQ("/dev/pts/2", ComDevicePath("COM4"));
  SetComOverride("COM4", "");
  EXPECT_EQ("/dev/pts/1", ComDevicePath("COM4"));
}

TEST_F(ComNames, DefaultsForUnmappedNames) {
  auto exists = [](const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0;
  };
  for (int n : {1, 12, 50}) {
    const std::string index = std::to_string(n - 1);
    std::string expected = "/dev/ttyS" + index;
    if (exists("/dev/ttyUSB" + index)) {
      expected = "/dev/ttyUSB" + index;
    } else if (exists("/dev/ttyACM" + index)) {
      expected = "/dev/ttyACM" + index;
    }
    EXPECT_EQ(expected, ComDevicePath("COM" + std::to_string(n)));
  }
  EXPECT_EQ(ComDevicePath("COM3"), ComDevicePath("com3"));
  EXPECT_EQ("/dev/pts/3", ComDevicePath("/dev/pts/3"));  // a path is taken as it is
  EXPECT_EQ("/dev/ttyAMA0", ComDevicePath("ttyAMA0"));
}

}  // namespace
}  // namespace vantrel
