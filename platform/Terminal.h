#pragma once
// The terminal the programs print to: whether a stream is one, how wide it
// is, and whether it obeys the control sequences of colours and of a
// progress line drawn over itself.
#include <cstdio>

namespace vantrel::platform {

bool IsTerminal(std::FILE* stream);

// The terminal's width in columns; 0 when the stream is no terminal or
// does not say.
int TerminalColumns(std::FILE* stream);

// Makes the terminal behind `stream` obey colour and cursor sequences where
// it must be asked to (the Windows console, from Windows 10 on). False when
// the stream is no terminal or the terminal cannot.
bool UseTerminalSequences(std::FILE* stream);

}  // namespace vantrel::platform
