// The console operations of the main window: log, indicators, control texts,
// the three console states, data exchange, the title and the modal calls.
#include <QAbstractButton>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QFile>
#include <QMenu>
#include <QScrollBar>
#include <QTextBlock>
#include <QTime>
#include <QTextCursor>
#include <QTextEdit>

#include "console/CDownloaderDlg.h"
#include "console/ConsoleText.h"
#include "console/ModalHost.h"
#include "jobs/ControlIds.h"
#include "maintenance/OperationControl.h"

namespace vantrel {

using console::ConsoleState;

namespace {

const QColor kBlue(0, 0, 255);
const QColor kRed(255, 0, 0);
const QColor kBlack(0, 0, 0);

QString ToQ(const std::string& text) { return QString::fromStdString(console::DisplayText(text)); }

// A single-line box shows one line: line ends are dropped.
QString OneLine(const std::string& text) {
  QString q = QString::fromStdString(text);
  q.remove(QLatin1Char('\r'));
  q.remove(QLatin1Char('\n'));
  return q;
}

}  // namespace

// --- Log ---

void CDownloaderDlg::InsertLogText(const QString& text, const QColor* colour) {
  // Follow the end only while the operator is there, as a terminal does: a
  // view scrolled back to read stays where it is during a transfer.
  QScrollBar* bar = log_->verticalScrollBar();
  const bool atEnd = bar->value() >= bar->maximum();
  QTextCursor cursor(log_->document());
  cursor.movePosition(QTextCursor::End);
  QTextBlock first = cursor.block();
  QTextCharFormat format;
  if (colour) format.setForeground(*colour);
  cursor.insertText(text, format);
  // Each line keeps the time it was started, for the saved log.
  const int now = QTime::currentTime().msecsSinceStartOfDay();
  for (QTextBlock b = first; b.isValid(); b = b.next())
    if (b.userState() < 0) b.setUserState(now);
  if (atEnd) bar->setValue(bar->maximum());
}

QString CDownloaderDlg::LogWithTimes() const {
  QString out;
  for (QTextBlock b = log_->document()->begin(); b.isValid(); b = b.next()) {
    const QTime at = QTime::fromMSecsSinceStartOfDay(std::max(0, b.userState()));
    out += at.toString(QStringLiteral("HH:mm:ss.zzz")) + QStringLiteral("  ") + b.text() + QLatin1Char('\n');
  }
  return out;
}

void CDownloaderDlg::ShowLogMenu(const QPoint& at) {
  QMenu menu(log_);
  QAction* copy = menu.addAction(QStringLiteral("Copy"));
  copy->setEnabled(log_->textCursor().hasSelection());
  connect(copy, &QAction::triggered, log_, &QPlainTextEdit::copy);
  menu.addAction(QStringLiteral("Select All"), log_, &QPlainTextEdit::selectAll);
  menu.addSeparator();
  menu.addAction(QStringLiteral("Save log\u2026"), this, [this] {
    const std::optional<std::string> path =
        host_->SaveFile(this, "vantrel-log.txt", "Text File(*.txt)|*.txt|*.*|*.*||");
    if (!path) return;
    QFile file(QString::fromStdString(*path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text) ||
        file.write(LogWithTimes().toUtf8()) < 0 || !file.flush())
      host_->MessageBox(this, "Log not saved: " + file.errorString().toStdString(), kAppName, MsgButtons::Ok);
  });
  menu.exec(log_->viewport()->mapToGlobal(at));
}

void CDownloaderDlg::AppendLog(const std::string& text, LogKind kind) {
  if (!OnGuiThread()) {
    Post([this, text, kind] { AppendLog(text, kind); });
    return;
  }
  switch (kind) {
    case LogKind::Black:
      InsertLogText(ToQ(text), &kBlack);
      break;
    case LogKind::Blue:
    case LogKind::BlueNote:
      InsertLogText(ToQ(text), &kBlue);
      break;
    case LogKind::Red2:
    case LogKind::Red:
      InsertLogText(ToQ(text), &kRed);
      break;
    case LogKind::Scratch:
      // The scratch box takes the text instead of the log.
      ControlAs<QLineEdit>(ctl::kTickCount)->setText(OneLine(text));
      break;
  }
}

void CDownloaderDlg::AppendLogPlain(const std::string& text) {
  if (!OnGuiThread()) {
    Post([this, text] { AppendLogPlain(text); });
    return;
  }
  InsertLogText(ToQ(text), nullptr);
}

void CDownloaderDlg::SetRichText(QTextEdit* box, const std::string& text, const QColor& colour, bool bold) {
  box->clear();
  QTextCursor cursor(box->document());
  QTextCharFormat format;
  format.setForeground(colour);
  if (bold) format.setFontWeight(QFont::Bold);
  cursor.insertText(ToQ(text), format);
}

void CDownloaderDlg::SetLinkIndicator(const std::string& text, IndicatorKind kind) {
  if (!OnGuiThread()) {
    Post([this, text, kind] { SetLinkIndicator(text, kind); });
    return;
  }
  int box = 0;
  const QColor* colour = nullptr;
  switch (kind) {
    case IndicatorKind::NorIdBlue: box = ctl::kNorIdBox; colour = &kBlue; break;
    case IndicatorKind::FlashIdBlue: box = ctl::kFlashIdBox; colour = &kBlue; break;
    case IndicatorKind::NorIdRed: box = ctl::kNorIdBox; colour = &kRed; break;
    case IndicatorKind::FlashIdRed: box = ctl::kFlashIdBox; colour = &kRed; break;
    default: return;  // no box for any other value
  }
  SetRichText(ControlAs<QTextEdit>(box), text, *colour, true);
}

void CDownloaderDlg::SetControlText(int controlId, const std::string& text) {
  if (!OnGuiThread()) {
    Post([this, controlId, text] { SetControlText(controlId, text); });
    return;
  }
  QWidget* w = Control(controlId);
  if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(OneLine(text));
  } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
    b->setText(ToQ(text));
  } else if (auto* t = qobject_cast<QTextEdit*>(w)) {
    // The text takes the look the box already has (bold, colour).
    QTextCursor cursor(t->document());
    cursor.movePosition(QTextCursor::End);
    QTextCharFormat format = cursor.charFormat();
    cursor.select(QTextCursor::Document);
    cursor.insertText(ToQ(text), format);
  } else if (auto* l = qobject_cast<QLabel*>(w)) {
    l->setText(ToQ(text));
  } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
    g->setTitle(ToQ(text));
  } else if (auto* p = qobject_cast<QPlainTextEdit*>(w)) {
    p->setPlainText(ToQ(text));
  }
}

