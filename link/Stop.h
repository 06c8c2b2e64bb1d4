#pragma once
// Cooperative stop of the running job (Cancel).
//
// Request() takes effect before the next exchange with the handset: once it
// returns, no write to the device starts (the link checks the flag under the
// same gate), pauses end at once and polls fail, so the job unwinds quickly
// and releases what it owns on its own thread.
#include <mutex>

namespace vantrel::stop {

void Request();
void Clear();
bool Requested();

// Held by the link around every device write, and by Request(), so that a
// write is either finished before Request() returns or never started.
std::mutex& Gate();

// Sleeps up to `us` microseconds, waking early on Request().
void SleepFor(long long us);

}  // namespace vantrel::stop
