// The main window: controls and their initial state, the console states, the
// title, the log and indicators, keys and closing.
#include <QRegularExpression>
#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include "console/BitmapButton.h"
#include "console/ConsoleText.h"
#include "console/ControlTable.h"
#include "console/DownloaderApp.h"
#include "jobs/ControlIds.h"
#include "tests/console/WindowFixture.h"

using namespace vantrel;
using namespace vantrel::console;
using vantrel::test::LogColourOf;
using vantrel::test::WindowTest;

namespace {

bool KindMatches(Kind kind, QWidget* w) {
  switch (kind) {
    case Kind::ComboBox: return qobject_cast<QComboBox*>(w);
    case Kind::PushButton: return qobject_cast<QPushButton*>(w) && !qobject_cast<BitmapButton*>(w);
    case Kind::BitmapButton: return qobject_cast<BitmapButton*>(w);
    case Kind::Radio: return qobject_cast<QRadioButton*>(w);
    case Kind::CheckBox: return qobject_cast<QCheckBox*>(w);
    case Kind::Edit: return qobject_cast<QLineEdit*>(w);
    case Kind::RichText: return qobject_cast<QTextEdit*>(w);
    case Kind::Log: return qobject_cast<QPlainTextEdit*>(w);
    case Kind::Progress: return qobject_cast<QProgressBar*>(w);
    case Kind::GroupBox: return qobject_cast<QGroupBox*>(w);
    case Kind::Static: return qobject_cast<QLabel*>(w);
  }
  return false;
}

const QString kHelp =
    "\n * How to use Download Mode\n    1. Turn off the target phone!!!\n    2. Select COM Port(USB or UART) , "
    "Baud Rate.\n    3. Push the Start Button.\n    4. Turn on the target phone!!!\n";

}  // namespace

TEST_F(WindowTest, EveryNumberedControlExistsWithItsKindCaptionAndInitialState) {
  CDownloaderDlg& w = Window();
  int numbered = 0;
  for (const ControlDef& c : MainWindowControls()) {
    if (c.id == 0) continue;
    ++numbered;
    QWidget* widget = w.Control(c.id);
    ASSERT_NE(widget, nullptr) << c.id;
    EXPECT_EQ(widget->property("controlId").toInt(), c.id);
    EXPECT_TRUE(KindMatches(c.kind, widget)) << c.id;
    EXPECT_EQ(widget->isHidden(), (c.flags & kHidden) != 0) << c.id;
    if (auto* b = qobject_cast<QAbstractButton*>(widget); b && c.id != ctl::kRadioItem7) {
      EXPECT_EQ(b->text().toStdString(), c.caption) << c.id;
    }
    if (auto* r = qobject_cast<QRadioButton*>(widget)) {
      EXPECT_EQ(r->property("item").isValid() ? r->property("item").toInt() : -1, c.item) << c.id;
      EXPECT_EQ(r->property("caption").toString().toStdString(), c.caption) << c.id;
    }
  }
  EXPECT_EQ(numbered, static_cast<int>(w.ControlIds().size()));
  // Hidden controls are there but never shown.
  w.show();
  for (int id : {1, 1091, 1020, 1120, 1127, 1135, 1019, 1157, 1160, 1161, 1162, 1164, 1096, 1097, 1061, 1128, 1045,
                 1002, 1130, 1003, 1155, 1165, 1159, 1008, 1009, 1011, 1012, 1038, 1106, 1117, 1118, 1070, 1075,
                 1073, 1080})
    EXPECT_FALSE(w.Control(id)->isVisible()) << id;
  EXPECT_TRUE(w.Control(ctl::kLog)->isVisible());
}

