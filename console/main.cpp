// vantrel-downloader: the operator's window.
//
// Developer options (the operator needs none):
//   --screenshot FILE   save a picture of the window as it starts, then exit
//   --open-com-list     with --screenshot: the COM list open, as when choosing a port
//   --measure-startup   print the milliseconds from start to the window shown
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QPainter>
#include <QElapsedTimer>
#include <QIcon>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <string>

#include "console/CDownloaderDlg.h"
#include "console/DownloaderApp.h"
#include "console/IniSettings.h"
#include "jobs/ControlIds.h"

namespace {

// The window, and the open COM list drawn over it where it pops up (a popup
// is a window of its own, so grabbing the main window alone misses it).
QImage WindowPicture(vantrel::CDownloaderDlg& window, bool openComList) {
  QImage picture = window.grab().toImage();
  if (!openComList) return picture;
  QWidget* popup = window.ControlAs<QComboBox>(vantrel::ctl::kComList)->view()->window();
  const QRect shot(QPoint(0, 0), picture.size());
  const QRect list(popup->mapToGlobal(QPoint(0, 0)) - window.mapToGlobal(QPoint(0, 0)), popup->size());
  const QRect all = shot.united(list);
  QImage canvas(all.size(), picture.format());
  canvas.fill(window.palette().window().color());
  QPainter painter(&canvas);
  painter.drawImage(shot.topLeft() - all.topLeft(), picture);
  painter.drawImage(list.topLeft() - all.topLeft(), popup->grab().toImage());
  return canvas;
}

int Screenshot(const char* path, bool openComList) {
  vantrel::IniSettings settings(vantrel::IniSettings::DefaultPath());
  vantrel::CDownloaderDlg window(&settings);
  window.show();
  window.RefreshTitle();
  if (openComList) QTimer::singleShot(200, &window, [&] { window.ControlAs<QComboBox>(vantrel::ctl::kComList)->showPopup(); });
  int rc = 1;
  QTimer::singleShot(500, &window, [&] {
    rc = WindowPicture(window, openComList).save(QString::fromLocal8Bit(path)) ? 0 : 1;
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
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("vantrel-downloader"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/vantrel/vantrel.png")));
  bool openComList = false;
  for (int i = 1; i < argc; ++i) openComList = openComList || std::strcmp(argv[i], "--open-com-list") == 0;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--screenshot") == 0 && i + 1 < argc) return Screenshot(argv[i + 1], openComList);
    if (std::strcmp(argv[i], "--measure-startup") == 0) return MeasureStartup(clock);
  }
  vantrel::CDownloaderApp theApp;
  return theApp.Run();
}
