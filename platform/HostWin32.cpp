// Host.h on Windows. The C runtime has no strptime or timegm: the calendar
// text is read with the C++ library's time parser (the same fields), and
// UTC fields become an instant by the day count of the proleptic calendar.
#include <windows.h>

#include <chrono>
#include <iomanip>
#include <locale>
#include <sstream>

#include "platform/Host.h"
#include "platform/Win32.h"

namespace vantrel::platform {

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
  std::istringstream in(text);
  in.imbue(std::locale::classic());
  in >> std::get_time(tm, format);
  return !in.fail() && in.peek() == std::char_traits<char>::eof();
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
