// The parts of Files.h that are the same on every platform; the system's
// calls are in FilesPosix.cpp and FilesWin32.cpp.
#include <cstring>

#include "platform/Files.h"

namespace vantrel::platform {

std::string FileErrorText(const FileError& e) {
  switch (e.fault) {
    case FileFault::None: return "";
    case FileFault::Missing: return "no such file";
    case FileFault::Folder: return "a folder";
    case FileFault::NotRegular: return "not a regular file";
    case FileFault::Link: return "a link";
    case FileFault::WrongSize: return std::to_string(e.size) + " bytes, " + std::to_string(e.expected) + " expected";
    case FileFault::Failed: break;
  }
  return std::strerror(e.code);
}

File::File(File&& other) noexcept : handle_(other.handle_), size_(other.size_) { other.handle_ = -1; }

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = -1;
  }
  return *this;
}

FileError File::ReadExactly(void* buffer, size_t n) {
  size_t done = 0;
  while (done < n) {
    size_t got = 0;
    if (FileError e = Read(static_cast<char*>(buffer) + done, n - done, &got)) return e;
    if (got == 0) return {FileFault::WrongSize, 0, done, n};
    done += got;
  }
  return {};
}

FileError ReadExactFile(const std::string& path, uint64_t size, Links links, std::vector<uint8_t>* bytes) {
  bytes->clear();
  File file;
  if (FileError e = OpenForReading(path, links, &file)) return e;
  if (file.Size() != size) return {FileFault::WrongSize, 0, file.Size(), size};
  std::vector<uint8_t> data(static_cast<size_t>(size));
  if (FileError e = file.ReadExactly(data.data(), data.size())) return e;
  // A file that grew since it was measured is not the file that was checked.
  uint8_t more = 0;
  size_t got = 0;
  if (FileError e = file.Read(&more, 1, &got)) return e;
  if (got != 0) return {FileFault::WrongSize, 0, size + 1, size};
  *bytes = std::move(data);
  return {};
}

}  // namespace vantrel::platform