TEST_F(WindowTest, StartsAsTheOperatorFirstSeesIt) {
  CDownloaderDlg& w = Window();
  auto* com = w.ControlAs<QComboBox>(ctl::kComList);
  ASSERT_EQ(com->count(), 50);
  EXPECT_EQ(com->itemText(0), "COM1");
  EXPECT_EQ(com->itemText(49), "COM50");
  EXPECT_EQ(com->currentIndex(), 0);
  auto* baud = w.ControlAs<QComboBox>(ctl::kBaudList);
  ASSERT_EQ(baud->count(), 3);
  EXPECT_EQ(baud->itemText(0), "115K");
  EXPECT_EQ(baud->itemText(2), "921K");
  EXPECT_TRUE(w.ControlAs<QRadioButton>(ctl::kRadioUsb)->isChecked());
  EXPECT_FALSE(w.ControlAs<QRadioButton>(ctl::kRadioUart)->isChecked());
  for (int id : {1069, 1070, 1071, 1072, 1073, 1075, 1076, 1079, 1080, 1081, 1102})
    EXPECT_FALSE(w.ControlAs<QRadioButton>(id)->isChecked()) << id;
  EXPECT_FALSE(w.Control(ctl::kCancel)->isEnabled());
  EXPECT_FALSE(w.Control(ctl::kExit)->isEnabled());
  EXPECT_FALSE(w.ControlAs<QCheckBox>(ctl::kChkCalset)->isChecked());
  EXPECT_TRUE(w.ControlAs<QCheckBox>(ctl::kChkImage)->isChecked());
  EXPECT_TRUE(w.ControlAs<QCheckBox>(ctl::kChkErRo)->isChecked());
  EXPECT_EQ(w.ControlText(ctl::kNandStartAddress), "0");
  EXPECT_EQ(w.ControlText(ctl::kNorStartAddress), "0");
  EXPECT_EQ(w.ControlText(ctl::kDownloadCounter), "0");
  EXPECT_EQ(w.ControlText(ctl::kStatusCaption), "Off");
  EXPECT_EQ(w.ControlAs<QLineEdit>(ctl::kNandStartAddress)->alignment() & Qt::AlignRight, Qt::AlignRight);
  EXPECT_TRUE(w.ControlAs<QLineEdit>(ctl::kImgsetPath)->isReadOnly());
  auto* bar = w.ControlAs<QProgressBar>(ctl::kProgressBar);
  EXPECT_EQ(bar->orientation(), Qt::Vertical);
  EXPECT_EQ(bar->minimum(), 0);
  EXPECT_EQ(bar->maximum(), 100);
  EXPECT_EQ(bar->value(), 0);
  auto* flashId = w.ControlAs<QTextEdit>(ctl::kFlashIdBox);
  EXPECT_FALSE(flashId->isEnabled());
  EXPECT_TRUE(flashId->isReadOnly());

  const OperationRecord& r = w.Record();
  EXPECT_EQ(r.m_nCommType, 1);
  EXPECT_EQ(r.m_nDownloadItem, -1);
  EXPECT_EQ(r.m_bFsChosen, 0);
  EXPECT_EQ(r.m_nStartAddress, 0u);
  EXPECT_EQ(r.m_bImage, 1);
  EXPECT_EQ(r.m_bErRo, 1);
  EXPECT_EQ(r.m_bCalset, 0);

  // Fixed size, no maximize box, an icon, the "PUSH" face.
  EXPECT_EQ(w.minimumSize(), w.maximumSize());
  EXPECT_FALSE(w.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(w.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(w.windowIcon().isNull());
  auto* push = qobject_cast<BitmapButton*>(w.Control(ctl::kPush));
  ASSERT_NE(push, nullptr);
  EXPECT_EQ(push->size(), QSize(101, 20));
  // A sharp face for a 200% screen too.
  EXPECT_TRUE(push->Face().availableSizes().contains(QSize(202, 40)));
  QImage face = push->Face().pixmap(QSize(101, 20), 1.0).toImage();
  QColor ground = face.pixelColor(3, 3);
  EXPECT_GT(ground.lightness(), 225);  // off-white
  bool grey = false;
  for (int y = 0; y < 20 && !grey; ++y)
    for (int x = 5; x < 96 && !grey; ++x) {
      QColor c = face.pixelColor(x, y);
      grey = c.lightness() < 160 && std::abs(c.red() - c.blue()) < 12;
    }
  EXPECT_TRUE(grey) << "no grey lettering on the face";
  // Enabled, disabled and focused each look different.
  push->setEnabled(true);
  const QImage enabled = push->grab().toImage();
  w.show();
  w.activateWindow();
  push->setFocus();
  Pump();
  ASSERT_TRUE(push->hasFocus());
  const QImage focused = push->grab().toImage();
  push->clearFocus();
  push->setEnabled(false);
  const QImage disabled = push->grab().toImage();
  EXPECT_NE(enabled, disabled);
  EXPECT_NE(enabled, focused);
}

TEST_F(WindowTest, DisconnectedStateShowsTheHelpAndTheIndicator) {
  CDownloaderDlg& w = Window();
  QString log = w.LogView()->toPlainText();
  EXPECT_TRUE(log.endsWith(kHelp)) << log.toStdString();
  EXPECT_EQ(LogColourOf(w, "* How to use"), QColor(255, 0, 0));
  auto* flashId = w.ControlAs<QTextEdit>(ctl::kFlashIdBox);
  EXPECT_EQ(flashId->toPlainText(), "Disconnect");
  QTextCursor c(flashId->document());
  c.setPosition(1);
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(0, 0, 255));
  EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
  // The hidden indicator keeps the start-up text in red.
  auto* norId = w.ControlAs<QTextEdit>(ctl::kNorIdBox);
  EXPECT_EQ(norId->toPlainText(), "  Disconnect");
  QTextCursor n(norId->document());
  n.setPosition(3);
  EXPECT_EQ(n.charFormat().foreground().color(), QColor(255, 0, 0));
  for (int id : {ctl::kFileSize, ctl::kFileName, ctl::kCheckSum}) EXPECT_EQ(w.ControlText(id), " ");
}

TEST_F(WindowTest, EachStateEnablesItsColumnAndLeavesOthersAlone) {
  // The operator's enabling table, written out here rather than read from the
  // window's own, so that a wrong cell on either side shows. Per control:
  // enabled in the Disconnected, Ready and Busy states.
  struct Expected {
    int id;
    const char* states;
  };
  const Expected table[] = {
      {1089, "100"} /* START */,      {1125, "100"} /* DL. Bootloader */, {1021, "100"} /* COM */,
      {1022, "100"} /* Baud */,       {1001, "110"} /* Imgset */,         {1004, "110"} /* Calset */,
      {1042, "110"} /* Rsrc1 */,      {1043, "110"} /* Rsrc2 */,          {1044, "110"} /* File System */,
      {1045, "110"} /* VLF */,        {1047, "010"} /* DOWNLOAD */,       {1060, "010"} /* PUSH */,
      {1129, "010"} /* Er. Boot */,   {1046, "010"} /* NAND Dump */,      {1092, "010"} /* Disconnect */,
      {1005, "010"} /* Ch. File */,   {1013, "010"} /* address box */,    {1130, "010"},
      {1002, "010"},                  {1061, "010"},                      {1155, "010"},
      {1128, "010"},                  {1003, "010"},                      {1008, "010"},
      {1090, "000"} /* Cancel */,
      {1149, "100"} /* by UART */,   {1150, "100"} /* by USB */,         {1163, "110"} /* Calset box */,
  };
  CDownloaderDlg& w = Window();
  // Controls outside the table keep whatever they had.
  w.EnableControl(ctl::kInfoImgset, false);
  for (ConsoleState state : {ConsoleState::Ready, ConsoleState::Busy, ConsoleState::Disconnected, ConsoleState::Busy,
                             ConsoleState::Ready}) {
    w.EnableControl(ctl::kCancel, true);  // as a running job does
    if (state == ConsoleState::Ready) w.EnterReadyState();
    if (state == ConsoleState::Busy) w.EnterBusyState();
    if (state == ConsoleState::Disconnected) w.EnterDisconnectedState();
    const size_t column = state == ConsoleState::Disconnected ? 0 : state == ConsoleState::Ready ? 1 : 2;
    for (const Expected& row : table)
      EXPECT_EQ(w.Control(row.id)->isEnabled(), row.states[column] == '1') << row.id << " state " << column;
    EXPECT_FALSE(w.Control(ctl::kInfoImgset)->isEnabled());
    EXPECT_TRUE(w.Control(ctl::kRadioItem5)->isEnabled());
  }
}

TEST_F(WindowTest, ReadyResetsTheDisplayAndBusyChangesNoText) {
  CDownloaderDlg& w = Window();
  w.ShowItemProgress(ctl::kImgsetButton, ItemFont::Done);
  w.SetControlText(ctl::kFileName, "a.img");
  w.SetControlText(ctl::kTickCount, " 3 / 9 ");
  w.SetProgressPos(40);
  w.Record().m_nProgress = 40;
  w.EnterBusyState();
  EXPECT_EQ(w.ControlText(ctl::kFileName), "a.img");
  EXPECT_EQ(w.ControlAs<QProgressBar>(ctl::kProgressBar)->value(), 40);
  QString before = w.LogView()->toPlainText();
  w.EnterReadyState();
  EXPECT_EQ(w.LogView()->toPlainText(), before);  // kind 5 goes to the scratch box
  EXPECT_EQ(w.ControlText(ctl::kTickCount), " ");
  EXPECT_EQ(w.ControlText(ctl::kFileName), " ");
  EXPECT_EQ(w.ControlText(ctl::kStatusCaption), "Ready");
  EXPECT_EQ(w.ControlAs<QProgressBar>(ctl::kProgressBar)->value(), 0);
  EXPECT_EQ(w.Record().m_nProgress.load(), 0);
  EXPECT_EQ(w.Control(ctl::kImgsetButton)->font(), w.ItemFontFor(ItemFont::Normal));
  w.ShowItemProgress(ctl::kRsrc2Button, ItemFont::Active);
  EXPECT_EQ(w.Control(ctl::kRsrc2Button)->font(), w.ItemFontFor(ItemFont::Active));
  EXPECT_NE(w.ItemFontFor(ItemFont::Active), w.ItemFontFor(ItemFont::Normal));
}

TEST_F(WindowTest, ItemCaptionsFitTheirButtonsInEveryFont) {
  // The fonts the window asks for are seldom installed on Linux; whatever
  // fontconfig puts in their place must still leave every caption whole.
  CDownloaderDlg& w = Window();
  for (int id : {ctl::kImgsetButton, ctl::kCalsetButton, ctl::kRsrc1Button, ctl::kRsrc2Button, ctl::kFsButton}) {
    auto* button = w.ControlAs<QPushButton>(id);
    for (ItemFont font : {ItemFont::Normal, ItemFont::Active, ItemFont::Done}) {
      w.ShowItemProgress(id, font);
      const int needed = QFontMetrics(button->font()).horizontalAdvance(button->text().remove('&'));
      EXPECT_LE(needed, button->contentsRect().width() - 4)
          << button->text().toStdString() << " in font " << static_cast<int>(font) << ": "
          << button->font().family().toStdString();
    }
  }
}

TEST(TitleText, FollowsProgressThenLinkThenDisconnected) {
  const std::string s = "VANTREL Downloader v0.68(D)";
  EXPECT_EQ(TitleText(0, 0, LinkMode::Unset, 0), " Disconnected             " + s);
  EXPECT_EQ(TitleText(37, 1, LinkMode::Usb, 3), " 37% Done...   " + s);
  EXPECT_EQ(TitleText(150, 0, LinkMode::Unset, 0), " 100% Done...   " + s);
  EXPECT_EQ(TitleText(0, 1, LinkMode::Usb, 3), " COM4 (USB)   " + s);
  EXPECT_EQ(TitleText(0, 1, LinkMode::Uart, 0), " COM1 (UART)   " + s);
  EXPECT_FALSE(TitleText(0, 1, LinkMode::Unset, 0));  // no rule fits: the title stays
  EXPECT_EQ(TodayText().size(), 8u);
}

TEST_F(WindowTest, TitleTimerShowsTheStateAndCapsTheProgress) {
  CDownloaderDlg& w = Window();
  w.RefreshTitle();
  EXPECT_EQ(w.windowTitle(), " Disconnected             VANTREL Downloader v0.68(D)");
  EXPECT_EQ(w.Record().m_strToday, TodayText());
  w.Record().m_nProgress = 150;
  w.RefreshTitle();
  EXPECT_EQ(w.windowTitle(), " 100% Done...   VANTREL Downloader v0.68(D)");
  EXPECT_EQ(w.Record().m_nProgress.load(), 100);
  w.Record().m_nProgress = 0;
  w.Record().m_bConnected = 1;
  w.Record().m_nLinkMode = LinkMode::Usb;
  w.Record().m_nComPort = 3;
  w.RefreshTitle();
  EXPECT_EQ(w.windowTitle(), " COM4 (USB)   VANTREL Downloader v0.68(D)");
  w.Record().m_bConnected = 0;
  // The timer itself does it once a second.
  const QString disconnected = " Disconnected             VANTREL Downloader v0.68(D)";
  for (int i = 0; i < 500 && w.windowTitle() != disconnected; ++i) QTest::qWait(10);
  EXPECT_EQ(w.windowTitle(), disconnected);
}

TEST_F(WindowTest, LogColoursByKindAndScratchBoxForKindFive) {
  CDownloaderDlg& w = Window();
  w.AppendLog("black0", LogKind::Black);
  w.AppendLog("blue1", LogKind::Blue);
  w.AppendLog("red2", LogKind::Red2);
  w.AppendLog("blue3", LogKind::BlueNote);
  w.AppendLog("red4", LogKind::Red);
  w.AppendLogPlain("plain");
  EXPECT_EQ(LogColourOf(w, "black0"), QColor(0, 0, 0));
  EXPECT_EQ(LogColourOf(w, "blue1"), QColor(0, 0, 255));
  EXPECT_EQ(LogColourOf(w, "red2"), QColor(255, 0, 0));
  EXPECT_EQ(LogColourOf(w, "blue3"), QColor(0, 0, 255));
  EXPECT_EQ(LogColourOf(w, "red4"), QColor(255, 0, 0));
  EXPECT_EQ(LogColourOf(w, "plain"), w.LogView()->palette().color(QPalette::Text));
  // No line break of its own; callers bring theirs, "\r\n" is one break.
  EXPECT_TRUE(w.LogView()->toPlainText().endsWith("black0blue1red2blue3red4plain"));
  w.AppendLogPlain("\r\n    0 x 4A0000\t Erase");
  EXPECT_TRUE(w.LogView()->toPlainText().endsWith("plain\n    0 x 4A0000\t Erase"));
  QString before = w.LogView()->toPlainText();
  w.AppendLog(" 5 / 9 ", LogKind::Scratch);
  EXPECT_EQ(w.LogView()->toPlainText(), before);
  EXPECT_EQ(w.ControlText(ctl::kTickCount), " 5 / 9 ");
  w.AppendLog("ignored", static_cast<LogKind>(9));
  EXPECT_EQ(w.LogView()->toPlainText(), before);
}

TEST_F(WindowTest, LogKeepsEveryLineAndItsEndInView) {
  CDownloaderDlg& w = Window();
  w.show();
  for (int i = 0; i < 3000; ++i) w.AppendLogPlain("\n line " + std::to_string(i));
  w.AppendLog("\nlast", LogKind::Red);
  Pump();
  QScrollBar* bar = w.LogView()->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());
  EXPECT_GE(w.LogView()->document()->blockCount(), 3001);
  EXPECT_TRUE(w.LogView()->toPlainText().contains("\n line 0\n"));
  // Scrolled back to read, the view stays there while lines arrive.
  bar->setValue(10);
  w.AppendLogPlain("\nmore");
  Pump();
  EXPECT_EQ(bar->value(), 10);
  // The saved form: each line behind the time it began.
  EXPECT_TRUE(QRegularExpression(QStringLiteral("\\n\\d\\d:\\d\\d:\\d\\d\\.\\d{3}  more\\n$"))
                  .match(w.LogWithTimes())
                  .hasMatch());
}

