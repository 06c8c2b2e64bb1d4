// Terminal.h on Windows: a stream is a terminal when its handle is a
// console; the console takes colour and cursor sequences once it is put in
// virtual-terminal mode (Windows 10 and later).
#include <windows.h>
#include <io.h>

#include "platform/Terminal.h"

namespace vantrel::platform {

namespace {

HANDLE ConsoleOf(std::FILE* stream) {
  if (stream == nullptr) return INVALID_HANDLE_VALUE;
  const auto h = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
  DWORD mode = 0;
  return h != INVALID_HANDLE_VALUE && ::GetConsoleMode(h, &mode) ? h : INVALID_HANDLE_VALUE;
}

}  // namespace

bool IsTerminal(std::FILE* stream) { return ConsoleOf(stream) != INVALID_HANDLE_VALUE; }

int TerminalColumns(std::FILE* stream) {
  const HANDLE h = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleScreenBufferInfo(h, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

bool UseTerminalSequences(std::FILE* stream) {
  const HANDLE h = ConsoleOf(stream);
  DWORD mode = 0;
  if (h == INVALID_HANDLE_VALUE || !::GetConsoleMode(h, &mode)) return false;
  if ((mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0) return true;
  return ::SetConsoleMode(h, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

}  // namespace vantrel::platform
