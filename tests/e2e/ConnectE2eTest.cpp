// START from the window: over UART and over USB, with no handset, with no
// port behind the COM name, and with a stored rate that is not in the list;
// Disconnect, and connecting again after the operator switched the handset
// off and on.
#include <QAbstractButton>
#include <QComboBox>

#include <filesystem>
#include <fstream>

#include "console/IniSettings.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "tests/e2e/WindowSimFixture.h"

namespace vantrel::test {
namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);

// The connect as the log tells it, from the button to "Available".
const std::vector<std::string> kUartConnectLog = {
    "\n  * Connecting to target phone",
    "\n     Try to open COM7\t>",
    "Success!!\n",
    "\n   - Turn on the target phone immediately!!!!\n",
    "      Listen for the BOOT signal\t\t\t> > > ",
    "OK\n",
    "      Send the Download start signal\t\t> > > ",
    "OK\n",
    "\n\n  * NAND Flash Driver Download",
    "\n     preboot downloading\t\t\t> > > ",
    "OK\n",
    "     NAND Flash driver downloading\t\t> > > ",
    "OK\n",
    "     Flash Type Checking\t\t\t> > > ",
    "OK\n",
    "    ( Elapsed Time : ",
    "s)\n",
    "OK\n",
    "\n     UART Download Mode\t> > > ",
    "Available\n\n",
};

const std::string kHelpText =
    "\n * How to use Download Mode\n    1. Turn off the target phone!!!\n    2. Select COM Port(USB or UART) , "
    "Baud Rate.\n    3. Push the Start Button.\n    4. Turn on the target phone!!!\n";

class ConnectE2eTest : public WindowSimTest {};

TEST_F(ConnectE2eTest, StartOverUartCatchesTheBootRomAndLeavesTheNandLoaderRunning) {
  StartHandset();
  CDownloaderDlg& w = Window();
  w.RefreshTitle();
  EXPECT_EQ(w.windowTitle().toStdString(), kOffTitle);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_FALSE(Enabled(ctl::kDownload));

  const size_t mark = Log().size();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  EXPECT_TRUE(LogHasInOrder(kUartConnectLog, mark));
  EXPECT_EQ(ColourOf("\n  * Connecting to target phone"), kRed);
  EXPECT_EQ(ColourOf("\n     Try to open COM7\t>"), kBlue);
  EXPECT_EQ(ColourOf("Available\n\n"), kBlue);
  EXPECT_TRUE(Boxes().empty());

  const WindowSnapshot s = Snapshot();
  EXPECT_EQ(s.title, kUartTitle);
  EXPECT_EQ(s.status, "Ready");
  EXPECT_EQ(s.progress, 0);
  EXPECT_FALSE(s.start);
  EXPECT_TRUE(s.download);
  EXPECT_TRUE(s.disconnect);
  EXPECT_FALSE(s.cancel);
  EXPECT_FALSE(Enabled(ctl::kComList));
  EXPECT_EQ(Text(ctl::kFlashIdBox), "ECB1");
  EXPECT_EQ(Sim().StateName(), "nand-loader");
  // The handshake and the uploads ran at the boot rate whatever was chosen.
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
  // The operator's choices are remembered.
  IniSettings stored(IniSettings::DefaultPath());
  EXPECT_EQ(stored.ReadInt("FennikDL", "UartPort", -1), 6);
  EXPECT_EQ(stored.ReadInt("FennikDL", "m_nBaudRate", -1), kBaud921K);

  // Disconnect: the console goes back to its first state.
  size_t at = Log().size();
  Press(ctl::kDisconnect);
  EXPECT_EQ(LogSince(at), kHelpText);
  EXPECT_EQ(Snapshot().title, kOffTitle);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_EQ(Text(ctl::kFlashIdBox), "Disconnect");
  EXPECT_TRUE(Enabled(ctl::kStart));
  EXPECT_FALSE(Enabled(ctl::kDownload));

  // The operator switches the handset off; it comes on again when START
  // opens the port, and the tool catches it as before.
  ASSERT_NO_FATAL_FAILURE(SwitchHandsetOff());
  at = Log().size();
  Press(ctl::kStart);
  EXPECT_TRUE(LogHasInOrder(kUartConnectLog, at));
  EXPECT_EQ(Snapshot().title, kUartTitle);
}

TEST_F(ConnectE2eTest, StartOverUsbSendsTheStartSignalWithoutABootByte) {
  StartHandset(/*usb=*/true);
  CDownloaderDlg& w = Window();
  // "by USB" is the choice a fresh window offers.
  EXPECT_TRUE(w.ControlAs<QAbstractButton>(ctl::kRadioUsb)->isChecked());
  const size_t mark = Log().size();
  ASSERT_NO_FATAL_FAILURE(Connect(/*usb=*/true, kBaud460K));
  EXPECT_TRUE(LogHasInOrder({"\n  * Connecting to target phone", "\n     Try to open COM7\t>", "Success!!\n",
                             "      Send the Download start signal\t\t> > > ", "\n\n  * NAND Flash Driver Download",
                             "\n     UART Download Mode\t> > > ", "Available\n\n"},
                            mark));
  // Nothing about switching the handset on or listening for it.
  EXPECT_EQ(Count("Listen for the BOOT signal", mark), 0);
  EXPECT_EQ(Count("Turn on the target phone immediately", mark), 0);
  EXPECT_EQ(Snapshot().title, kUsbTitle);
  EXPECT_EQ(static_cast<int>(w.Record().m_nLinkMode), 85);
  EXPECT_EQ(Text(ctl::kFlashIdBox), "ECB1");
  IniSettings stored(IniSettings::DefaultPath());
  EXPECT_EQ(stored.ReadInt("FennikDL", "UsbPort", -1), 6);
}