TEST_F(WindowTest, PortAndRateChoicesThatCannotBeSavedAreReported) {
  // A folder where the settings file should be: no write can succeed.
  std::filesystem::create_directories(std::filesystem::path(IniSettings::DefaultPath()) / "blocked");
  CDownloaderDlg& w = Window();
  w.OnComSelChange(4);
  EXPECT_TRUE(w.LogView()->toPlainText().contains(QStringLiteral("Settings not saved: ")));
}

TEST_F(WindowTest, IndicatorKindsPickTheirBoxAndColour) {
  CDownloaderDlg& w = Window();
  w.SetLinkIndicator("one", IndicatorKind::NorIdBlue);
  w.SetLinkIndicator("two", IndicatorKind::FlashIdBlue);
  EXPECT_EQ(w.ControlText(ctl::kNorIdBox), "one");
  EXPECT_EQ(w.ControlText(ctl::kFlashIdBox), "two");
  w.SetLinkIndicator("x", static_cast<IndicatorKind>(0));
  w.SetLinkIndicator("x", static_cast<IndicatorKind>(5));
  EXPECT_EQ(w.ControlText(ctl::kNorIdBox), "one");
  EXPECT_EQ(w.ControlText(ctl::kFlashIdBox), "two");
  // A plain text write keeps the indicator's look.
  w.SetLinkIndicator("  Connect", IndicatorKind::FlashIdRed);
  w.SetControlText(ctl::kFlashIdBox, "K9F1G08");
  QTextCursor c(w.ControlAs<QTextEdit>(ctl::kFlashIdBox)->document());
  c.setPosition(2);
  EXPECT_EQ(w.ControlText(ctl::kFlashIdBox), "K9F1G08");
  EXPECT_EQ(c.charFormat().foreground().color(), QColor(255, 0, 0));
  EXPECT_EQ(c.charFormat().fontWeight(), QFont::Bold);
}

