#pragma once
// Sparse flash of the simulated handset. Erased bytes read 0xFF. Kept in
// memory, or in a file of the state folder that holds every byte inverted, so
// that the file's holes are erased flash and a 128 MiB part costs only what
// was written.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel::sim {

class Flash {
 public:
  static constexpr uint32_t kPageBytes = 4096;

  Flash(std::string name, uint32_t size);
  ~Flash();
  Flash(const Flash&) = delete;
  Flash& operator=(const Flash&) = delete;

  // Keeps the contents in `path` (created when missing). 0 or errno.
  int Attach(const std::string& path, std::string* error);

  const std::string& Name() const { return name_; }
  uint32_t Size() const { return size_; }

  // Bytes outside the part read as 0xFF and are not written.
  std::vector<uint8_t> Read(uint32_t address, uint32_t length) const;
  void Write(uint32_t address, const uint8_t* data, size_t length);
  void Erase(uint32_t address, uint32_t length);
  void EraseAll();
  // Number of bytes that are not erased (for tests and the transcript).
  uint64_t WrittenBytes() const;

 private:
  uint32_t Clip(uint32_t address, uint64_t length) const;

  std::string name_;
  uint32_t size_;
  mutable std::mutex mutex_;
  int fd_ = -1;
  std::unordered_map<uint32_t, std::unique_ptr<uint8_t[]>> pages_;  // memory only
};

}  // namespace vantrel::sim
