#pragma once
// Files that the programs read whole, read in pieces or append to. What
// stands at a path is not trusted: a folder, a FIFO, a device, a link planted
// by someone else or a sparse file of gigabytes is refused at once, saying
// what it is, instead of being read blindly, waited on or thrown about. The
// answer is a typed error, never an exception. One implementation per
// platform (FilesPosix.cpp); the interface carries no system types.
#include <cstddef>
#include <cstdint>
#include <cstdio>
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
  // Moves to the first byte of data at or after `at` and tells where that
  // data ends: holes of a sparse file read as zeros and are stepped over,
  // where the file system tells them apart. `*begin` is Size() when only a
  // hole is left.
  [[nodiscard]] FileError SeekData(uint64_t at, uint64_t* begin, uint64_t* end);
  // The file as a C stream (binary, read on from where it stands); this
  // object is closed either way. Null when the C library refuses.
  std::FILE* TakeStream();
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

// What stands at a path, a link itself rather than what it leads to.
enum class PathKind : uint8_t { Nothing, File, Link, Folder, Other };
PathKind LookAt(const std::string& path);

// The path with links followed and made absolute; the path itself when that
// cannot be done.
std::string ResolvePath(const std::string& path);

// Creates a new regular file for writing, as a binary stream; fails with
// EEXIST (as `code`) when anything stands at the path, a link included, so
// that nobody's file is ever written through.
[[nodiscard]] FileError CreateNew(const std::string& path, std::FILE** stream);

// Gives the file at `from` the name `to` in one step, replacing what had
// that name: a reader sees the old file or the new one, never neither.
[[nodiscard]] FileError Rename(const std::string& from, const std::string& to);

// Replaces what the file at `path` holds, as a whole: the bytes go to a new
// file beside it and reach the disk before it takes the name, so a reader
// or a power cut finds the old contents or the new, never a part. The file
// keeps its permissions; a new one is the user's alone.
[[nodiscard]] FileError ReplaceContents(const std::string& path, const std::string& bytes);

// Whether the user may write to the file at `path`.
bool MayWrite(const std::string& path);

// Removes the file (or link) at `path`; quiet when nothing is there.
void Remove(const std::string& path);

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
