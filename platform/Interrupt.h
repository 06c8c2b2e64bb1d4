#pragma once
// Ctrl-C and the system's requests to stop (SIGINT and SIGTERM on Linux;
// Ctrl-C, Ctrl-Break and the closing of the console on Windows), taken by the
// program instead of ending it, and handed to one function on a thread of its
// own: never into the middle of another thread's transfer. One
// implementation per platform (InterruptPosix.cpp, InterruptWin32.cpp).
#include <functional>

namespace vantrel::platform {

// From now on every interrupt calls `onInterrupt`, on a thread of its own;
// the calls never overlap. Once per program, before it starts any other
// thread (on Linux the signals are held back in the threads started after
// this, and a thread started before would take them). The watcher lives as
// long as the program.
void CatchInterrupts(std::function<void()> onInterrupt);

// A reader that goes away (a closed pipe) must not end the program in the
// middle of a flash write: the writes fail instead, as they do on Windows.
void IgnoreClosedPipes();

}  // namespace vantrel::platform
