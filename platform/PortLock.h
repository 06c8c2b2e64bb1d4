#pragma once
// One front-end process per serial port. On Linux the lock lives in a small
// file named after the resolved device, held with flock() for the life of
// the process, so it also covers the gaps between operations when the link
// has closed the port. On Windows the port's own exclusive open is the
// lock: no file is used, and acquiring always succeeds.
#include <cstdint>
#include <memory>
#include <string>

namespace vantrel::platform {

class PortLock {
 public:
  // Null when another process holds the port; `why` then names it. A lock
  // without a file (the lock file cannot be used) says why in `why`. The
  // file is removed again when the lock ends. `lockDir` empty: the
  // machine's shared lock folder.
  static std::unique_ptr<PortLock> Acquire(const std::string& devicePath, std::string* why,
                                           const std::string& lockDir = "");
  ~PortLock();
  PortLock(const PortLock&) = delete;
  PortLock& operator=(const PortLock&) = delete;
  // The lock file; empty where there is none.
  const std::string& Path() const { return path_; }

 private:
  PortLock(intptr_t handle, std::string path) : handle_(handle), path_(std::move(path)) {}
  intptr_t handle_;
  std::string path_;
};

}  // namespace vantrel::platform
