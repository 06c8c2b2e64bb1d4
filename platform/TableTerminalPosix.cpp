#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/TableTerminal.h"

namespace vantrel::platform {

bool TableTerminal(std::FILE* stream) { return ::isatty(::fileno(stream)) != 0; }

int TableColumns(std::FILE* stream) {
  winsize ws{};
  return ::ioctl(::fileno(stream), TIOCGWINSZ, &ws) == 0 ? ws.ws_col : 0;
}

}  // namespace vantrel::platform
