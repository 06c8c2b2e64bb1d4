// The desktop notice through the freedesktop notification service on the
// session bus (Linux and other desktops with D-Bus).
#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "console/DesktopNotice.h"
#include "jobs/Console.h"

namespace vantrel {

namespace {
constexpr int kNoticeTimeoutMs = -1;  // the notification server's default
}  // namespace

void SendDesktopNotice(const QString& summary, const QString& body) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  QDBusMessage call = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  call << QString::fromLatin1(kAppName) << 0u << QStringLiteral("vantrel-downloader") << summary << body
       << QStringList() << QVariantMap() << kNoticeTimeoutMs;
  // No reply is awaited: a missing service answers with an error nobody reads.
  call.setAutoStartService(false);
  bus.send(call);
}

}  // namespace vantrel
