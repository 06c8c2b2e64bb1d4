// The Windows backend of Interrupt.h: a console control handler. The system
// calls it on a new thread for each event; a lock keeps the calls apart.
// Every process in the console gets the console's Ctrl-C, so a child that
// shares the console cancels by itself (ChildProcess::PassInterrupt).
#include <windows.h>

#include <mutex>

#include "platform/Interrupt.h"

namespace vantrel::platform {

namespace {

// The handler is a plain function, so what it calls is the process's own.
struct Catcher {
  std::mutex lock;
  std::function<void()> onInterrupt;
};

Catcher& TheCatcher() {
  static Catcher catcher;
  return catcher;
}

BOOL WINAPI OnControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT: {
      // Closing the console ends the process when this returns; the cancel
      // has begun by then and the job objects end the children.
      Catcher& c = TheCatcher();
      std::lock_guard<std::mutex> hold(c.lock);
      if (c.onInterrupt) c.onInterrupt();
      return TRUE;
    }
    default:
      return FALSE;
  }
}

}  // namespace

void CatchInterrupts(std::function<void()> onInterrupt) {
  {
    Catcher& c = TheCatcher();
    std::lock_guard<std::mutex> hold(c.lock);
    c.onInterrupt = std::move(onInterrupt);
  }
  // A process started with Ctrl-C ignored (a new process group) takes it again.
  ::SetConsoleCtrlHandler(nullptr, FALSE);
  ::SetConsoleCtrlHandler(OnControl, TRUE);
}

void IgnoreClosedPipes() {}

}  // namespace vantrel::platform
