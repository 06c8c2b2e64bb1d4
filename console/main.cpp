// vantrel-downloader: the operator's window. Help() lists its options; the
// operator needs none of them, the developer options serve the README's
// pictures and the start-up benchmark.
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
#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "payloads/Payloads.h"
#include "platform/Folders.h"

namespace {

const char kOptions[] =
    "\n"
    "Options:\n"
    "  -h, --help             this text\n"
    "  -V, --version          the version\n"
    "\n"
    "Developer options:\n"
    "  --screenshot FILE      save a picture of the window as it starts, then exit\n"
    "  --open-com-list        with --screenshot: the COM list open, as when choosing\n"
    "                         a port\n"
    "  --measure-startup      print the milliseconds from start to the window shown,\n"
    "                         then exit\n"
    "\n"
    "The toolkit's own options (such as -platform offscreen) work as in every Qt\n"
    "program. The same operations without a window: vantrel-cli --help.\n";

std::string Help() {
  std::string where;
  for (const std::string& line : vantrel::platform::SettingsFolderWords("vantrel-downloader.INI")) {
    where += "  " + line + "\n";
  }
  return "Usage: vantrel-downloader [options]\n"
         "\n"
         "Opens the operator's window: choose the COM port, the line rate, UART or USB\n"
         "and the image files, press START and switch the handset on. The window\n"
         "remembers the choices in\n" +
         where + kOptions;
}

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
  // Answered before the toolkit starts, so that they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::fputs(Help().c_str(), stdout);
      return 0;
    }
    if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-V") == 0) {
      std::printf("vantrel-downloader %s%s\n", vantrel::kWindowTitleSuffix,
                  vantrel::BuiltInPayloadsAreStandIns() ? " (stand-in handset payloads)" : "");
      return 0;
    }
  }
  // Chosen before the window opens: its log names the set from the start.
  vantrel::UsePayloads(vantrel::FindPayloads(vantrel::PayloadSearch::FromEnvironment("")));
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
