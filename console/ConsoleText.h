#pragma once
// Texts the window builds: the title line and the file-dialog filters.
#include <optional>
#include <string>

#include "link/ComLink.h"

namespace vantrel::console {

// Title for the given progress and link; nothing when no rule fits (the
// title then stays as it is). A progress above 100 is shown as 100.
std::optional<std::string> TitleText(int progress, int connected, LinkMode linkMode, int comPort);

// "YYYYMMDD" of the local date.
std::string TodayText();

// A filter written as "desc|pattern|desc|pattern||" turned into the
// toolkit's "desc (patterns);;desc (patterns)" form. "*.*" means every file
// and becomes "*"; each pattern also matches its upper-case spelling, since
// names on this platform are case-sensitive.
std::string QtFilterText(const std::string& pairs);

// Line ends of message texts for display: "\r\n" and a lone "\r" become "\n".
std::string DisplayText(const std::string& text);

}  // namespace vantrel::console
