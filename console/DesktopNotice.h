#pragma once
// A desktop notification through the freedesktop notification service on the
// session bus, for a long job that ends while the operator looks elsewhere.
#include <QString>

namespace vantrel {

struct JobOutcome;

// Jobs shorter than this end while the operator is still watching.
inline constexpr double kLongJobSeconds = 10.0;

// "Download finished" / "Download failed: <reason>" / "Download stopped".
QString NoticeSummary(const JobOutcome& outcome);
QString NoticeBody(const JobOutcome& outcome);

// Sends the notice without waiting for an answer: with no session bus or no
// notification service nothing is shown and nothing blocks.
void SendDesktopNotice(const QString& summary, const QString& body);

}  // namespace vantrel