void CDownloaderDlg::NoteEnabled(int id, bool enabled) {
  std::lock_guard<std::mutex> lock(enableMu_);
  requestedEnable_[id] = enabled;
}

bool CDownloaderDlg::EnableAlreadyRequested(int id, bool enabled) {
  std::lock_guard<std::mutex> lock(enableMu_);
  auto it = requestedEnable_.find(id);
  if (it != requestedEnable_.end() && it->second == enabled) return true;
  requestedEnable_[id] = enabled;
  return false;
}

void CDownloaderDlg::EnableControl(int controlId, bool enabled) {
  if (!OnGuiThread()) {
    // The progress callback enables Cancel on every 1024-byte chunk; only a
    // change is worth a trip to the GUI thread.
    if (EnableAlreadyRequested(controlId, enabled)) return;
    Post([this, controlId, enabled] {
      if (QWidget* w = Control(controlId)) w->setEnabled(enabled);
    });
    return;
  }
  NoteEnabled(controlId, enabled);
  if (QWidget* w = Control(controlId)) w->setEnabled(enabled);
}

void CDownloaderDlg::SetProgressRange(int low, int high) {
  if (!OnGuiThread()) {
    Post([this, low, high] { SetProgressRange(low, high); });
    return;
  }
  progress_->setRange(low, high);
}

void CDownloaderDlg::SetProgressPos(int pos) {
  if (!OnGuiThread()) {
    Post([this, pos] { SetProgressPos(pos); });
    return;
  }
  progress_->setValue(std::clamp(pos, progress_->minimum(), progress_->maximum()));
}

void CDownloaderDlg::ShowItemProgress(int itemButton, ItemFont font) {
  if (!OnGuiThread()) {
    Post([this, itemButton, font] { ShowItemProgress(itemButton, font); });
    return;
  }
  if (QWidget* w = Control(itemButton)) w->setFont(ItemFontFor(font));
}

// The window shows the counts in its own boxes (SetControlText queues them
// for the GUI thread).
void CDownloaderDlg::ShowTicks(int ticks, int expected) { SetControlText(ctl::kTickCount, TickText(ticks, expected)); }

void CDownloaderDlg::ShowPercent(int percent) { SetControlText(ctl::kStatusCaption, std::to_string(percent)); }

// --- Console states ---

void CDownloaderDlg::ApplyState(ConsoleState state) {
  for (const console::StateRow& row : console::StateEnablingTable()) {
    bool on = console::EnabledIn(row, state);
    NoteEnabled(row.id, on);
    if (QWidget* w = Control(row.id)) w->setEnabled(on);
  }
}

void CDownloaderDlg::ResetDisplay() {
  for (int id : console::kFileButtons) Control(id)->setFont(fontItem_);
}

void CDownloaderDlg::EnterDisconnectedState() {
  if (!OnGuiThread()) {
    for (const console::StateRow& row : console::StateEnablingTable())
      NoteEnabled(row.id, console::EnabledIn(row, ConsoleState::Disconnected));
    Post([this] { EnterDisconnectedState(); });
    return;
  }
  ApplyState(ConsoleState::Disconnected);
  ResetDisplay();
  SetLinkIndicator("Disconnect", IndicatorKind::FlashIdRed);
  SetLinkIndicator("Disconnect", IndicatorKind::FlashIdBlue);
  rec_.m_nProgress = 0;
  progress_->setRange(0, 100);
  progress_->setValue(0);
  for (int id : {ctl::kFileSize, ctl::kFileName, ctl::kCheckSum}) SetControlText(id, " ");
  AppendLog("\n * How to use Download Mode", LogKind::Red);
  AppendLogPlain("\n    1. Turn off the target phone!!!");
  AppendLogPlain("\n    2. Select COM Port(USB or UART) , Baud Rate.");
  AppendLogPlain("\n    3. Push the Start Button.");
  AppendLogPlain("\n    4. Turn on the target phone!!!\n");
  SetControlText(ctl::kStatusCaption, "Off");
}

