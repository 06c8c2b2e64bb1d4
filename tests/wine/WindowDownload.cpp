// The window on Windows, driven through its controls as the operator does:
// UART, COM7, 921K, START, then the image set and DOWNLOAD. Message boxes and
// the file dialog are answered by the window's scripted modal host. Prints
// what the window asked and its log, and exits 0 only when both operations
// ended as successes by their typed outcomes.
//   window-download.exe INI_FILE IMAGE_SET
// window.sh runs it under Wine and Xvfb against the simulator on COM7, and
// checks the simulator's NAND afterwards.
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QThread>

#include <cstdio>
#include <string>

#include "console/CDownloaderDlg.h"
#include "console/IniSettings.h"
#include "console/ModalHost.h"
#include "jobs/ControlIds.h"
#include "maintenance/OperationControl.h"

namespace {

using vantrel::CDownloaderDlg;

constexpr int kCom7 = 6;      // the COM list's index of COM7
constexpr int kBaud921K = 2;  // the rate list's index of 921K
constexpr qint64 kJobLimitMs = 60000;

void Choose(CDownloaderDlg& w, int listId, int index) {
  auto* box = w.ControlAs<QComboBox>(listId);
  box->setCurrentIndex(index);
  emit box->activated(index);  // as the operator's pick does
}

// Presses a button and runs the event loop until the job it started ended.
bool Press(CDownloaderDlg& w, int id, const char* what) {
  std::fprintf(stderr, "window-download: pressing %s\n", what);
  if (!w.Click(id)) {
    std::fprintf(stderr, "window-download: %s could not be pressed\n", what);
    return false;
  }
  QElapsedTimer clock;
  clock.start();
  while (w.Operations().JobRunning()) {
    if (clock.elapsed() > kJobLimitMs) {
      std::fprintf(stderr, "window-download: %s did not end within %lld s; the log so far:\n%s\n", what,
                   kJobLimitMs / 1000, w.LogView()->toPlainText().toStdString().c_str());
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(1);
  }
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
  const vantrel::OperationOutcome o = w.Operations().LastOutcome();
  std::printf("%s: %s (result %d)\n", what, o.Succeeded() ? "succeeded" : "failed", static_cast<int>(o.result));
  return o.Succeeded();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: window-download INI_FILE IMAGE_SET\n");
    return 2;
  }
  // Unbuffered: what a run that hangs said so far reaches the log.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  std::setvbuf(stderr, nullptr, _IONBF, 0);
  QApplication app(argc, argv);
  vantrel::IniSettings settings(argv[1]);
  vantrel::ScriptedModalHost host;
  CDownloaderDlg w(&settings, &host);
  w.show();
  QCoreApplication::processEvents();

  namespace ctl = vantrel::ctl;
  bool ok = w.Click(ctl::kRadioUart);
  Choose(w, ctl::kComList, kCom7);
  Choose(w, ctl::kBaudList, kBaud921K);
  ok = ok && Press(w, ctl::kStart, "START");
  host.QueueOpenFile(std::string(argv[2]));
  ok = ok && w.Click(ctl::kImgsetButton) && w.Click(ctl::kRadioItem5);  // the image set
  ok = ok && Press(w, ctl::kDownload, "DOWNLOAD");

  for (const std::string& text : host.MessageTexts()) std::printf("message box: %s\n", text.c_str());
  std::printf("--- the window's log\n%s\n", w.LogView()->toPlainText().toStdString().c_str());
  return ok ? 0 : 1;
}
