// vantrel-downloader: the operator's window.
//
// Developer options (the operator needs none):
//   --screenshot FILE   save a picture of the window as it starts, then exit
//   --measure-startup   print the milliseconds from start to the window shown
#include <QApplication>
#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "console/CDownloaderDlg.h"
#include "console/DownloaderApp.h"
#include "console/IniSettings.h"
#include "payloads/Payloads.h"

namespace {

int Screenshot(const char* path) {
  vantrel::IniSettings settings(vantrel::IniSettings::DefaultPath());
  vantrel::CDownloaderDlg window(&settings);
  window.show();
  window.RefreshTitle();
  int rc = 1;
  QTimer::singleShot(500, &window, [&] {
    rc = window.grab().save(QString::fromLocal8Bit(path)) ? 0 : 1;
    if (rc != 0) std::fprintf(stderr, "could not write %s\n", path);
    QApplication::quit();
  });
  QApplication::exec();
  return rc;
}

int MeasureStartup(const QElapsedTimer& clock) {
  vantrel::IniSettings settings(vantrel::IniSettings::DefaultPath());
  vantrel::CDownloaderDlg window(&settings);
  window.show();
  QTimer::singleShot(0, &window, [&] {
    std::printf("startup_ms=%.1f\n", clock.nsecsElapsed() / 1e6);
    std::fflush(stdout);
    QApplication::quit();
  });
  QApplication::exec();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  QElapsedTimer clock;
  clock.start();
  // Chosen before the window opens: its log names the set from the start.
  vantrel::UsePayloads(vantrel::FindPayloads(vantrel::PayloadSearch::FromEnvironment("")));
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vantrel-downloader"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantrel/vantrel.png")));
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) return Screenshot(argv[i + 1]);
    if (std::strcmp(argv[i], "--measure-startup") == 0) return MeasureStartup(clock);
  }
  vantrel::CDownloaderApp theApp;
  return theApp.Run();
}
