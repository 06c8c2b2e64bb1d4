#include "console/DesktopNotice.h"

#include "jobs/Console.h"
#include "maintenance/OperationControl.h"

namespace vantrel {

namespace {

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

}  // namespace vantrel
