// Result texts, baud codes and COM names.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

#include "link/ComLink.h"
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel {
namespace {

TEST(ResultText, TableRowsAndGaps) {
  EXPECT_STREQ("OK", ResultText(0));
  EXPECT_STREQ("Error", ResultText(1));
  EXPECT_STREQ("Invalid argument", ResultText(200));
  EXPECT_STREQ("Invalid value", ResultText(209));
  EXPECT_STREQ("COM port error", ResultText(210));
  EXPECT_STREQ("Synchronization error", ResultText(211));
  EXPECT_STREQ("No respone at the target phone", ResultText(212));
  EXPECT_STREQ("Invalid image address", ResultText(213));
  EXPECT_STREQ("System parameter error", ResultText(219));
  EXPECT_STREQ("Secure loader command ID invalid", ResultText(230));
  EXPECT_STREQ("Secure loader file open error", ResultText(239));
  const char* unexpected = "Unexpected result code returned";
  for (uint32_t code : {2u, 199u, 220u, 225u, 229u, 240u, 0x100u + 210u, 0xFFFFFFFFu}) {
    EXPECT_STREQ(unexpected, ResultText(code)) << code;
  }
  // Every code from 0 to 300 has a text, and only the table's rows differ from the fallback.
  int rows = 0;
  for (uint32_t code = 0; code <= 300; ++code) {
    ASSERT_NE(nullptr, ResultText(code));
    if (std::string(ResultText(code)) != unexpected) ++rows;
  }
  EXPECT_EQ(32, rows);
}

TEST(BaudCodes, BothDirectionsAreExact) {
  EXPECT_EQ(115200u, BaudCodeToRate(0x88));
  EXPECT_EQ(460800u, BaudCodeToRate(0x8A));
  EXPECT_EQ(921600u, BaudCodeToRate(0x8B));
  EXPECT_EQ(812000u, BaudCodeToRate(0x93));
  EXPECT_EQ(921600u, BaudCodeToRate(0xFFFFFF8B));  // only the low byte counts
  for (uint32_t code : {0x00u, 0x89u, 0x8Cu, 0x8Fu, 0x92u, 0x94u, 0x100u, 0xD1u}) {
    EXPECT_EQ(0u, BaudCodeToRate(code)) << code;
  }
  for (uint32_t rate : {115200u, 460800u, 921600u, 812000u}) EXPECT_EQ(rate, BaudCodeToRate(BaudRateToCode(rate)));
  EXPECT_EQ(0, BaudRateToCode(230400));
  EXPECT_EQ(0, BaudRateToCode(0));
}

TEST(BaudCodes, OperatorChoices) {
  EXPECT_EQ(0x88, OperatorBaudCode(0));
  EXPECT_EQ(0x8A, OperatorBaudCode(1));
  EXPECT_EQ(0x8B, OperatorBaudCode(2));
  EXPECT_EQ(0, OperatorBaudCode(-1));  // no selection
  EXPECT_EQ(0, OperatorBaudCode(3));
}

TEST(ComLinkRecord, PortNameIsTruncatedAndTerminated) {
  ComLink link;
  link.SetPortName("COM50");
  EXPECT_STREQ("COM50", link.portName);
  link.SetPortName("A-name-much-longer-than-fifteen");
  EXPECT_EQ(15u, std::string(link.portName).size());
  link.SetPortName("COM3");
  EXPECT_STREQ("COM3", link.portName);  // nothing left over from the longer name
}

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
