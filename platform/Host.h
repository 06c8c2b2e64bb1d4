#pragma once
// The clock's calendar, this machine's name and the job thread's priority:
// the calls behind them differ by platform, what they answer does not.
#include <ctime>
#include <string>
#include <vector>

namespace vantrel::platform {

// The calendar time of `t` in the machine's time zone, and in UTC.
std::tm LocalTime(std::time_t t);
std::tm UtcTime(std::time_t t);

// The instant of a calendar time given in UTC (fields as UtcTime gives
// them); -1 when there is none.
std::time_t FromUtc(std::tm tm);

// Reads `text` by `format` into `tm`; the format uses %Y, %m, %d, %H, %M
// and %S with literal separators, and the text must match to its end.
[[nodiscard]] bool ParseCalendar(const std::string& text, const char* format, std::tm* tm);

// The program's arguments after its name, as UTF-8, which is what every
// other call here takes. On Windows the C runtime hands `main` its arguments
// in the ANSI code page, which loses every character outside it (a file name
// in Cyrillic on a Western machine, say), so they come from the wide command
// line there instead.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// What the program writes to the console is UTF-8: on Windows the console is
// told so until the program ends (then it gets its code page back).
void WriteUtf8ToTheConsole();

// This machine's network name; empty when it has none.
std::string HostName();

// Raises the calling thread above the others of the machine. Without the
// privilege to do so the thread keeps its priority; nothing else changes.
enum class ThreadPriority { Highest, TimeCritical };
void RaiseThisThread(ThreadPriority priority);

}  // namespace vantrel::platform
