#include <windows.h>

#include <io.h>

#include "platform/TableTerminal.h"

namespace vantrel::platform {

namespace {

HANDLE ConsoleOf(std::FILE* stream) {
  const intptr_t h = ::_get_osfhandle(::_fileno(stream));
  DWORD mode = 0;
  return h != -1 && ::GetConsoleMode(reinterpret_cast<HANDLE>(h), &mode) ? reinterpret_cast<HANDLE>(h) : nullptr;
}

}  // namespace

bool TableTerminal(std::FILE* stream) {
  HANDLE console = ConsoleOf(stream);
  DWORD mode = 0;
  if (console == nullptr || !::GetConsoleMode(console, &mode)) return false;
  return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
         ::SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

int TableColumns(std::FILE* stream) {
  HANDLE console = ConsoleOf(stream);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (console == nullptr || !::GetConsoleScreenBufferInfo(console, &info)) return 0;
  return info.srWindow.Right - info.srWindow.Left + 1;
}

}  // namespace vantrel::platform
