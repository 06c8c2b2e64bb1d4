#pragma once
// The operator's view of the tool: the real main window (offscreen), driven
// only through its controls, talking to the handset simulator on COM7 over a
// pseudo-terminal, with the protocol's pauses scaled down. Message boxes,
// confirmations and file dialogs are answered by the window's scripted modal
// host, never by a modal loop. The settings live in a scratch folder.
//
// The GUI thread is the test's thread: waiting for a job means running the
// event loop until the job's thread has ended and its queued calls have
// reached the window. What the window showed at the moment a message box was
// asked is taken inside the box's question (the job waits for the answer),
// so such a snapshot does not depend on timing.
#include <gtest/gtest.h>

#include <QColor>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "console/CDownloaderDlg.h"
#include "console/IniSettings.h"
#include "console/ModalHost.h"
#include "jobs/ControlIds.h"
#include "link/SerialDevice.h"
#include "tests/support/SimFixture.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/WriteWatch.h"

namespace vantrel::test {

// Deterministic bytes, never 0xFF (the erased value), different per seed.
inline std::vector<uint8_t> Pattern(size_t count, uint32_t seed) { return PatternBytes(count, seed, 977u); }

// The operator's baud list entries.
inline constexpr int kBaud115K = 0;
inline constexpr int kBaud460K = 1;
inline constexpr int kBaud921K = 2;

inline const std::string kTitleSuffix = "VANTREL Downloader v0.68(D)";
inline const std::string kUartTitle = " COM7 (UART)   " + kTitleSuffix;
inline const std::string kUsbTitle = " COM7 (USB)   " + kTitleSuffix;
inline const std::string kOffTitle = " Disconnected             " + kTitleSuffix;
inline const std::string kSeparator = std::string(95, '-') + "\n";

// What the window showed at one moment.
struct WindowSnapshot {
  std::string title;   // after a title refresh
  int progress = -1;   // progress bar position
  std::string status;  // hidden status caption
  std::string ticks;   // hidden tick-count box
  bool start = false, download = false, cancel = false, disconnect = false;
};

// A message box as the operator saw it: text and caption.
using Box = std::pair<std::string, std::string>;

class WindowSimTest : public sim::SimTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The handset on COM7. On USB it is switched on before the tool opens the
  // port (a USB port is there only while the handset is on).
  sim::Simulator& StartHandset(bool usb = false, sim::Options options = Options());
  static sim::Options Options() { return sim::TestOptions(7); }
  // The operator switches the handset off (the simulator takes a moment to
  // follow; a port opened before that would still find it on).
  void SwitchHandsetOff();
  // ... and on, before the tool opens the port.
  void SwitchHandsetOn();

  CDownloaderDlg& Window();

  // --- The operator's choices ---
  void ChooseLink(bool usb);
  void ChoosePort(int comNumber);
  void ChooseBaud(int index);
  void ChooseItem(int radioId);
  void SetCheck(int checkBoxId, bool on);
  void TypeInto(int editId, const std::string& text);
  // A file button with the file dialog answered by `path`.
  void ChooseFile(int buttonId, const std::string& path);

  // Presses a button; when it started a job, waits until the job has ended
  // and everything it said has reached the window.
  void Press(int controlId);
  void WaitIdle();
  // Runs the event loop until `done` or `ms` of real time passed.
  static bool PumpUntil(const std::function<bool()>& done, int ms = 60000);
  static void Pump();

  // UART or USB, COM7, the given rate, START; asserts "Available".
  void Connect(bool usb = false, int baud = kBaud921K);

  // --- What the window shows ---
  std::string Log() const;
  std::string LogSince(size_t mark) const { return Log().substr(mark); }
  // The pieces appear in this order in the log from `mark` on (texts as the
  // jobs write them; line ends are compared as the log shows them).
  ::testing::AssertionResult LogHasInOrder(const std::vector<std::string>& pieces, size_t mark = 0) const;
  // Colour of the last occurrence of `text` in the log (invalid if absent).
  QColor ColourOf(const std::string& text) const;
  int Count(const std::string& piece, size_t mark = 0) const;
  std::vector<Box> Boxes() const;
  std::vector<Box> BoxesSince(size_t mark) const;
  size_t BoxMark() const { return host_.Questions().size(); }
  WindowSnapshot Snapshot();
  // Takes a snapshot each time a message box with this text is asked.
  void SnapshotAtBox(const std::string& text);
  const std::vector<WindowSnapshot>& Snapshots() const { return snapshots_; }
  // Every position the progress bar took, in order.
  const std::vector<int>& ProgressSeen() const { return progressSeen_; }
  bool Enabled(int controlId);
  std::string Text(int controlId) { return Window().ControlText(controlId); }

  // --- Files and flash ---
  std::string WriteRecordFile(const std::string& relative, const std::vector<ImageRecord>& records);
  std::string WriteFile(const std::string& relative, const std::vector<uint8_t>& bytes);
  // The records are in flash at their addresses, and the flash right behind
  // each one is still erased.
  ::testing::AssertionResult NandHoldsExactly(const std::vector<ImageRecord>& records);
  // Waits (real time) until the handset runs at `rate` again.
  bool HandsetRateBecomes(uint32_t rate, int ms = 5000);

  std::string Root() const { return Config().Root(); }

  ScriptedModalHost host_;
  std::unique_ptr<IniSettings> settings_;
  std::unique_ptr<CDownloaderDlg> win_;

 private:
  std::unique_ptr<TraceCapture> traces_;
  std::vector<WindowSnapshot> snapshots_;
  std::vector<std::string> snapshotTexts_;
  std::vector<int> progressSeen_;
};

// The texts as the log shows them ("\r\n" and "\r" start a new line).
std::string Shown(const std::string& text);

}  // namespace vantrel::test
