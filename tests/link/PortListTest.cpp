// Serial devices paired with COM names, and how each is described.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "link/ComNames.h"
#include "link/PortList.h"
#include "link/SerialDevice.h"
#include "tests/support/FakePortLister.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel {
namespace {

TEST(PortDescription, NamesTheAdapterFromWhatItAndTheDatabaseSay) {
  EXPECT_EQ(DescribePort(test::FtdiAdapter("/dev/ttyUSB2")), "FTDI FT232R USB UART (A50285BI)");
  // No strings of its own: the ID database, without the legal form.
  SerialPortInfo ch340 = test::UsbDevice("/dev/ttyUSB1", "ch341", "1a86", "7523", "QinHeng Electronics",
                                         "CH340 serial converter");
  EXPECT_EQ(DescribePort(ch340), "QinHeng Electronics CH340 serial converter");
  ch340.vendorName = ch340.modelName = "";
  EXPECT_EQ(DescribePort(ch340), "USB device 1a86:7523");
  EXPECT_EQ(DescribePort(test::AcmModem("/dev/ttyACM0")), "Linux Foundation Multifunction Composite Gadget");
  SerialPortInfo phone = test::AcmModem("/dev/ttyACM1");
  phone.manufacturer = "SAMSUNG";
  phone.product = "SAMSUNG_Android";  // names its maker already
  EXPECT_EQ(DescribePort(phone), "SAMSUNG_Android");
  SerialPortInfo uart;
  uart.path = "/dev/ttyS0";
  EXPECT_EQ(DescribePort(uart), "built-in UART");

  // Whatever a device claims stays one printable line of bounded length.
  SerialPortInfo hostile = test::FtdiAdapter("/dev/ttyUSB0");
  // The limit falls inside the two bytes of the UTF-8 "\xC3\x84".
  hostile.product = "evil\r\n\x1b[2J" + std::string(55, 'A') + "\xC3\x84" + std::string(500, 'B');
  hostile.serial = "\t1\n";
  const std::string text = DescribePort(hostile);
  EXPECT_EQ(text, "FTDI evil [2J" + std::string(55, 'A') + " (1)");
}

TEST(PortTable, PairsEachComNameWithTheDeviceItReaches) {
  test::ScratchConfig config;
  test::PtyPair modem, simulator;
  const std::vector<SerialPortInfo> devices = {test::FtdiAdapter("/dev/ttyVTFAKE0"), test::AcmModem(modem.SlavePath()),
                                               test::AcmModem("/dev/ttyVTFAKE1")};
  ASSERT_EQ(0, MapComPort(3, "/dev/ttyVTFAKE0"));
  // A stable name (as under /dev/serial/by-id) leads to the enumerated node.
  ASSERT_EQ(0, MapComPort(9, config.Folder() + "/by-id-modem"));
  ASSERT_EQ(0, ::symlink(modem.SlavePath().c_str(), (config.Folder() + "/by-id-modem").c_str()));
  ASSERT_EQ(0, MapComPort(10, simulator.SlavePath()));
  ASSERT_EQ(0, MapComPort(12, "/dev/ttyVTGONE"));

  const PortTable table = BuildPortTable(devices);
  ASSERT_EQ(table.coms.size(), 50u);
  EXPECT_EQ(ComLabel(table.coms[2]), "COM3  /dev/ttyVTFAKE0  FTDI FT232R USB UART (A50285BI)");
  EXPECT_TRUE(table.coms[2].present);
  ASSERT_TRUE(table.coms[8].device);
  EXPECT_EQ(table.coms[8].device->path, modem.SlavePath());
  EXPECT_EQ(table.coms[8].description, "Linux Foundation Multifunction Composite Gadget");
  EXPECT_EQ(ComLabel(table.coms[9]), "COM10  " + simulator.SlavePath() + "  pseudo-terminal");
  EXPECT_EQ(ComLabel(table.coms[11]), "COM12  /dev/ttyVTGONE  not present");
  EXPECT_FALSE(table.coms[11].present);
  EXPECT_EQ(ComLabel(table.coms[4]), "COM5");  // the host's own ports are not in the list

  ASSERT_EQ(table.unreached.size(), 1u);
  EXPECT_EQ(table.unreached[0].path, "/dev/ttyVTFAKE1");
  EXPECT_EQ(UnreachedLabel(table.unreached[0]), "-  /dev/ttyVTFAKE1  Linux Foundation Multifunction Composite Gadget");

  // A new name for it: the chosen one if free; a name taken by a device or
  // by a link to an unplugged one is passed over for the lowest free one.
  EXPECT_EQ(FreeComNumber(table, 5), 5);
  EXPECT_EQ(FreeComNumber(table, 3), 1);
  EXPECT_EQ(FreeComNumber(table, 12), 1);
  PortTable full = table;
  for (ComEntry& e : full.coms) e.linked = true;
  EXPECT_EQ(FreeComNumber(full, 5), 0);
}

// A COM link may lead anywhere. A target that is no character device is
// listed as "not a serial device", is not present (so --all-ports passes it
// over), and is never opened as a port: not even the open happens.
TEST(PortTable, ALinkToWhatIsNoDeviceIsNeitherPresentNorOpened) {
  test::ScratchConfig config;
  const std::string file = config.Root() + "/passwd", folder = config.Root() + "/folder";
  const std::string fifo = config.Root() + "/fifo";
  std::ofstream(file) << "root:x:0:0\n";
  std::filesystem::create_directory(folder);
  ASSERT_EQ(0, ::mkfifo(fifo.c_str(), 0600));
  const std::string targets[] = {file, folder, fifo};
  for (int i = 0; i < 3; ++i) ASSERT_EQ(0, MapComPort(20 + i, targets[i]));
  const PortTable table = BuildPortTable({});
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  for (int i = 0; i < 3; ++i) {
    const ComEntry& e = table.coms[static_cast<size_t>(19 + i)];
    SCOPED_TRACE(targets[i]);
    EXPECT_EQ(ComLabel(e), e.Name() + "  " + targets[i] + "  not a serial device");
    EXPECT_FALSE(e.present);
    ASSERT_GE(::inotify_add_watch(watch, targets[i].c_str(), IN_OPEN), 0);
    std::string why;
    EXPECT_NE(MakePosixSerial()->Open(e.path, &why), 0);
    EXPECT_EQ(why, targets[i] + ": not a serial device");
  }
  char events[4096];
  EXPECT_LT(::read(watch, events, sizeof events), 0) << "a target was opened";
  ::close(watch);
}

}  // namespace
}  // namespace vantrel
