#pragma once
// The station's table on a terminal: whether standard output is one, its
// width, and the cursor sequences that redraw the table in place (which the
// Windows console obeys from Windows 10 on once asked).
// TableTerminalPosix.cpp, TableTerminalWin32.cpp.
#include <cstdio>

namespace vantrel::platform {

// Whether `stream` is a terminal that obeys the cursor sequences, asking the
// Windows console to where it must be asked.
bool TableTerminal(std::FILE* stream);

// The terminal's width in columns; 0 when it does not say.
int TableColumns(std::FILE* stream);

}  // namespace vantrel::platform
