#include "sim/Flash.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace vantrel::sim {
namespace {

void Invert(uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) p[i] = static_cast<uint8_t>(~p[i]);
}

bool PreadAll(int fd, uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    const ssize_t got = ::pread(fd, p, n, at);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      std::memset(p, 0, n);  // beyond the file's end: erased
      return got == 0;
    }
    p += got;
    n -= static_cast<size_t>(got);
    at += got;
  }
  return true;
}

void PwriteAll(int fd, const uint8_t* p, size_t n, off_t at) {
  while (n > 0) {
    const ssize_t put = ::pwrite(fd, p, n, at);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return;
    p += put;
    n -= static_cast<size_t>(put);
    at += put;
  }
}

// Walks `n` bytes from `address` page by page: fn(page, offset in the page,
// bytes in this page, bytes walked before it).
template <typename Fn>
void ForEachPageSpan(uint32_t address, uint32_t n, Fn&& fn) {
  constexpr uint32_t kPage = Flash::kPageBytes;
  for (uint32_t done = 0; done < n;) {
    const uint32_t at = address + done;
    const uint32_t off = at % kPage;
    const uint32_t take = std::min(n - done, kPage - off);
    fn(at / kPage, off, take, done);
    done += take;
  }
}

}  // namespace

Flash::Flash(std::string name, uint32_t size) : name_(std::move(name)), size_(size) {}

Flash::~Flash() {
  if (fd_ >= 0) ::close(fd_);
}

int Flash::Attach(const std::string& path, std::string* error) {
  // The state file is resized and written over: a link there would turn its
  // target into erased flash, and a FIFO or a device is no flash at all.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (fd < 0) {
    const int err = errno;
    if (error) *error = path + ": " + (err == ELOOP ? "a link; the flash contents are kept in a regular file only"
                                                    : std::strerror(err));
    return err;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    if (error) *error = path + ": not a regular file; the flash contents are kept in a regular file only";
    return EINVAL;
  }
  if (st.st_size != static_cast<off_t>(size_)) {
    // A file of another size is not ours to trust; a fresh part is erased.
    if (st.st_size != 0 && ::ftruncate(fd, 0) != 0) {
      // fall through: the resize below reports
    }
    if (::ftruncate(fd, size_) != 0) {
      const int err = errno;
      ::close(fd);
      if (error) *error = path + ": " + std::strerror(err);
      return err;
    }
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
  pages_.clear();
  return 0;
}

uint32_t Flash::Clip(uint32_t address, uint64_t length) const {
  if (address >= size_) return 0;
  return static_cast<uint32_t>(std::min<uint64_t>(length, size_ - address));
}

std::vector<uint8_t> Flash::Read(uint32_t address, uint32_t length) const {
  std::vector<uint8_t> out(length, 0xFF);
  const uint32_t n = Clip(address, length);
  if (n == 0) return out;
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) {
    PreadAll(fd_, out.data(), n, address);
    Invert(out.data(), n);
    return out;
  }
  ForEachPageSpan(address, n, [&](uint32_t page, uint32_t off, uint32_t take, uint32_t done) {
    if (auto it = pages_.find(page); it != pages_.end()) std::memcpy(out.data() + done, it->second.get() + off, take);
  });
  return out;
}

void Flash::Write(uint32_t address, const uint8_t* data, size_t length) {
  const uint32_t n = Clip(address, length);
  if (n == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) {
    std::vector<uint8_t> inv(data, data + n);
    Invert(inv.data(), n);
    PwriteAll(fd_, inv.data(), n, address);
    return;
  }
  ForEachPageSpan(address, n, [&](uint32_t page, uint32_t off, uint32_t take, uint32_t done) {
    auto& slot = pages_[page];
    if (!slot) {
      slot = std::make_unique<uint8_t[]>(kPageBytes);
      std::memset(slot.get(), 0xFF, kPageBytes);
    }
    std::memcpy(slot.get() + off, data + done, take);
  });
}

void Flash::Erase(uint32_t address, uint32_t length) {
  const uint32_t n = Clip(address, length);
  if (n == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (fd_ >= 0) {
    if (::fallocate(fd_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, address, n) != 0) {
      std::vector<uint8_t> zeros(std::min<uint32_t>(n, 1u << 20), 0);
      for (uint32_t done = 0; done < n;) {
        const uint32_t take = std::min<uint32_t>(n - done, static_cast<uint32_t>(zeros.size()));
        PwriteAll(fd_, zeros.data(), take, address + done);
        done += take;
      }
    }
    return;
  }
  ForEachPageSpan(address, n, [&](uint32_t page, uint32_t off, uint32_t take, uint32_t) {
    if (auto it = pages_.find(page); it != pages_.end()) {
      if (take == kPageBytes) {
        pages_.erase(it);
      } else {
        std::memset(it->second.get() + off, 0xFF, take);
      }
    }
  });
}

void Flash::EraseAll() { Erase(0, size_); }

uint64_t Flash::WrittenBytes() const {
  uint64_t count = 0;
  const uint32_t chunk = 1u << 20;
  for (uint32_t at = 0; at < size_; at += chunk) {
    const std::vector<uint8_t> b = Read(at, std::min(chunk, size_ - at));
    count += static_cast<uint64_t>(std::count_if(b.begin(), b.end(), [](uint8_t v) { return v != 0xFF; }));
  }
  return count;
}

}  // namespace vantrel::sim