TEST_F(ConnectE2eTest, NoHandsetEndsInTheTimeoutBox) {
  // The operator never switches the handset on.
  sim::Options o = Options();
  o.autoPowerOn = false;
  StartHandset(false, o);
  timing::SetPollScale(0.25);  // the 6 s wait for the BOOT byte is the test
  ChooseLink(false);
  ChoosePort(7);
  ChooseBaud(kBaud115K);
  SnapshotAtBox("Timeout : No Response at the target phone");
  const size_t mark = Log().size();
  Press(ctl::kStart);

  EXPECT_TRUE(LogHasInOrder({"\n  * Connecting to target phone", "Success!!\n",
                             "      Listen for the BOOT signal\t\t\t> > > ", "FAIL\n",
                             "      (Check Comport connection & Bootloader existence)\n"},
                            mark));
  EXPECT_EQ(ColourOf("FAIL\n"), kRed);
  EXPECT_EQ(ColourOf("      (Check Comport connection & Bootloader existence)\n"), kBlue);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Timeout : No Response at the target phone", "Failure"}}));
  // The box came after the log had shown the failure and the help text.
  ASSERT_EQ(Snapshots().size(), 1u);
  EXPECT_EQ(Snapshots()[0].status, "Off");
  EXPECT_TRUE(Snapshots()[0].start);
  EXPECT_EQ(Snapshot().title, kOffTitle);
  EXPECT_TRUE(Enabled(ctl::kStart));
  EXPECT_FALSE(Enabled(ctl::kDownload));
  EXPECT_NE(LogSince(mark).find(kHelpText), std::string::npos);
  EXPECT_EQ(Log().substr(Log().size() - kHelpText.size()), kHelpText);

  // START again, and this time the operator switches the handset on.
  timing::SetPollScale(1.0);
  const size_t again = Log().size();
  ASSERT_TRUE(Window().Click(ctl::kStart));
  ASSERT_TRUE(PumpUntil([&] { return Count("Listen for the BOOT signal", again) == 1; }));
  Sim().PowerOn();
  WaitIdle();
  EXPECT_TRUE(LogHasInOrder(kUartConnectLog, again));
  EXPECT_EQ(Boxes().size(), 1u);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Ready");
}

TEST_F(ConnectE2eTest, ComNameWithoutADeviceIsACommError) {
  StartHandset();
  ChooseLink(false);
  ChoosePort(9);  // nothing behind COM9
  ChooseBaud(kBaud115K);
  const size_t mark = Log().size();
  Press(ctl::kStart);
  EXPECT_TRUE(LogHasInOrder({"\n     Try to open COM9\t>", " Fail\n"}, mark));
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Comm Error", "Failure"}}));
  // Nothing was opened, so nothing went back to the disconnected state
  // by itself: the report does it.
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_TRUE(Enabled(ctl::kStart));
}

TEST_F(ConnectE2eTest, StoredRateOutsideTheListIsAWrongBaudRateWithoutTouchingThePort) {
  StartHandset();
  // A settings file from elsewhere names a rate the list does not have.
  {
    const std::string path = IniSettings::DefaultPath();
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path) << "[FennikDL]\nm_nBaudRate=5\nUartPort=6\n";
  }
  CDownloaderDlg& w = Window();
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kBaudList)->currentIndex(), -1);
  ChooseLink(false);
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kComList)->currentIndex(), 6);
  const size_t mark = Log().size();
  Press(ctl::kStart);
  EXPECT_EQ(Boxes(), (std::vector<Box>{{"Wrong BaudRate", "Failure"}}));
  EXPECT_EQ(Count("Success!!", mark), 0);
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_TRUE(Enabled(ctl::kStart));
  EXPECT_EQ(Sim().StateName(), "off") << "the port was opened";

  // "DL. Bootloader" with the same rate: the announcement has no rate line
  // to give, and the flash driver upload refuses the rate.
  host_.Clear();
  const size_t at = Log().size();
  Press(ctl::kDlBootloader);
  const std::string rule(77, '-');
  EXPECT_EQ(Count("\n" + rule + "\n  Bootloader Download mode ", at), 2);
  EXPECT_TRUE(LogHasInOrder({"  FlashLoader download & running...........", "FAIL\n",
                             "\n  Turn On/Off the target phone!!!\n"},
                            at));
  const auto boxes = Boxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], (Box{"Bootloader Download available in UART Comport", "VANTREL Downloader"}));
  EXPECT_EQ(boxes[1], (Box{ResultText(Result::InvalidValue), "Downloading Failure"}));
  EXPECT_EQ(Text(ctl::kStatusCaption), "Off");
  EXPECT_TRUE(Enabled(ctl::kStart));
}

}  // namespace
}  // namespace vantrel::test
