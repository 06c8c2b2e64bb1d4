#pragma once
// Cooperative stop of a running job (Cancel).
//
// Request() takes effect before the next exchange with the handset: once it
// returns, no write to the device starts (the link checks the flag under the
// same gate), pauses end at once and polls fail, so the job unwinds quickly
// and releases what it owns on its own thread.
//
// Each job has a source of its own (its job state holds it) and binds it to
// its worker thread with a Scope, so that stopping one handset's job leaves
// another's running. Work outside any job (a read-back on the command line's
// main thread, a test) answers to the process's own source.
#include <atomic>
#include <condition_variable>
#include <mutex>

namespace vantrel::stop {

class Source {
 public:
  void Request();
  void Clear();
  bool Requested() const { return requested_.load(); }
  // Sleeps up to `us` microseconds, waking early on Request().
  void SleepFor(long long us);
  // Held by the link around every device write, and by Request(), so that a
  // write is either finished before Request() returns or never started.
  std::mutex& Gate() { return gate_; }

 private:
  std::atomic<bool> requested_{false};
  std::mutex gate_;
  std::mutex wakeMutex_;
  std::condition_variable wake_;
};

// The source the calling thread answers to: the one a Scope has bound on
// this thread, else the process's own.
Source& Current();

// Binds `source` to the calling thread for the scope's life.
class Scope {
 public:
  explicit Scope(Source& source);
  ~Scope();
  Scope(const Scope&) = delete;
  Scope& operator=(const Scope&) = delete;

 private:
  Source* previous_;
};

// The calling thread's source.
inline void Request() { Current().Request(); }
inline void Clear() { Current().Clear(); }
inline bool Requested() { return Current().Requested(); }
inline std::mutex& Gate() { return Current().Gate(); }
inline void SleepFor(long long us) { Current().SleepFor(us); }

}  // namespace vantrel::stop
