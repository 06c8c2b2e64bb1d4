#pragma once
// Ctrl-C and termination requests for vantrel-cli: they cancel the running
// job the way the window's Cancel does; a second one, or one while nothing
// runs, ends the program at once.
#include <atomic>

namespace vantrel::cli {

class Runner;

// Called before any thread starts, so that every thread inherits it: the
// requests are held for one watcher instead of landing in the middle of a
// transfer, and a reader that goes away (a closed pipe) does not end the
// program in the middle of a flash write.
void HoldInterrupts();

// Starts the watcher; it reads the runner from `runner` at each request and
// runs for the rest of the process.
void WatchInterrupts(std::atomic<Runner*>* runner);

}  // namespace vantrel::cli
