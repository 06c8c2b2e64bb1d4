#include "console/CDownloaderDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QIcon>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <cmath>
#include <cstdio>

#include "console/BitmapButton.h"
#include "console/ComPortList.h"
#include "console/DesktopNotice.h"
#include "console/ModalHost.h"
#include "history/History.h"
#include "jobs/ControlIds.h"
#include "jobs/JobState.h"
#include "link/ComNames.h"
#include "link/PortList.h"
#include "link/Stop.h"
#include "maintenance/OperationControl.h"
#include "payloads/Payloads.h"

// The icon lives in this library's resources; a static library has to
// register them itself.
static void InitConsoleResources() { Q_INIT_RESOURCE(console); }

namespace vantrel {

using console::Kind;

namespace {

// Win32-style font description: cell height and average character width in
// pixels at the classic 96 dots per inch. The size becomes points, so that a
// scaled screen scales the text with the rest of the window. The faces named
// are seldom installed on Linux: each is followed by a metric-compatible one
// (Liberation Sans has Arial's widths) and then by one every system has.
QFont MakeFont(const char* family, int heightPx, int widthPx, bool black) {
  constexpr double kPointsPerPixelAt96Dpi = 72.0 / 96.0;
  QFont f;
  f.setFamilies({QString::fromLatin1(family), QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
  const int pixel = std::max(6, static_cast<int>(std::lround(heightPx * 0.85)));
  f.setPointSizeF(pixel * kPointsPerPixelAt96Dpi);
  // Average glyph width of these faces is about half the em: the requested
  // width becomes a horizontal stretch.
  int stretch = static_cast<int>(std::lround(100.0 * widthPx / (pixel * 0.5)));
  f.setStretch(std::clamp(stretch, 50, 150));
  if (black) f.setWeight(QFont::Black);
  return f;
}

// The row an item radio chooses, as its button or label reads.
const char* ItemRowName(int item) {
  switch (item) {
    case 10: return "NAND image at start address";
    case 5: return "Imgset";
    case 6: return "Calset";
    case 0: return "Rsrc1";
    case 2: return "Rsrc2";
    case 3: return "File System";
    case 7: return "All Download";
    default: return nullptr;
  }
}

}  // namespace

CDownloaderDlg::CDownloaderDlg(SettingsStore* settings, ModalHost* host, QWidget* parent)
    : QDialog(parent), settings_(settings) {
  InitConsoleResources();
  ownHost_ = std::make_unique<QtModalHost>();
  host_ = host ? host : ownHost_.get();
  ops_ = std::make_unique<OperationControl>(rec_, *this, settings_);
  // Every job the window runs leaves its line in the station log, as the
  // command line's and the station's runs do.
  ops_->RecordRuns(history::HistoryPath(), AdapterSerialOf);
  // A long job that ends while the operator works elsewhere tells them so.
  ops_->OnJobEnd([this](const JobOutcome& outcome) {
    QMetaObject::invokeMethod(this, [this, outcome] { NoticeIfAway(outcome); }, Qt::QueuedConnection);
  });

  setWindowTitle(QString::fromLatin1(kWindowTitleSuffix));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/vantrel/vantrel.png")));
  setFont(QFont(QStringLiteral("Tahoma"), 8));

  CreateFonts();
  BuildControls();
  ConnectHandlers();
  qApp->installEventFilter(this);
  Initialise();
}

CDownloaderDlg::~CDownloaderDlg() {
  qApp->removeEventFilter(this);
  // A worker waiting for an answer must not wait for a window that is going
  // away; then the running job is stopped and joined.
  Shutdown();
  ops_.reset();
}

void CDownloaderDlg::NoticeIfAway(const JobOutcome& outcome) {
  if (outcome.seconds < kLongJobSeconds || (isActiveWindow() && !isMinimized())) return;
  SendDesktopNotice(NoticeSummary(outcome), NoticeBody(outcome));
}

void CDownloaderDlg::CreateFonts() {
  fontBanner_ = MakeFont("Arial Black", 35, 10, true);
  fontStatus_ = MakeFont("Arial Black", 27, 10, true);
  fontStart_ = MakeFont("Arial", 15, 7, false);
  fontItemActive_ = MakeFont("Verdana Black", 16, 6, true);
  fontItemDone_ = MakeFont("Arial Black", 20, 7, true);
  fontItem_ = MakeFont("Arial", 14, 5, false);
  fontSmall_ = MakeFont("Arial", 15, 6, false);
}

const QFont& CDownloaderDlg::ItemFontFor(ItemFont font) const {
  switch (font) {
    case ItemFont::Active:
      return fontItemActive_;
    case ItemFont::Done:
      return fontItemDone_;
    case ItemFont::Normal:
      break;
  }
  return fontItem_;
}

void CDownloaderDlg::Register(int id, QWidget* w) {
  if (id == 0) return;
  w->setProperty("controlId", id);
  w->setObjectName(QStringLiteral("ctl%1").arg(id));
  controls_[id] = w;
}

void CDownloaderDlg::BuildControls() {
  // Dialog units follow the dialog font, as on the platform this layout was
  // drawn for: a horizontal unit is a quarter of the average character
  // width, a vertical unit an eighth of the character height.
  QFontMetricsF fm(font());
  const double avg = fm.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz")) / 52.0;
  const double ux = avg / 4.0;
  const double uy = fm.height() / 8.0;
  auto rect = [&](int x, int y, int w, int h) {
    return QRect(static_cast<int>(std::lround(x * ux)), static_cast<int>(std::lround(y * uy)),
                 static_cast<int>(std::lround(w * ux)), static_cast<int>(std::lround(h * uy)));
  };
  setFixedSize(rect(0, 0, console::kDialogWidthDu, console::kDialogHeightDu).size());

  auto* commGroup = new QButtonGroup(this);
  itemGroup_ = new QButtonGroup(this);
  itemGroup_->setExclusive(true);

  for (const console::ControlDef& c : console::MainWindowControls()) {
    const QString caption = QString::fromLatin1(c.caption);
    QWidget* w = nullptr;
    switch (c.kind) {
      case Kind::GroupBox:
        w = new QGroupBox(caption, this);
        break;
      case Kind::Static:
        w = new QLabel(caption, this);
        break;
      case Kind::ComboBox: {
        auto* box = c.id == ctl::kComList ? new ComPortBox(this) : new QComboBox(this);
        if (c.id == ctl::kComList) {
          for (int i = 1; i <= kComPortCount; ++i) box->addItem(QStringLiteral("COM%1").arg(i));
          comList_ = box;
        } else {
          box->addItems({QStringLiteral("115K"), QStringLiteral("460K"), QStringLiteral("921K")});
          baudList_ = box;
        }
        box->setMaxVisibleItems(std::max(1, c.h / 8 - 1));
        box->setCurrentIndex(-1);
        w = box;
        break;
      }
      case Kind::PushButton: {
        auto* b = new QPushButton(caption, this);
        b->setAutoDefault(false);
        b->setDefault(false);
        w = b;
        break;
      }
      case Kind::BitmapButton: {
        auto* b = new BitmapButton(caption, NandEraseIcon(), kNandEraseFaceSize, this);
        b->setAutoDefault(false);
        w = b;
        break;
      }
      case Kind::Radio: {
        auto* r = new QRadioButton(caption, this);
        if (c.item >= 0) {
          itemGroup_->addButton(r, c.item);
          r->setProperty("item", c.item);
        } else {
          commGroup->addButton(r, c.id == ctl::kRadioUart ? 0 : 1);
        }
        // "Radio14" names the control but is not meant to be read.
        if (c.id == ctl::kRadioItem7) r->setText(QString());
        // The item radios show no text; a screen reader names each by its row.
        if (const char* row = ItemRowName(c.item)) r->setAccessibleName(QString::fromLatin1(row));
        r->setProperty("caption", caption);
        r->setChecked(c.flags & console::kChecked);
        w = r;
        break;
      }
      case Kind::CheckBox:
        w = new QCheckBox(caption, this);
        break;
      case Kind::Edit: {
        auto* e = new QLineEdit(caption, this);
        e->setReadOnly(c.flags & console::kReadOnly);
        if (c.flags & console::kRightAlign) e->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        w = e;
        break;
      }
      case Kind::RichText: {
        auto* t = new QTextEdit(this);
        t->setReadOnly(true);
        t->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        t->setLineWrapMode(QTextEdit::NoWrap);
        t->document()->setDocumentMargin(1);
        w = t;
        break;
      }
      case Kind::Log: {
        log_ = new QPlainTextEdit(this);
        log_->setReadOnly(true);
        log_->setUndoRedoEnabled(false);
        log_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        log_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        log_->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(log_, &QWidget::customContextMenuRequested, this, [this](const QPoint& at) { ShowLogMenu(at); });
        w = log_;
        break;
      }
      case Kind::Progress: {
        progress_ = new QProgressBar(this);
        progress_->setOrientation(Qt::Vertical);
        progress_->setRange(0, 100);
        progress_->setValue(0);
        progress_->setTextVisible(false);
        w = progress_;
        break;
      }
    }
    QRect r = rect(c.x, c.y, c.w, c.h);
    // A drop-down list's height in the layout includes its open list; closed
    // it is one line high.
    if (c.kind == Kind::ComboBox)
      r.setHeight(std::min(w->sizeHint().height(), static_cast<int>(std::lround(14 * uy))));
    if (c.kind == Kind::BitmapButton) r.setSize(w->sizeHint());
    w->setGeometry(r);
    if (c.flags & console::kDisabled) w->setEnabled(false);
    if (c.flags & console::kHidden) w->setVisible(false);
    Register(c.id, w);
  }

  if (auto* b = ControlAs<QWidget>(ctl::kBanner)) b->setFont(fontBanner_);
  if (auto* b = ControlAs<QWidget>(ctl::kStart)) b->setFont(fontStart_);
  if (auto* b = ControlAs<QWidget>(ctl::kEdit1011)) b->setFont(fontSmall_);
  if (auto* b = ControlAs<QWidget>(ctl::kStatusCaption)) b->setFont(fontStatus_);

  checkBoxes_ = {
      {ctl::kChkHwEcc, &rec_.m_bHwEcc},
      {ctl::kChkAutoAll, &rec_.m_bAutoAllDownload},
      {ctl::kChkReboot, &rec_.m_bReboot},
      {ctl::kChkCalsetDefault, &rec_.m_bCalsetDefault},
      {ctl::kChkIncludeBootloader, &rec_.m_bIncludeBootloader},
      {ctl::kChkImage, &rec_.m_bImage},
      {ctl::kChkResource1157, &rec_.m_bResource1157},
      {ctl::kChkBoot2, &rec_.m_bBoot2},
      {ctl::kChkCalset, &rec_.m_bCalset},
      {ctl::kChkErRo, &rec_.m_bErRo},
      {ctl::kChkParam, &rec_.m_bParam},
      {ctl::kChkResource1164, &rec_.m_bResource1164},
  };
}

void CDownloaderDlg::ConnectHandlers() {
  auto onClick = [this](int id, std::function<void()> fn) {
    if (auto* b = ControlAs<QAbstractButton>(id)) connect(b, &QAbstractButton::clicked, this, [fn] { fn(); });
  };
  OperationControl& ops = *ops_;
  onClick(ctl::kStart, [&ops] { ops.OnStart(); });
  onClick(ctl::kDownload, [&ops] { ops.OnDownload(); });
  onClick(ctl::kCancel, [this, &ops] {
    ops.OnCancel();
    // The stopped job may have said more than the window has shown so far;
    // none of it may appear after Cancel's own words.
    DropQueuedWorkerCalls();
  });
  onClick(ctl::kDisconnect, [&ops] { ops.OnDisconnect(); });
  onClick(ctl::kDlBootloader, [&ops] { ops.OnBootloaderDownload(); });
  onClick(ctl::kPush, [&ops] { ops.OnNandEraseAll(); });
  onClick(ctl::kErBootloader, [&ops] { ops.OnEraseBootloader(); });
  onClick(ctl::kNandDump, [&ops] { ops.OnNandDump(); });
  onClick(ctl::kNorDump, [&ops] { ops.OnNorDump(); });
  onClick(ctl::kNorAllErase, [&ops] { ops.OnNorAllSectorsErase(); });
  onClick(ctl::kVlfFormat, [&ops] { ops.OnVlfFormat(); });
  onClick(ctl::kPzlFormat, [&ops] { ops.OnPzlFormat(); });
  onClick(ctl::kCheckBadBlock, [&ops] { ops.OnCheckBadBlock(); });
  onClick(ctl::kRawDump, [&ops] { ops.OnRawDump(); });
  for (int id : {ctl::kChkBoot2, ctl::kChkErRo, ctl::kChkParam, ctl::kChkResource1164, ctl::kChkCalset})
    onClick(id, [&ops, id] { ops.OnSelectionCheckBox(id); });

  onClick(ctl::kRadioUart, [this] { OnByUart(); });
  onClick(ctl::kRadioUsb, [this] { OnByUsb(); });
  onClick(ctl::kImgsetButton, [this] { OnImgset(); });
  onClick(ctl::kFsButton, [this] { OnFileSystem(); });
  for (int id : {ctl::kCalsetButton, ctl::kRsrc1Button, ctl::kRsrc2Button, ctl::kNandChFile, ctl::kNorChFile})
    onClick(id, [this, id] { OnChooseFile(id); });
  onClick(ctl::kVlfDownload, [this] { OnEntireFlashFile(); });
  for (int id : {ctl::kInfoImgset, ctl::kInfoCalset, ctl::kInfoRsrc1, ctl::kInfoRsrc2, ctl::kInfoFs})
    onClick(id, [this, id] { OnInfo(id); });

  for (int id : {ctl::kNandStartAddress, ctl::kNorStartAddress}) {
    auto* e = ControlAs<QLineEdit>(id);
    connect(e, &QLineEdit::textChanged, this, [this, id] { OnStartAddressChanged(id); });
  }
  // Only the operator's choice counts as a change; selecting an entry from
  // the program does not store anything.
  connect(comList_, &QComboBox::activated, this, [this](int i) { OnComSelChange(i); });
  connect(baudList_, &QComboBox::activated, this, [this](int i) { OnBaudSelChange(i); });
  comPorts_ = new ComPortList(static_cast<ComPortBox*>(comList_), MakeSystemPortLister());
  comPorts_->onError = [this](const std::string& text) { MessageBox(text); };
  // A name given from the window is the operator's choice of port.
  comPorts_->onMapped = [this](int index) {
    SelectCom(index);
    OnComSelChange(index);
  };

  titleTimer_ = new QTimer(this);
  titleTimer_->setInterval(1000);
  connect(titleTimer_, &QTimer::timeout, this, [this] { RefreshTitle(); });
}

void CDownloaderDlg::Initialise() {
  rec_.m_nComPort = ReadStoredPort("UartPort");
  SelectCom(rec_.m_nComPort);
  rec_.m_nComPort = ReadStoredPort("UsbPort");
  SelectCom(rec_.m_nComPort);
  rec_.m_nBaudRate = ReadSettingInt("m_nBaudRate", rec_.m_nBaudRate);
  baudList_->setCurrentIndex(rec_.m_nBaudRate >= 0 && rec_.m_nBaudRate < baudList_->count() ? rec_.m_nBaudRate : -1);
  rec_.m_nDownloadNum = ReadSettingInt("m_nDownloadNum", rec_.m_nDownloadNum);
  if (rec_.m_nDownloadNum < 0 || rec_.m_nDownloadNum > 10000) rec_.m_nDownloadNum = 0;
  SetControlText(ctl::kDownloadCounter, std::to_string(rec_.m_nDownloadNum));

  rec_.m_bHwEcc = 0;
  Control(ctl::kLog)->setEnabled(true);
  Control(ctl::kTickCount)->setEnabled(true);
  EnableControl(ctl::kCancel, false);

  SetLinkIndicator("  Disconnect", IndicatorKind::FlashIdRed);
  SetLinkIndicator("  Disconnect", IndicatorKind::NorIdRed);

  rec_.m_dTotalElapsed = 0;
  rec_.m_nStartAddress = 0;
  SetControlText(ctl::kNorStartAddress, "0");
  SetControlText(ctl::kNandStartAddress, "0");
  rec_.m_bConnected = 0;

  if (settings_) rec_.m_strImageFileName = settings_->ReadString(kSettingsSection, "m_strImageFileName", "");
  SetControlText(ctl::kImgsetPath, rec_.m_strImageFileName);

  titleTimer_->start();

  rec_.m_nCommType = 1;
  rec_.m_bImage = 1;
  rec_.m_bErRo = 1;
  RecordToControls();

  // Which payloads a handset will get: the operator must see stand-ins or a
  // refused folder before pressing START.
  const PayloadSet& payloads = ActivePayloads();
  AppendLog("  * " + payloads.Notice() + "\n", payloads.From() == PayloadSet::Source::Folder ? LogKind::BlueNote : LogKind::Red);

  EnterDisconnectedState();
  rec_.m_bFsChosen = 0;
}

QWidget* CDownloaderDlg::Control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

std::vector<int> CDownloaderDlg::ControlIds() const {
  std::vector<int> ids;
  for (const auto& [id, w] : controls_) ids.push_back(id);
  return ids;
}

bool CDownloaderDlg::Click(int id) {
  auto* b = ControlAs<QAbstractButton>(id);
  if (!b) return false;
  b->click();
  return true;
}

std::string CDownloaderDlg::ControlText(int id) const {
  QWidget* w = Control(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
  if (auto* t = qobject_cast<QTextEdit*>(w)) return t->toPlainText().toStdString();
  if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText().toStdString();
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText().toStdString();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text().toStdString();
  return {};
}

void CDownloaderDlg::SetModalHost(ModalHost* host) { host_ = host ? host : ownHost_.get(); }
ModalHost& CDownloaderDlg::Host() const { return *host_; }

// --- Keys ---

bool CDownloaderDlg::eventFilter(QObject* watched, QEvent* event) {
  // Enter and Escape are swallowed before any control of this window sees
  // them: neither closes the window nor presses a button.
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::ShortcutOverride) {
    auto* w = qobject_cast<QWidget*>(watched);
    if (w && w->window() == this) {
      int key = static_cast<QKeyEvent*>(event)->key();
      if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
        event->accept();
        return true;
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void CDownloaderDlg::keyPressEvent(QKeyEvent* event) {
  int key = event->key();
  if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

// --- Cross-thread delivery ---

bool CDownloaderDlg::OnGuiThread() const { return QThread::currentThread() == thread(); }

void CDownloaderDlg::Post(std::function<void()> fn) {
  // Posted events to one receiver are delivered in the order posted, which
  // keeps a worker's calls in order. A call still queued when Cancel stopped
  // its job is dropped (see DropQueuedWorkerCalls).
  const unsigned generation = postGeneration_.load();
  QMetaObject::invokeMethod(
      this,
      [this, generation, fn = std::move(fn)] {
        if (generation == postGeneration_.load()) fn();
      },
      Qt::QueuedConnection);
}

void CDownloaderDlg::DropQueuedWorkerCalls() { ++postGeneration_; }

template <class R>
R CDownloaderDlg::CallOnGui(std::function<R()> fn, R fallback) {
  if (OnGuiThread()) return ShuttingDown() ? fallback : fn();
  struct Pending {
    bool done = false;
    bool abandoned = false;  // the worker stopped waiting; do not ask any more
    R value;
  };
  auto pending = std::make_shared<Pending>(Pending{false, false, fallback});
  {
    std::lock_guard<std::mutex> lock(waitMu_);
    if (closing_) return fallback;
  }
  Post([this, pending, fn] {
    {
      std::lock_guard<std::mutex> lock(waitMu_);
      if (closing_ || pending->abandoned) return;
    }
    R value = fn();
    {
      std::lock_guard<std::mutex> lock(waitMu_);
      pending->value = value;
      pending->done = true;
    }
    waitCv_.notify_all();
  });
  std::unique_lock<std::mutex> lock(waitMu_);
  // A stop request ends the wait as well: Cancel on the GUI thread may be
  // waiting for this very worker to finish.
  while (!pending->done && !closing_ && !stop::Requested())
    waitCv_.wait_for(lock, std::chrono::milliseconds(20));
  if (!pending->done) pending->abandoned = true;
  return pending->done ? pending->value : fallback;
}

void CDownloaderDlg::Shutdown() {
  {
    std::lock_guard<std::mutex> lock(waitMu_);
    closing_ = true;
  }
  waitCv_.notify_all();
  if (titleTimer_) titleTimer_->stop();
}

bool CDownloaderDlg::ShuttingDown() const {
  std::lock_guard<std::mutex> lock(waitMu_);
  return closing_;
}

}  // namespace vantrel

namespace vantrel {

// The result types of the blocking calls.
template MsgAnswer CDownloaderDlg::CallOnGui<MsgAnswer>(std::function<MsgAnswer()>, MsgAnswer);
template bool CDownloaderDlg::CallOnGui<bool>(std::function<bool()>, bool);
template std::optional<std::string> CDownloaderDlg::CallOnGui<std::optional<std::string>>(
    std::function<std::optional<std::string>()>, std::optional<std::string>);
template std::optional<DumpArea> CDownloaderDlg::CallOnGui<std::optional<DumpArea>>(
    std::function<std::optional<DumpArea>()>, std::optional<DumpArea>);

}  // namespace vantrel
