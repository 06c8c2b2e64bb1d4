// Port and rate memory, the file buttons with the companion paths, INFO, and
// the start-address boxes.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>

#include "console/ComPortList.h"
#include "jobs/ControlIds.h"
#include "link/ComNames.h"
#include "tests/console/WindowFixture.h"
#include "tests/support/FakePortLister.h"

using namespace vantrel;
using vantrel::test::WindowTest;
using Type = ScriptedModalHost::Type;

TEST_F(WindowTest, NoSettingsFileGivesTheFirstEntriesAndNoImageSet) {
  CDownloaderDlg& w = Window();
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kComList)->currentText(), "COM1");
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kBaudList)->currentText(), "115K");
  EXPECT_EQ(w.ControlText(ctl::kImgsetPath), "");
  EXPECT_EQ(w.Record().m_nComPort, 0);
  EXPECT_EQ(w.Record().m_nBaudRate, 0);
}

TEST_F(WindowTest, StartUpReadsPortsRateCounterAndImageSet) {
  WriteIni("[fennikdl]\nUartPort=2\nUsbPort=5\nm_nBaudRate=1\nm_nDownloadNum=10001\n"
           "m_strImageFileName=/pkg/img/Q77T_0612.img\nm_strRscrFileName=/never/read.rc1\n");
  CDownloaderDlg& w = Window();
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kComList)->currentText(), "COM6");  // the USB port wins
  EXPECT_EQ(w.Record().m_nComPort, 5);
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kBaudList)->currentText(), "460K");
  EXPECT_EQ(w.Record().m_nDownloadNum, 0);
  EXPECT_EQ(w.ControlText(ctl::kDownloadCounter), "0");
  EXPECT_EQ(w.Record().m_strImageFileName, "/pkg/img/Q77T_0612.img");
  EXPECT_EQ(w.ControlText(ctl::kImgsetPath), "/pkg/img/Q77T_0612.img");
  EXPECT_EQ(w.Record().m_strRscrFileName, "");  // other paths start empty
  win_.reset();

  WriteIni("[FennikDL]\nm_nDownloadNum=-1\n");
  EXPECT_EQ(Window().ControlText(ctl::kDownloadCounter), "0");
  win_.reset();
  WriteIni("[FennikDL]\nm_nDownloadNum=10000\nm_nBaudRate=7\nUsbPort=60\n");
  CDownloaderDlg& v = Window();
  EXPECT_EQ(v.ControlText(ctl::kDownloadCounter), "10000");
  // Out-of-list values show no selection; the record keeps them for the checks.
  EXPECT_EQ(v.ControlAs<QComboBox>(ctl::kBaudList)->currentIndex(), -1);
  EXPECT_EQ(v.Record().m_nBaudRate, 7);
  EXPECT_EQ(v.ControlAs<QComboBox>(ctl::kComList)->currentIndex(), -1);
}

// The COM list shows which device each name reaches, follows a device being
// plugged in without moving the selection, and gives a name to a device that
// none reaches.
TEST_F(WindowTest, ComListDescribesDevicesAndMapsOneWithoutAName) {
  WriteIni("[FennikDL]\nUsbPort=1\n");
  CDownloaderDlg& w = Window();
  auto* com = w.ControlAs<QComboBox>(ctl::kComList);
  auto devices = std::make_shared<test::FakePortLister::Shared>();
  ASSERT_EQ(0, MapComPort(3, "/dev/ttyVTFAKE0"));
  w.ComPorts().SetLister(std::make_unique<test::FakePortLister>(devices));
  auto label = [com](int i) { return com->itemData(i, ComPortList::kLabelRole).toString().toStdString(); };
  EXPECT_EQ(label(2), "COM3  /dev/ttyVTFAKE0  not present");
  EXPECT_EQ(label(3), "");

  devices->Plug({test::FtdiAdapter("/dev/ttyVTFAKE0"), test::AcmModem("/dev/ttyVTFAKE1")});
  Pump();
  EXPECT_EQ(label(2), "COM3  /dev/ttyVTFAKE0  FTDI FT232R USB UART (A50285BI)");
  EXPECT_EQ(com->itemText(2), "COM3");
  EXPECT_EQ(com->currentIndex(), 1);
  EXPECT_EQ(w.Record().m_nComPort, 1);

  const PortTable& table = w.ComPorts().Table();
  ASSERT_EQ(table.unreached.size(), 1u);
  ASSERT_TRUE(w.ComPorts().MapDevice(table.unreached[0], FreeComNumber(table, 3)));
  EXPECT_EQ(ComDevicePath("COM1"), "/dev/ttyVTFAKE1");  // COM3 was taken: the lowest free name
  EXPECT_EQ(label(0), "COM1  /dev/ttyVTFAKE1  Linux Foundation Multifunction Composite Gadget");
  EXPECT_EQ(com->currentIndex(), 0);  // the operator's new port, stored as a choice is
  EXPECT_EQ(StoredInt("UsbPort"), 0);
  EXPECT_TRUE(w.ComPorts().Table().unreached.empty());
}

