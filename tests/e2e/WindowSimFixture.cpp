#include "tests/e2e/WindowSimFixture.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "console/ConsoleText.h"
#include "jobs/Connect.h"
#include "jobs/JobState.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "maintenance/OperationControl.h"
#include "protocol/ImageSession.h"

namespace vantrel::test {

std::string Shown(const std::string& text) { return console::DisplayText(text); }

void WindowSimTest::SetUp() {
  SimTest::SetUp();
  // Pauses cost no real time: each lasts until the handset has done what it
  // gives it time for (link/SimulatedLine.h). Idle budgets keep their
  // real length; the tests that wait for a silent handset shorten them.
  timing::SetPauseScale(0.0);
  timing::SetPollScale(1.0);
  traces_ = std::make_unique<TraceCapture>();
  stop::Clear();
}

void WindowSimTest::TearDown() {
  // Closing the window stops a job that still runs and joins its thread.
  win_.reset();
  Pump();
  settings_.reset();
  stop::Clear();
  traces_.reset();
  SimTest::TearDown();
}

sim::Simulator& WindowSimTest::StartHandset(bool usb, sim::Options options) {
  options.usb = usb;
  if (usb) options.autoPowerOn = false;
  sim::Simulator& s = StartSim(std::move(options));
  if (usb) SwitchHandsetOn();
  return s;
}

namespace {

bool StateBecomes(sim::Simulator& s, const std::string& state) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (s.StateName() != state) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace

void WindowSimTest::SwitchHandsetOff() {
  Sim().PowerOff();
  ASSERT_TRUE(StateBecomes(Sim(), "off")) << Sim().StateName();
}

void WindowSimTest::SwitchHandsetOn() {
  Sim().PowerOn();
  ASSERT_TRUE(StateBecomes(Sim(), "boot-rom")) << Sim().StateName();
}

CDownloaderDlg& WindowSimTest::Window() {
  if (!win_) {
    settings_ = std::make_unique<IniSettings>(IniSettings::DefaultPath());
    win_ = std::make_unique<CDownloaderDlg>(settings_.get(), &host_);
    QObject::connect(win_->ControlAs<QProgressBar>(ctl::kProgressBar), &QProgressBar::valueChanged, win_.get(),
                     [this](int v) { progressSeen_.push_back(v); });
    host_.SetHook([this](const ScriptedModalHost::Question& q) {
      if (q.type != ScriptedModalHost::Type::Message) return;
      if (std::find(snapshotTexts_.begin(), snapshotTexts_.end(), q.text) != snapshotTexts_.end())
        snapshots_.push_back(Snapshot());
    });
    win_->show();
    Pump();
  }
  return *win_;
}

// --- The operator's choices ---

void WindowSimTest::ChooseLink(bool usb) { ASSERT_TRUE(Window().Click(usb ? ctl::kRadioUsb : ctl::kRadioUart)); }

void WindowSimTest::ChoosePort(int comNumber) {
  auto* box = Window().ControlAs<QComboBox>(ctl::kComList);
  box->setCurrentIndex(comNumber - 1);
  emit box->activated(comNumber - 1);  // as the operator's pick does
}

void WindowSimTest::ChooseBaud(int index) {
  auto* box = Window().ControlAs<QComboBox>(ctl::kBaudList);
  box->setCurrentIndex(index);
  emit box->activated(index);
}

void WindowSimTest::ChooseItem(int radioId) { ASSERT_TRUE(Window().Click(radioId)); }

void WindowSimTest::SetCheck(int checkBoxId, bool on) {
  auto* box = Window().ControlAs<QCheckBox>(checkBoxId);
  ASSERT_NE(box, nullptr);
  if (box->isChecked() != on) {
    ASSERT_TRUE(Window().Click(checkBoxId));
  }
  ASSERT_EQ(box->isChecked(), on);
}

void WindowSimTest::TypeInto(int editId, const std::string& text) {
  Window().ControlAs<QLineEdit>(editId)->setText(QString::fromStdString(text));
}

void WindowSimTest::ChooseFile(int buttonId, const std::string& path) {
  host_.QueueOpenFile(path);
  ASSERT_TRUE(Window().Click(buttonId));
}

void WindowSimTest::Press(int controlId) {
  ASSERT_TRUE(Window().Click(controlId));
  WaitIdle();
}

void WindowSimTest::WaitIdle() {
  CDownloaderDlg& w = Window();
  EXPECT_TRUE(PumpUntil([&] { return !w.Operations().JobRunning(); })) << "the job did not end";
  Pump();
}

bool WindowSimTest::PumpUntil(const std::function<bool()>& done, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

void WindowSimTest::Pump() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

void WindowSimTest::Connect(bool usb, int baud) {
  ChooseLink(usb);
  ChoosePort(7);
  ChooseBaud(baud);
  const size_t mark = Log().size();
  Press(ctl::kStart);
  ASSERT_NE(LogSince(mark).find("Available\n\n"), std::string::npos) << LogSince(mark);
  ASSERT_EQ(Text(ctl::kStatusCaption), "Ready");
}

// --- What the window shows ---

std::string WindowSimTest::Log() const {
  return win_ ? win_->LogView()->toPlainText().toStdString() : std::string();
}

::testing::AssertionResult WindowSimTest::LogHasInOrder(const std::vector<std::string>& pieces, size_t mark) const {
  const std::string log = Log();
  size_t at = mark;
  for (const std::string& piece : pieces) {
    const std::string want = Shown(piece);
    const size_t found = log.find(want, at);
    if (found == std::string::npos) {
      return ::testing::AssertionFailure() << "the log lacks (in this order) \"" << want << "\"\nlog from there on:\n"
                                           << log.substr(std::min(at, log.size()));
    }
    at = found + want.size();
  }
  return ::testing::AssertionSuccess();
}

QColor WindowSimTest::ColourOf(const std::string& text) const {
  // The document finds text within one line: look for the longest line of it.
  std::string line;
  std::string shown = Shown(text);
  for (size_t at = 0; at <= shown.size();) {
    size_t end = shown.find('\n', at);
    if (end == std::string::npos) end = shown.size();
    if (end - at > line.size()) line = shown.substr(at, end - at);
    at = end + 1;
  }
  QTextDocument* doc = win_->LogView()->document();
  QTextCursor found = doc->find(QString::fromStdString(line), doc->characterCount(), QTextDocument::FindBackward);
  if (found.isNull()) return {};
  QTextCursor at(doc);
  at.setPosition(found.selectionStart() + 1);
  return at.charFormat().foreground().color();
}

int WindowSimTest::Count(const std::string& piece, size_t mark) const {
  const std::string log = Log();
  const std::string want = Shown(piece);
  int n = 0;
  for (size_t at = log.find(want, mark); at != std::string::npos; at = log.find(want, at + want.size())) ++n;
  return n;
}

std::vector<Box> WindowSimTest::Boxes() const { return BoxesSince(0); }

std::vector<Box> WindowSimTest::BoxesSince(size_t mark) const {
  std::vector<Box> out;
  const auto questions = host_.Questions();
  for (size_t i = mark; i < questions.size(); ++i)
    if (questions[i].type == ScriptedModalHost::Type::Message) out.emplace_back(questions[i].text, questions[i].caption);
  return out;
}

WindowSnapshot WindowSimTest::Snapshot() {
  CDownloaderDlg& w = Window();
  w.RefreshTitle();
  WindowSnapshot s;
  s.title = w.windowTitle().toStdString();
  s.progress = w.ControlAs<QProgressBar>(ctl::kProgressBar)->value();
  s.status = w.ControlText(ctl::kStatusCaption);
  s.ticks = w.ControlText(ctl::kTickCount);
  s.start = Enabled(ctl::kStart);
  s.download = Enabled(ctl::kDownload);
  s.cancel = Enabled(ctl::kCancel);
  s.disconnect = Enabled(ctl::kDisconnect);
  return s;
}

void WindowSimTest::SnapshotAtBox(const std::string& text) { snapshotTexts_.push_back(text); }

bool WindowSimTest::Enabled(int controlId) { return Window().Control(controlId)->isEnabled(); }

// --- Files and flash ---

std::string WindowSimTest::WriteRecordFile(const std::string& relative, const std::vector<ImageRecord>& records) {
  return WriteFile(relative, RecordFileBytes(records));
}

std::string WindowSimTest::WriteFile(const std::string& relative, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path p = std::filesystem::path(Root()) / relative;
  std::filesystem::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

::testing::AssertionResult WindowSimTest::NandHoldsExactly(const std::vector<ImageRecord>& records) {
  for (const ImageRecord& r : records) {
    auto held = FlashHolds(sim::FlashPart::Nand, r.address, r.data);
    if (!held) return held;
    auto behind = FlashErased(sim::FlashPart::Nand, r.address + static_cast<uint32_t>(r.data.size()), 64);
    if (!behind) return behind << " (behind a record)";
  }
  return ::testing::AssertionSuccess();
}

bool WindowSimTest::HandsetRateBecomes(uint32_t rate, int ms) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (Sim().HandsetRate() != rate) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace vantrel::test
