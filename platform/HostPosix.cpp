// Host.h on Linux.
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/Host.h"

namespace vantrel::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return argc > 1 ? std::vector<std::string>(argv + 1, argv + argc) : std::vector<std::string>();
}

void WriteUtf8ToTheConsole() {}

std::tm LocalTime(std::time_t t) {
  std::tm tm{};
  localtime_r(&t, &tm);
  return tm;
}

std::tm UtcTime(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  return tm;
}

std::time_t FromUtc(std::tm tm) { return ::timegm(&tm); }

bool ParseCalendar(const std::string& text, const char* format, std::tm* tm) {
  const char* end = ::strptime(text.c_str(), format, tm);
  return end != nullptr && *end == '\0';
}

std::string HostName() {
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) return "";
  return host;
}

void RaiseThisThread(ThreadPriority priority) {
  // Linux keeps a nice value per thread. A real-time class would be the
  // literal counterpart of "time critical", but a spinning real-time thread
  // can lock up a desktop; a strong nice value is the safer raise. Without
  // the privilege to lower the nice value the call fails and the thread
  // simply runs at normal priority.
  const int nice = priority == ThreadPriority::TimeCritical ? -15 : -5;
  const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
  (void)::setpriority(PRIO_PROCESS, tid, nice);
}

}  // namespace vantrel::platform
