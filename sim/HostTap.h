#pragma once
// In-process help for the host's link when it talks to a simulator in the
// same process (tests, benchmarks).
//
// A real line delivers the bytes the host has handed to its driver; the host's
// pauses before a purge (250 ms after an upload, 1000 ms after a rate command)
// are what lets them go out. With the pauses scaled down to nothing, a purge
// on a pseudo-terminal would discard bytes the handset has not read yet. While
// a simulator runs, the link's serial devices are therefore wrapped: a purge,
// a rate change or a close first waits (briefly) until the simulator has taken
// every byte written to its port.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace vantrel::sim {

// One simulator's port, as the wrapped devices see it.
struct HostTap {
  std::mutex mutex;
  std::string devicePath;          // the pseudo-terminal's slave
  std::atomic<uint64_t> taken{0};  // bytes read from the line by the simulator
};

// Registers a running simulator's tap (and installs the wrapping factory when
// the first one registers); Unregister removes it (and restores the previous
// factory after the last one).
void RegisterHostTap(const std::shared_ptr<HostTap>& tap);
void UnregisterHostTap(const std::shared_ptr<HostTap>& tap);

}  // namespace vantrel::sim
