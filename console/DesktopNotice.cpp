#include "console/DesktopNotice.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

#include "jobs/Console.h"
#include "maintenance/OperationControl.h"

namespace vantrel {

namespace {

constexpr int kNoticeTimeoutMs = -1;  // the notification server's default

QString Capitalised(const std::string& op) {
  QString text = QString::fromStdString(op);
  if (!text.isEmpty()) text[0] = text[0].toUpper();
  return text;
}

}  // namespace

QString NoticeSummary(const JobOutcome& o) {
  const QString op = Capitalised(o.op);
  if (o.outcome.Succeeded()) return op + QStringLiteral(" finished");
  if (o.outcome.failure == FailureKind::Interrupted) return op + QStringLiteral(" stopped");
  return op + QStringLiteral(" failed");
}

QString NoticeBody(const JobOutcome& o) {
  QString body = QStringLiteral("after %1 s").arg(o.seconds, 0, 'f', 0);
  const std::string reason = o.outcome.failure == FailureKind::Interrupted ? "" : FailureReason(o.outcome);
  if (!reason.empty()) body = QString::fromStdString(ShownLineBreaks(reason)) + QLatin1Char('\n') + body;
  return body;
}

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
