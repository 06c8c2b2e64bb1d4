// The desktop notice as a balloon from the notification area (Windows, where
// there is no session bus). The icon is shown only while a notice may be up.
#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include "console/DesktopNotice.h"
#include "jobs/Console.h"

namespace vantrel {

namespace {
constexpr int kShownMs = 15000;  // Windows shows a balloon for about ten seconds
}  // namespace

void SendDesktopNotice(const QString& summary, const QString& body) {
  QApplication* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (app == nullptr || !QSystemTrayIcon::isSystemTrayAvailable()) return;
  // One icon for the program's life, owned by the application, so a second
  // notice replaces the first instead of adding an icon.
  auto* icon = app->findChild<QSystemTrayIcon*>(QStringLiteral("desktop-notice"));
  if (icon == nullptr) {
    icon = new QSystemTrayIcon(QApplication::windowIcon(), app);
    icon->setObjectName(QStringLiteral("desktop-notice"));
    icon->setToolTip(QString::fromLatin1(kAppName));
    auto* hide = new QTimer(icon);
    hide->setObjectName(QStringLiteral("hide"));
    hide->setSingleShot(true);
    QObject::connect(hide, &QTimer::timeout, icon, &QSystemTrayIcon::hide);
    QObject::connect(icon, &QSystemTrayIcon::messageClicked, icon, &QSystemTrayIcon::hide);
  }
  icon->show();
  icon->showMessage(summary, body, QSystemTrayIcon::Information, kShownMs);
  icon->findChild<QTimer*>(QStringLiteral("hide"))->start(kShownMs);
}

}  // namespace vantrel
