#pragma once
// What an in-process host can know of the handset on the far end of its line.
//
// A real line delivers the bytes the host has handed to its driver, and the
// host's pauses and idle budgets are long enough for a real handset. Tests
// scale those down; on a busy machine the handset's thread may then not get
// a core before a budget runs out or a purge discards what it had not read.
// A host in the same process (tests/support/HostLinkTap.h) therefore lets its
// waits depend on events instead: it counts an idle poll only while the
// handset waits for it with nothing on its way, ends a pause only once the
// handset has taken in what it was sent, and purges only what has arrived.
// The simulator keeps this record up to date and knows nothing of the host's
// link; the host tells it what it sent and when it opened, closed or purged.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vantrel::sim {

// What the handset's thread does now.
enum class Activity : int {
  Busy,          // it works on something, or is about to
  AwaitsTimer,   // it waits for the host, but acts of its own accord when a timer of its runs out
  AwaitsHost,    // it waits for the host and does nothing until the host does something
  Gone,          // the simulator has stopped
};

// One simulator's port, as an in-process host sees it.
struct HostTap {
  // Guards devicePath and wakeFd, and is held around each write of the
  // handset to the line, so that a purge by the host falls wholly before or
  // after it.
  std::mutex mutex;
  std::string devicePath;          // the pseudo-terminal's slave (changes after a hang-up)
  int wakeFd = -1;                 // written to wake the handset's thread; -1 once it has stopped
  std::atomic<uint64_t> line{0};   // counts the pseudo-terminals made: a hang-up makes a new line

  // Written by the handset. One that does not tell what it does (a test's
  // scripted handset counts only what it took) is taken to be waiting.
  std::atomic<bool> tellsWhatItDoes{false};
  std::atomic<uint64_t> taken{0};  // bytes read from the line
  std::atomic<uint64_t> sent{0};   // bytes written to the line
  // What it does, and the host events it had taken in when it said so: one
  // word, so that the two are always read together.
  std::atomic<uint64_t> doing{static_cast<uint64_t>(Activity::Busy)};
  void Publish(Activity activity, uint64_t eventsSeen) {
    doing = eventsSeen << 2 | static_cast<uint64_t>(activity);
  }

  // Written by the host.
  std::atomic<uint64_t> hostEvents{0};  // opens, closes and purges of the port
  std::atomic<uint64_t> owed{0};        // `taken` once every byte the host wrote (and did not purge) has arrived

  // The host's bytes have not all arrived yet.
  bool HostBytesOnTheirWay() const { return taken.load() < owed.load(); }
  // The handset has taken in everything the host did, and waits for it
  // (with a timer of its own when `timerToo`).
  bool Waits(bool timerToo) const {
    if (!tellsWhatItDoes.load()) return true;
    const uint64_t d = doing.load();
    const auto activity = static_cast<Activity>(d & 3);
    return (activity == Activity::AwaitsHost || (timerToo && activity == Activity::AwaitsTimer)) &&
           d >> 2 == hostEvents.load();
  }
  bool Stopped() const { return static_cast<Activity>(doing.load() & 3) == Activity::Gone; }
};

}  // namespace vantrel::sim
