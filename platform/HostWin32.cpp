// Host.h on Windows. The C runtime has no strptime or timegm: the calendar
// text is read field by field, and UTC fields become an instant by the day
// count of the calendar.
#include <windows.h>
#include <shellapi.h>

#include <cctype>
#include <chrono>
#include <cstdlib>

#include "platform/Host.h"
#include "platform/Win32.h"

namespace vantrel::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
  std::vector<std::string> args;
  for (int i = 1; i < count; ++i) args.push_back(Narrow(wide[i]));
  ::LocalFree(wide);
  return args;
}

namespace {
UINT g_consoleCodePage = 0;
void GiveTheConsoleItsCodePage() { ::SetConsoleOutputCP(g_consoleCodePage); }
}  // namespace

void WriteUtf8ToTheConsole() {
  const UINT was = ::GetConsoleOutputCP();
  if (was == 0 || was == CP_UTF8 || g_consoleCodePage != 0) return;  // no console, or already so
  if (!::SetConsoleOutputCP(CP_UTF8)) return;
  g_consoleCodePage = was;
  std::atexit(GiveTheConsoleItsCodePage);
}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_s(&tm, &t);
  return tm;
}

std::tm UtcTime(std::time_t t) {
  std::tm tm{};
  gmtime_s(&tm, &t);
  return tm;
}

std::time_t FromUtc(std::tm tm) {
  // The day count of the calendar, as timegm works it out.
  using namespace std::chrono;
  const year_month_day date{year{tm.tm_year + 1900}, month{static_cast<unsigned>(tm.tm_mon + 1)},
                            day{static_cast<unsigned>(tm.tm_mday)}};
  if (!date.ok()) return -1;
  const auto days = sys_days(date).time_since_epoch().count();
  return static_cast<std::time_t>(days) * 86400 + tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

bool ParseCalendar(const std::string& text, const char* format, std::tm* tm) {
  // The C++ library's time parser takes "2024-03" for "%Y-%m-%d" (it stops
  // at the end of the text without failing), so the fields are read here,
  // as strptime reads them: numbers of up to 4 (year) or 2 digits in their
  // range, a space matching any run of white space, anything else itself.
  struct Field {
    char letter;
    int digits, low, high, offset;
    int std::tm::*member;
  };
  static constexpr Field kFields[] = {
      {'Y', 4, 0, 9999, -1900, &std::tm::tm_year}, {'m', 2, 1, 12, -1, &std::tm::tm_mon},
      {'d', 2, 1, 31, 0, &std::tm::tm_mday},       {'H', 2, 0, 23, 0, &std::tm::tm_hour},
      {'M', 2, 0, 59, 0, &std::tm::tm_min},        {'S', 2, 0, 60, 0, &std::tm::tm_sec},
  };
  size_t at = 0;
  for (const char* f = format; *f != '\0'; ++f) {
    if (*f == ' ') {
      while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
      continue;
    }
    if (*f != '%') {
      if (at >= text.size() || text[at] != *f) return false;
      ++at;
      continue;
    }
    ++f;
    const Field* field = nullptr;
    for (const Field& candidate : kFields) {
      if (candidate.letter == *f) field = &candidate;
    }
    if (field == nullptr) return false;
    int value = 0, digits = 0;
    while (digits < field->digits && at < text.size() && std::isdigit(static_cast<unsigned char>(text[at]))) {
      value = value * 10 + (text[at++] - '0');
      ++digits;
    }
    if (digits == 0 || value < field->low || value > field->high) return false;
    tm->*(field->member) = value + field->offset;
  }
  return at == text.size();
}

std::string HostName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!::GetComputerNameW(name, &size)) return "";
  return Narrow(name);
}

void RaiseThisThread(ThreadPriority priority) {
  // Within the normal priority class even "time critical" leaves the
  // machine's real-time work alone; the job thread mostly waits on the port.
  (void)::SetThreadPriority(::GetCurrentThread(), priority == ThreadPriority::TimeCritical
                                                     ? THREAD_PRIORITY_TIME_CRITICAL
                                                     : THREAD_PRIORITY_HIGHEST);
}

}  // namespace vantrel::platform
