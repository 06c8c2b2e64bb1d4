#pragma once
// A desktop notification for a long job that ends while the operator looks
// elsewhere: through the session bus's notification service, or on Windows a
// balloon from the notification area (one backend file each).
#include <QString>

namespace vantrel {

struct JobOutcome;

// Jobs shorter than this end while the operator is still watching.
inline constexpr double kLongJobSeconds = 10.0;

// "Download finished" / "Download failed: <reason>" / "Download stopped".
QString NoticeSummary(const JobOutcome& outcome);
QString NoticeBody(const JobOutcome& outcome);

// Sends the notice without waiting for an answer: with no session bus, no
// notification service or no notification area nothing is shown and nothing
// blocks.
void SendDesktopNotice(const QString& summary, const QString& body);

}  // namespace vantrel