TEST_F(WindowTest, EnterAndEscapeNeitherCloseNorPress) {
  CDownloaderDlg& w = Window();
  w.show();
  w.EnterReadyState();
  auto* download = w.ControlAs<QPushButton>(ctl::kDownload);
  auto* info = w.ControlAs<QPushButton>(ctl::kInfoImgset);
  QSignalSpy downloadClicks(download, &QPushButton::clicked);
  QSignalSpy infoClicks(info, &QPushButton::clicked);
  QSignalSpy rejected(&w, &QDialog::rejected);
  QSignalSpy accepted(&w, &QDialog::accepted);
  for (QWidget* target : {static_cast<QWidget*>(&w), static_cast<QWidget*>(download), static_cast<QWidget*>(info),
                          w.Control(ctl::kNandStartAddress), w.Control(ctl::kLog)}) {
    target->setFocus();
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) QTest::keyClick(target, key);
  }
  Pump();
  EXPECT_TRUE(w.isVisible());
  EXPECT_EQ(downloadClicks.count(), 0);
  EXPECT_EQ(infoClicks.count(), 0);
  EXPECT_EQ(rejected.count(), 0);
  EXPECT_EQ(accepted.count(), 0);
  EXPECT_TRUE(host_.Questions().empty());
  // Space still presses the focused button, as on any dialog.
  info->setFocus();
  QTest::keyClick(info, Qt::Key_Space);
  EXPECT_EQ(infoClicks.count(), 1);
}

