// Result texts, baud codes and COM names.
#include <gtest/gtest.h>

#include <cerrno>

#include "link/ComLink.h"
#include "link/ComNames.h"
#include "link/ResultCodes.h"

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

// Where the names lead on Windows: the system's own device paths.
TEST(WindowsComNames, AreTheSystemsOwn) {
  if (ComDevicePath("COM1").rfind("\\\\.\\", 0) != 0) GTEST_SKIP() << "not a Windows build";
  EXPECT_EQ(ComDevicePath("COM7"), "\\\\.\\COM7");
  EXPECT_EQ(ComDevicePath("com12"), "\\\\.\\COM12");
  EXPECT_EQ(ComDevicePath("\\\\.\\CNCA0"), "\\\\.\\CNCA0");  // a device path is taken as it is
  EXPECT_EQ(MapComPort(7, "\\\\.\\COM3"), ENOTSUP);
}

}  // namespace
}  // namespace vantrel
