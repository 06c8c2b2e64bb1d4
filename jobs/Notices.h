#pragma once
// What a message box a job shows means for the job. The jobs tell the
// operator of success with a fixed completion notice and of a failure with a
// box carrying the failure's text; the front ends judge a job by these
// texts, so they are a stable contract.
#include <string>

namespace vantrel {

enum class NoticeClass { Success, Neutral, Failure };

// Any box that is neither a completion notice nor one of the notices shown
// on the way (whatever the outcome) reports a failure.
NoticeClass ClassifyNotice(const std::string& text);

// `s` without leading and trailing blanks and line breaks.
std::string TrimBlanks(const std::string& s);

}  // namespace vantrel
