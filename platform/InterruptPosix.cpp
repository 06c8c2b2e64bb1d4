// The Linux backend of Interrupt.h: SIGINT and SIGTERM are blocked and taken
// by one thread in sigwait.
#include <pthread.h>
#include <signal.h>

#include <csignal>
#include <thread>

#include "platform/Interrupt.h"

namespace vantrel::platform {

void CatchInterrupts(std::function<void()> onInterrupt) {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
  // The watcher waits in sigwait for good; the process ends around it.
  std::thread([set, onInterrupt = std::move(onInterrupt)] {
    for (;;) {
      int sig = 0;
      if (::sigwait(&set, &sig) == 0) onInterrupt();
    }
  }).detach();
}

void IgnoreClosedPipes() { std::signal(SIGPIPE, SIG_IGN); }

}  // namespace vantrel::platform