TEST_F(WindowTest, EachLinkTypeRemembersItsOwnPort) {
  WriteIni("[FennikDL]\nUartPort=1\n");
  CDownloaderDlg& w = Window();
  w.OnComSelChange(4);  // COM5 while "by USB" is chosen
  EXPECT_EQ(StoredInt("UsbPort"), 4);
  EXPECT_EQ(StoredInt("UartPort"), 1);
  EXPECT_EQ(w.Record().m_nComPort, 4);
  w.Click(ctl::kRadioUart);
  EXPECT_EQ(w.Record().m_nCommType, 0);
  EXPECT_EQ(w.Record().m_nComPort, 1);
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kComList)->currentText(), "COM2");
  w.OnComSelChange(9);
  EXPECT_EQ(StoredInt("UartPort"), 9);
  EXPECT_EQ(StoredInt("UsbPort"), 4);
  w.Click(ctl::kRadioUsb);
  EXPECT_EQ(w.ControlAs<QComboBox>(ctl::kComList)->currentText(), "COM5");
  // With no link type chosen a change is stored nowhere.
  w.Record().m_nCommType = -1;
  w.OnComSelChange(20);
  EXPECT_EQ(StoredInt("UartPort"), 9);
  EXPECT_EQ(StoredInt("UsbPort"), 4);
  w.OnBaudSelChange(2);
  EXPECT_EQ(StoredInt("m_nBaudRate"), 2);
  EXPECT_EQ(w.Record().m_nBaudRate, 2);
}

TEST_F(WindowTest, ImageSetFillsTheCompanionPathsAndRemembersThem) {
  std::string img = MakeFile("pkg/img/Q77T_0612.img", {1, 2, 3});
  std::string root = scratch_.Root() + "/pkg";
  host_.QueueOpenFile(img);
  CDownloaderDlg& w = Window();
  w.EnterReadyState();
  w.Click(ctl::kImgsetButton);
  auto q = host_.Questions();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].type, Type::OpenFile);
  EXPECT_EQ(q[0].caption, "Image File(*.img)|*.img|*.*|*.*||");
  EXPECT_EQ(w.ControlText(ctl::kImgsetPath), img);
  EXPECT_EQ(w.ControlText(ctl::kFileName), "Q77T_0612.img");
  EXPECT_EQ(w.Record().m_strParamDepFileName, root + "/build/mavo_bin/Q77T_calset.img");
  EXPECT_EQ(w.ControlText(ctl::kCalsetPath), root + "/build/mavo_bin/Q77T_calset.img");
  EXPECT_EQ(w.ControlText(ctl::kRsrc1Path), root + "/build/tzk_bin/Q77T.rc1");
  EXPECT_EQ(w.ControlText(ctl::kRsrc2Path), root + "/build/nand_img/Q77T.rc2");
  EXPECT_EQ(w.Record().m_strFactoryFSFileName, root + "/build/tzk_bin/Q77T.vlf");
  EXPECT_EQ(w.ControlText(ctl::kFsPath), root + "/build/tzk_bin/Q77T.vlf");
  EXPECT_EQ(w.Record().m_strOgmPath, "");
  EXPECT_EQ(StoredString("m_strImageFileName"), img);
  EXPECT_EQ(StoredString("m_strParamDepFileName"), root + "/build/mavo_bin/Q77T_calset.img");
  EXPECT_EQ(StoredString("m_strFactoryFSFileName"), root + "/build/tzk_bin/Q77T.vlf");
  // The next pick starts from the current path.
  host_.QueueOpenFile(std::nullopt);
  w.Click(ctl::kImgsetButton);
  EXPECT_EQ(host_.Questions().back().text, img);
  // A Calset chosen later lands in the same key.
  std::string calset = MakeFile("other/cal.img", {9});
  host_.QueueOpenFile(calset);
  w.Click(ctl::kCalsetButton);
  EXPECT_EQ(StoredString("m_strParamDepFileName"), calset);
  EXPECT_EQ(w.ControlText(ctl::kCalsetPath), calset);
}

TEST_F(WindowTest, AnImageSetThatDoesNotOpenChangesNothingStored) {
  CDownloaderDlg& w = Window();
  std::string gone = scratch_.Root() + "/img/Q77T.img";
  host_.QueueOpenFile(gone);
  w.Click(ctl::kImgsetButton);
  EXPECT_EQ(host_.MessageTexts(), std::vector<std::string>{"Image File Size Error"});
  EXPECT_EQ(w.Record().m_strImageFileName, gone);
  EXPECT_EQ(w.ControlText(ctl::kImgsetPath), "");
  EXPECT_EQ(w.ControlText(ctl::kCalsetPath), "");
  EXPECT_EQ(StoredString("m_strImageFileName"), "<none>");
}

