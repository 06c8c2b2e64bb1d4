// Terminal.h on Linux: every terminal there obeys the sequences.
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/Terminal.h"

namespace vantrel::platform {

bool IsTerminal(std::FILE* stream) { return stream != nullptr && ::isatty(::fileno(stream)) != 0; }

int TerminalColumns(std::FILE* stream) {
  struct winsize ws {};
  if (stream == nullptr || ::ioctl(::fileno(stream), TIOCGWINSZ, &ws) != 0) return 0;
  return ws.ws_col;
}

bool UseTerminalSequences(std::FILE* stream) { return IsTerminal(stream); }

}  // namespace vantrel::platform