void CDownloaderDlg::EnterReadyState() {
  if (!OnGuiThread()) {
    for (const console::StateRow& row : console::StateEnablingTable())
      NoteEnabled(row.id, console::EnabledIn(row, ConsoleState::Ready));
    Post([this] { EnterReadyState(); });
    return;
  }
  ApplyState(ConsoleState::Ready);
  ResetDisplay();
  rec_.m_nProgress = 0;
  progress_->setRange(0, 100);
  progress_->setValue(0);
  for (int id : {ctl::kFileSize, ctl::kFileName, ctl::kCheckSum}) SetControlText(id, " ");
  AppendLog(" ", LogKind::Scratch);
  SetControlText(ctl::kStatusCaption, "Ready");
}

void CDownloaderDlg::EnterBusyState() {
  if (!OnGuiThread()) {
    for (const console::StateRow& row : console::StateEnablingTable())
      NoteEnabled(row.id, console::EnabledIn(row, ConsoleState::Busy));
    Post([this] { EnterBusyState(); });
    return;
  }
  ApplyState(ConsoleState::Busy);
}

// --- Data exchange ---

void CDownloaderDlg::ControlsToRecord() {
  if (!OnGuiThread()) {
    // The caller reads the record next: wait until it is filled.
    CallOnGui<bool>([this] { ControlsToRecord(); return true; }, false);
    return;
  }
  auto* uart = ControlAs<QRadioButton>(ctl::kRadioUart);
  auto* usb = ControlAs<QRadioButton>(ctl::kRadioUsb);
  rec_.m_nCommType = uart->isChecked() ? 0 : usb->isChecked() ? 1 : -1;
  rec_.m_nDownloadItem = itemGroup_->checkedId();  // -1 when none is checked
  for (const auto& [id, member] : checkBoxes_) *member = ControlAs<QCheckBox>(id)->isChecked() ? 1 : 0;
}

void CDownloaderDlg::RecordToControls() {
  if (!OnGuiThread()) {
    CallOnGui<bool>([this] { RecordToControls(); return true; }, false);
    return;
  }
  auto setRadio = [](QButtonGroup* group, int id) {
    // An exclusive group cannot uncheck its last button on its own.
    group->setExclusive(false);
    for (QAbstractButton* b : group->buttons()) b->setChecked(group->id(b) == id);
    group->setExclusive(true);
  };
  setRadio(ControlAs<QRadioButton>(ctl::kRadioUart)->group(), rec_.m_nCommType);
  setRadio(itemGroup_, rec_.m_nDownloadItem);
  for (const auto& [id, member] : checkBoxes_) ControlAs<QCheckBox>(id)->setChecked(*member != 0);
}

// --- Title ---

void CDownloaderDlg::RefreshTitle() {
  // The date is rewritten only when it changes and no job is reading it.
  std::string today = console::TodayText();
  if (today != rec_.m_strToday && !ops_->JobRunning()) rec_.m_strToday = today;
  int progress = rec_.m_nProgress.load();
  if (progress > 100) rec_.m_nProgress = progress = 100;
  std::optional<std::string> title =
      console::TitleText(progress, rec_.m_bConnected.load(), rec_.m_nLinkMode, rec_.m_nComPort);
  if (title) setWindowTitle(QString::fromStdString(*title));
}

// --- Modal calls ---

MsgAnswer CDownloaderDlg::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) {
  std::string shown = caption.empty() ? std::string(kAppName) : caption;
  return CallOnGui<MsgAnswer>([this, text, shown, buttons] { return host_->MessageBox(this, text, shown, buttons); },
                              MsgAnswer::Cancel);
}

bool CDownloaderDlg::Confirm(const std::string& title, const std::vector<std::string>& lines) {
  return CallOnGui<bool>([this, title, lines] { return host_->Confirm(this, title, lines); }, false);
}

std::optional<std::string> CDownloaderDlg::SaveFileDialog(const std::string& proposedName, const std::string& filter) {
  return CallOnGui<std::optional<std::string>>(
      [this, proposedName, filter] { return host_->SaveFile(this, proposedName, filter); }, std::nullopt);
}

std::optional<DumpArea> CDownloaderDlg::NorDumpDialog() {
  return CallOnGui<std::optional<DumpArea>>([this] { return host_->NorDumpArea(this); }, std::nullopt);
}

std::optional<DumpArea> CDownloaderDlg::NandDumpDialog() {
  return CallOnGui<std::optional<DumpArea>>([this] { return host_->NandDumpArea(this); }, std::nullopt);
}

}  // namespace vantrel
