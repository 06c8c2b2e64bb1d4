// Interrupts.h on Linux: signals, taken by one thread with sigwait.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <thread>

#include "cli/ExitStatus.h"
#include "cli/Interrupts.h"
#include "cli/Runner.h"

namespace vantrel::cli {

namespace {

sigset_t Requests() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  return set;
}

void WatchSignals(sigset_t set, std::atomic<Runner*>* runners) {
  int signals = 0;
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    Runner* runner = runners->load();
    if (++signals > 1 || runner == nullptr || !runner->Interrupt()) _exit(kExitInterrupted);
  }
}

}  // namespace

void HoldInterrupts() {
  std::signal(SIGPIPE, SIG_IGN);
  const sigset_t set = Requests();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WatchInterrupts(std::atomic<Runner*>* runner) {
  // The watcher waits in sigwait for good; the process ends around it.
  std::thread(WatchSignals, Requests(), runner).detach();
}

}  // namespace vantrel::cli