TEST_F(WindowTest, HiddenHandlersAreReachableAndTheExitButtonIsNot) {
  CDownloaderDlg& w = Window();
  EXPECT_TRUE(w.Click(ctl::kChkCalset));
  EXPECT_EQ(w.Record().m_bCalset, 1);
  QSignalSpy exitClicks(w.ControlAs<QPushButton>(ctl::kExit), &QPushButton::clicked);
  EXPECT_TRUE(w.Click(ctl::kExit));
  EXPECT_EQ(exitClicks.count(), 0);
  // Hidden check boxes reach their handlers (which copy them into the record).
  EXPECT_TRUE(w.Click(ctl::kChkErRo));
  EXPECT_EQ(w.Record().m_bErRo, 0);
  EXPECT_TRUE(w.Click(ctl::kChkBoot2));
  EXPECT_EQ(w.Record().m_bBoot2, 1);
  EXPECT_TRUE(w.Click(ctl::kAbout));
  EXPECT_FALSE(w.Click(ctl::kLog));
  EXPECT_FALSE(w.Click(4242));
}

TEST_F(WindowTest, ClosingShowsTheTestNoticeAndEndsTheRun) {
  CDownloaderApp app(std::make_unique<IniSettings>(IniSettings::DefaultPath()));
  bool shown = false;
  int rc = app.Run(&host_, [&](CDownloaderDlg& w) {
    shown = w.isVisible();
    EXPECT_EQ(app.MainWindow(), &w);
    EXPECT_TRUE(host_.Questions().empty());
    w.close();
  });
  EXPECT_TRUE(shown);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(app.MainWindow(), nullptr);
  auto questions = host_.Questions();
  ASSERT_EQ(questions.size(), 1u);
  EXPECT_EQ(questions[0].text, "test");
  EXPECT_EQ(questions[0].caption, "VANTREL Downloader");
}

TEST(ConsoleText, FiltersTakeTheToolkitsForm) {
  EXPECT_EQ(QtFilterText("Image File(*.img)|*.img|*.*|*.*||"), "Image File (*.[iI][mM][gG]);;*.* (*)");
  EXPECT_EQ(QtFilterText("VLF Files (*.vlf)|*.vlf|All Files (*.*)|*.*||"),
            "VLF Files (*.[vV][lL][fF]);;All Files (*)");
  EXPECT_EQ(QtFilterText("Two|*.a;*.B2||"), "Two (*.[aA] *.[bB]2)");
  // Any case of the extension passes the toolkit's own wildcard match.
  const QRegularExpression img(QRegularExpression::wildcardToRegularExpression(QStringLiteral("*.[iI][mM][gG]")));
  for (const char* name : {"a.img", "a.IMG", "a.Img"}) EXPECT_TRUE(img.match(QString::fromLatin1(name)).hasMatch());
  EXPECT_EQ(DisplayText("a\r\nb\rc\nd"), "a\nb\nc\nd");
}
