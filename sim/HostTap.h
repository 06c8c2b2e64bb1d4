#pragma once
// How much of what the host wrote the handset has taken off the line.
//
// A real line delivers the bytes the host has handed to its driver; the host's
// pauses before a purge (250 ms after an upload, 1000 ms after a rate command)
// are what lets them go out. With those pauses scaled down to nothing, a purge
// on a pseudo-terminal would discard bytes the handset has not read yet. A
// host in the same process (tests) can therefore wait on this count before it
// purges; the simulator only keeps it up to date and knows nothing of the
// host's link.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

namespace vantrel::sim {

// One simulator's port, as an in-process host sees it.
struct HostTap {
  std::mutex mutex;
  std::string devicePath;          // the pseudo-terminal's slave (changes after a hang-up)
  std::atomic<uint64_t> taken{0};  // bytes read from the line by the simulator
};

}  // namespace vantrel::sim
