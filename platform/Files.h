#pragma once
// Files that the programs read whole, read in pieces or append to. What
// stands at a path is not trusted: a folder, a FIFO, a device, a link planted
// by someone else or a sparse file of gigabytes is refused at once, saying
// what it is, instead of being read blindly, waited on or thrown about. The
// answer is a typed error, never an exception. One implementation per
// platform (FilesPosix.cpp); the interface carries no system types.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::platform {

enum class FileFault : uint8_t {
  None,
  Missing,     // nothing stands at the path
  Folder,      // a folder stands there
  NotRegular,  // a device, a FIFO or a socket
  Link,        // a link, where none may be followed
  WrongSize,   // a regular file of another length than the one required
  Failed,      // the system refused; `code` holds its error number
};

struct FileError {
  FileFault fault = FileFault::None;
  int code = 0;           // Failed: the system's error number
  uint64_t size = 0;      // WrongSize: the bytes found
  uint64_t expected = 0;  // WrongSize: the bytes required
  explicit operator bool() const { return fault != FileFault::None; }
};

// What stands at the path, for the operator: "a folder", "not a regular
// file", "a link", "3221225472 bytes, 190380 expected", "no such file", or
// the system's own words.
std::string FileErrorText(const FileError& error);

// Whether a link at the path itself is followed. Operators link their
// payload files; the path of a shared log is nobody's to redirect.
enum class Links : uint8_t { Follow, Refuse };

// An open regular file, read from its start on. Move-only; closes itself.
class File {
 public:
  File() = default;
  ~File() { Close(); }
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return handle_ != -1; }
  // The length it had when it was opened.
  uint64_t Size() const { return size_; }
  // Up to `n` bytes; `*got` is 0 at the end of the file.
  [[nodiscard]] FileError Read(void* buffer, size_t n, size_t* got);
  // Exactly `n` bytes; WrongSize (with the bytes there were) when the file
  // ends first.
  [[nodiscard]] FileError ReadExactly(void* buffer, size_t n);
  void Close();

 private:
  friend FileError OpenForReading(const std::string& path, Links links, File* file);
  intptr_t handle_ = -1;  // a descriptor here, a HANDLE on Windows
  uint64_t size_ = 0;
};

// Opens the regular file at `path` for reading. The open never waits (a FIFO
// without a writer would hold it for good); a folder, a device, a FIFO and,
// with Links::Refuse, a link are refused.
[[nodiscard]] FileError OpenForReading(const std::string& path, Links links, File* file);

// The whole of the regular file at `path`, which must hold exactly `size`
// bytes: a file of any other length is refused from its length alone,
// before a byte of it is read.
[[nodiscard]] FileError ReadExactFile(const std::string& path, uint64_t size, Links links,
                                      std::vector<uint8_t>* bytes);

// Makes `folder` and the folders above it where they are missing (readable
// by the user alone).
[[nodiscard]] FileError MakeFolders(const std::string& folder);

// Appends `bytes` to the regular file at `path`, creating it when nothing
// stands there; a link there is refused, never followed. The bytes go out
// in one write under an exclusive lock and reach the disk before the call
// returns, so writers in other processes never interleave. With `ownLine`,
// a file whose last line was cut short (its writer killed in the middle)
// gets a line break first, so that the new line does not join the torn one.
[[nodiscard]] FileError AppendLocked(const std::string& path, const std::string& bytes, bool ownLine);

}  // namespace vantrel::platform