TEST_F(WindowTest, FileButtonsUseTheirFiltersAndSaveEvenAMissingFile) {
  struct Case {
    int button, box;
    const char* key;
    const char* filter;
    const char* fail;
  };
  const Case cases[] = {
      {ctl::kCalsetButton, ctl::kCalsetPath, "m_strParamDepFileName", "sysparm_dep.img File(*.img)|*.img|*.*|*.*||",
       "Image File Size Error"},
      {ctl::kRsrc1Button, ctl::kRsrc1Path, "m_strRscrFileName", "Rscr.cnt File(*.rc1)|*.rc1|*.*|*.*||",
       "File open failed"},
      {ctl::kRsrc2Button, ctl::kRsrc2Path, "m_strRscr2FileName", "Rscr2.cnt File(*.rc2)|*.rc2|*.*|*.*||",
       "File open failed"},
      {ctl::kNandChFile, ctl::kNandManualPath, "m_strManualNandImage", "?.img File(*.img)|*.img|*.*|*.*||",
       "Image File Size Error"},
      {ctl::kNorChFile, ctl::kNorManualPath, "m_strManualImage", "?.img File(*.img)|*.img|*.*|*.*||",
       "Image File Size Error"},
  };
  CDownloaderDlg& w = Window();
  w.EnterReadyState();
  for (const Case& c : cases) {
    host_.Clear();
    std::string good = MakeFile(std::string("f/") + c.key, {7});
    host_.QueueOpenFile(good);
    ASSERT_TRUE(w.Click(c.button));
    ASSERT_EQ(host_.Questions().size(), 1u) << c.key;
    EXPECT_EQ(host_.Questions()[0].caption, c.filter);
    EXPECT_EQ(w.ControlText(c.box), good);
    EXPECT_EQ(StoredString(c.key), good);
    // Cancel: nothing changes.
    host_.QueueOpenFile(std::nullopt);
    w.Click(c.button);
    EXPECT_EQ(StoredString(c.key), good);
    // A missing file: the message, the old box text, the new path saved.
    std::string missing = scratch_.Root() + "/missing/" + c.key;
    host_.QueueOpenFile(missing);
    w.Click(c.button);
    EXPECT_EQ(host_.MessageTexts(), std::vector<std::string>{c.fail});
    EXPECT_EQ(w.ControlText(c.box), good);
    EXPECT_EQ(StoredString(c.key), missing);
  }
}

TEST_F(WindowTest, FileSystemButtonSetsTheChosenFlagOnlyForAFileThatOpens) {
  std::string vlf = MakeFile("pkg/fs.vlf", {1, 1});
  CDownloaderDlg& w = Window();
  host_.QueueOpenFile(vlf);
  w.Click(ctl::kFsButton);
  auto q = host_.Questions();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_TRUE(q[0].mustExist);
  EXPECT_EQ(q[0].caption, "VLF Files (*.vlf)|*.vlf|All Files (*.*)|*.*||");
  EXPECT_EQ(w.Record().m_bFsChosen, 1);
  EXPECT_EQ(w.Record().m_strOgmPath, vlf);
  EXPECT_EQ(w.Record().m_strFactoryFSFileName, vlf);
  EXPECT_EQ(w.ControlText(ctl::kFsPath), vlf);
  EXPECT_EQ(StoredString("m_strOgmPath"), vlf);
  // Cancel clears the flag although a file had been chosen.
  host_.QueueOpenFile(std::nullopt);
  w.Click(ctl::kFsButton);
  EXPECT_EQ(w.Record().m_bFsChosen, 0);
  EXPECT_EQ(host_.Questions().back().text, vlf);
  // A file that does not open.
  host_.QueueOpenFile(scratch_.Root() + "/nope.vlf");
  w.Click(ctl::kFsButton);
  EXPECT_EQ(host_.MessageTexts(), std::vector<std::string>{"Fail to open OGM file!"});
  EXPECT_EQ(w.Record().m_bFsChosen, 0);
  EXPECT_EQ(StoredString("m_strOgmPath"), vlf);
}

TEST_F(WindowTest, EntireFlashImageMustHaveItsOneSize) {
  CDownloaderDlg& w = Window();
  std::string small = MakeFile("flash/small.dmp", {1, 2});
  host_.QueueOpenFile(small);
  w.Click(ctl::kVlfDownload);
  ASSERT_EQ(host_.MessageTexts().size(), 1u);
  EXPECT_EQ(host_.MessageTexts()[0], "File size must be 42.41MB");
  EXPECT_EQ(StoredString("m_strEntireFlashFileName"), "<none>");
  std::string exact = MakeFile("flash/full.dmp", {});
  std::filesystem::resize_file(exact, 0x2A69000);
  host_.QueueOpenFile(exact);
  w.Click(ctl::kVlfDownload);
  EXPECT_EQ(host_.MessageTexts().size(), 1u);
  EXPECT_EQ(w.ControlText(ctl::kEntireFlashPath), exact);
  EXPECT_EQ(StoredString("m_strEntireFlashFileName"), exact);
}

TEST_F(WindowTest, InfoShowsSizeAndChecksumOrWhyNot) {
  CDownloaderDlg& w = Window();
  struct Row {
    int button;
    std::string OperationRecord::*member;
    const char* caption;
    const char* unset;
    const char* broken;
  };
  const Row rows[] = {
      {ctl::kInfoImgset, &OperationRecord::m_strImageFileName, "Imgset Information", "Imgset file not selected",
       "Imgset File open Error"},
      {ctl::kInfoCalset, &OperationRecord::m_strParamDepFileName, "Calset Information", "Calset file not selected",
       "Calset File open Error"},
      {ctl::kInfoRsrc1, &OperationRecord::m_strRscrFileName, "Rsrc Information", "Rsrc file not selected",
       "Rsrc File open Error"},
      {ctl::kInfoRsrc2, &OperationRecord::m_strRscr2FileName, "Rsrc2 Information", "Rsrc2 file not selected",
       "Rsrc2 File open Error"},
      {ctl::kInfoFs, &OperationRecord::m_strFactoryFSFileName, "FactoryFS Information", "FactoryFS file not selected",
       "FactoryFS File open Error"},
  };
  std::string three = MakeFile("info/three.bin", {0x01, 0x02, 0xFF});
  for (const Row& r : rows) {
    host_.Clear();
    w.Record().*(r.member) = "";
    w.Click(r.button);
    w.Record().*(r.member) = scratch_.Root() + "/info/missing.bin";
    w.Click(r.button);
    w.Record().*(r.member) = three;
    w.Click(r.button);
    auto q = host_.Questions();
    ASSERT_EQ(q.size(), 3u);
    EXPECT_EQ(q[0].text, r.unset);
    EXPECT_EQ(q[0].caption, "VANTREL Downloader");
    EXPECT_EQ(q[1].text, r.broken);
    EXPECT_EQ(q[2].text, "File size : 3 byte\r\nChecksum : 0x102");
    EXPECT_EQ(q[2].caption, r.caption);
  }
}

TEST_F(WindowTest, NandAddressBoxTakesHexHoldsItsLimitAndRefusesOtherText) {
  CDownloaderDlg& w = Window();
  w.EnterReadyState();
  auto* box = w.ControlAs<QLineEdit>(ctl::kNandStartAddress);
  box->clear();
  QTest::keyClicks(box, "7E8");
  EXPECT_EQ(w.Record().m_nStartAddress, 0x7E8u);
  EXPECT_TRUE(host_.Questions().empty());
  box->clear();
  QTest::keyClicks(box, "7E70000");
  EXPECT_EQ(box->text(), "7E40000");
  EXPECT_EQ(w.Record().m_nStartAddress, 0x7E40000u);
  box->setText("7E60000");  // at the limit: kept
  EXPECT_EQ(w.Record().m_nStartAddress, 0x7E60000u);
  box->clear();
  EXPECT_EQ(w.Record().m_nStartAddress, 0u);  // empty reads as 0
  QTest::keyClicks(box, "12G");
  EXPECT_EQ(host_.MessageTexts(), std::vector<std::string>{"Wrong value"});
  EXPECT_EQ(host_.Questions()[0].caption, "WARNING");
  EXPECT_EQ(box->text(), "0");
  EXPECT_EQ(w.Record().m_nStartAddress, 0u);
  // The handler also copies the controls into the record.
  w.ControlAs<QRadioButton>(ctl::kRadioItem10)->setChecked(true);
  box->setText("20000");
  EXPECT_EQ(w.Record().m_nDownloadItem, 10);
}

TEST_F(WindowTest, NorAddressBoxHasItsOwnLimit) {
  CDownloaderDlg& w = Window();
  auto* box = w.ControlAs<QLineEdit>(ctl::kNorStartAddress);
  box->setText("2000000");
  EXPECT_EQ(box->text(), "1FE0000");
  EXPECT_EQ(w.Record().m_nStartAddress, 0x1FE0000u);
  box->setText("1FFFFFE");
  EXPECT_EQ(w.Record().m_nStartAddress, 0x1FFFFFEu);
  box->setText("x");
  EXPECT_EQ(box->text(), "0");
  EXPECT_EQ(w.Record().m_nStartAddress, 0u);
}
