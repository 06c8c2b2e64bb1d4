// The Win32 backend of Files.h. A path is the program's UTF-8; the calls take
// UTF-16. Links are reparse points here: with Links::Refuse the open takes
// the reparse point itself and refuses it. The error numbers are the C
// library's errno values, as on Linux, so that the texts read the same.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/Files.h"
#include "platform/Win32.h"

namespace vantrel::platform {

namespace {

FileError Failed(DWORD code) { return {FileFault::Failed, FileErrno(code)}; }

FileError FromOpenError(DWORD code) {
  const int err = FileErrno(code);
  return err == ENOENT ? FileError{FileFault::Missing, err} : FileError{FileFault::Failed, err};
}

// What stands at the path, before it is opened: a folder, or a link where
// none may be followed.
FileError CheckPath(const std::wstring& path, Links links) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return {};  // the open says why
  if (links == Links::Refuse && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return {FileFault::Link};
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {FileFault::Folder};
  return {};
}

// A handle is used only for a file on a disk: not a console, a pipe or a
// serial port, which a name such as "COM1" or "\\.\pipe\x" opens.
FileError CheckRegular(HANDLE h) {
  if (::GetFileType(h) != FILE_TYPE_DISK) return {FileFault::NotRegular};
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return Failed(::GetLastError());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return {FileFault::Folder};
  return {};
}

HANDLE Open(const std::wstring& path, DWORD access, DWORD disposition, Links links) {
  const DWORD flags = FILE_ATTRIBUTE_NORMAL | (links == Links::Refuse ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
  return ::CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, flags, nullptr);
}

FileError WriteAll(HANDLE h, const char* data, size_t n) {
  size_t done = 0;
  while (done < n) {
    DWORD wrote = 0;
    const DWORD chunk = static_cast<DWORD>(n - done > 0x40000000 ? 0x40000000 : n - done);
    if (!::WriteFile(h, data + done, chunk, &wrote, nullptr)) return Failed(::GetLastError());
    if (wrote == 0) return {FileFault::Failed, EIO};
    done += wrote;
  }
  return {};
}

// Whether the file's last byte is a line break (true for an empty file).
bool EndsWithLineBreak(HANDLE h) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(h, &size) || size.QuadPart == 0) return true;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>((size.QuadPart - 1) & 0xFFFFFFFF);
  at.OffsetHigh = static_cast<DWORD>((size.QuadPart - 1) >> 32);
  char last = '\n';
  DWORD got = 0;
  return !::ReadFile(h, &last, 1, &got, &at) || got != 1 || last == '\n';
}

}  // namespace

void File::Close() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

FileError File::Read(void* buffer, size_t n, size_t* got) {
  *got = 0;
  if (handle_ == -1) return {FileFault::Failed, EBADF};
  DWORD read = 0;
  const DWORD chunk = static_cast<DWORD>(n > 0x40000000 ? 0x40000000 : n);
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &read, nullptr)) return Failed(::GetLastError());
  *got = read;
  return {};
}

FileError File::SeekData(uint64_t at, uint64_t* begin, uint64_t* end) {
  if (handle_ == -1) return {FileFault::Failed, EBADF};
  // Holes are not asked for here: the whole file counts as data.
  *begin = at < size_ ? at : size_;
  *end = size_;
  LARGE_INTEGER to{};
  to.QuadPart = static_cast<LONGLONG>(*begin);
  if (!::SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN)) return Failed(::GetLastError());
  return {};
}

std::FILE* File::TakeStream() {
  if (handle_ == -1) return nullptr;
  const int fd = ::_open_osfhandle(handle_, _O_RDONLY | _O_BINARY);
  if (fd < 0) {
    Close();
    return nullptr;
  }
  handle_ = -1;  // the descriptor owns the handle now
  std::FILE* stream = ::_fdopen(fd, "rb");
  if (stream == nullptr) ::_close(fd);
  return stream;
}

FileError OpenForReading(const std::string& path, Links links, File* file) {
  file->Close();
  if (path.empty()) return {FileFault::Missing, ENOENT};
  const std::wstring wide = Wide(path);
  if (FileError e = CheckPath(wide, links)) return e;
  HANDLE h = Open(wide, GENERIC_READ, OPEN_EXISTING, links);
  if (h == INVALID_HANDLE_VALUE) return FromOpenError(::GetLastError());
  LARGE_INTEGER size{};
  FileError e = CheckRegular(h);
  if (!e && !::GetFileSizeEx(h, &size)) e = Failed(::GetLastError());
  if (e) {
    ::CloseHandle(h);
    return e;
  }
  file->handle_ = reinterpret_cast<intptr_t>(h);
  file->size_ = static_cast<uint64_t>(size.QuadPart);
  return {};
}

PathKind LookAt(const std::string& path) {
  if (path.empty()) return PathKind::Nothing;
  const std::wstring wide = Wide(path);
  const DWORD attributes = ::GetFileAttributesW(wide.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Nothing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return PathKind::Folder;
  // "COM1", "NUL" and pipes answer to attributes too; only a disk file is one.
  HANDLE h = Open(wide, 0, OPEN_EXISTING, Links::Refuse);
  if (h == INVALID_HANDLE_VALUE) return PathKind::Other;
  const PathKind kind = ::GetFileType(h) == FILE_TYPE_DISK ? PathKind::File : PathKind::Other;
  ::CloseHandle(h);
  return kind;
}

std::string ResolvePath(const std::string& path) {
  const std::wstring wide = Wide(path);
  wchar_t buf[MAX_PATH * 4];
  const DWORD n = ::GetFullPathNameW(wide.c_str(), MAX_PATH * 4, buf, nullptr);
  return n > 0 && n < MAX_PATH * 4 ? Narrow(buf) : path;
}

FileError CreateNew(const std::string& path, std::FILE** stream) {
  *stream = nullptr;
  const std::wstring wide = Wide(path);
  // CREATE_NEW fails on anything at the name, a reparse point included.
  HANDLE h = Open(wide, GENERIC_WRITE, CREATE_NEW, Links::Refuse);
  if (h == INVALID_HANDLE_VALUE) return Failed(::GetLastError());
  if (FileError e = CheckRegular(h)) {
    ::CloseHandle(h);
    return e;
  }
  const int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    ::DeleteFileW(wide.c_str());
    return {FileFault::Failed, EMFILE};
  }
  *stream = ::_fdopen(fd, "wb");
  if (*stream == nullptr) {
    ::_close(fd);
    ::DeleteFileW(wide.c_str());
    return {FileFault::Failed, EMFILE};
  }
  return {};
}

FileError Rename(const std::string& from, const std::string& to) {
  if (!::MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return Failed(::GetLastError());
  return {};
}

void Remove(const std::string& path) { ::DeleteFileW(Wide(path).c_str()); }

FileError ReplaceContents(const std::string& path, const std::string& bytes) {
  // A name of its own beside the file, so that the rename stays on its volume.
  const std::string temp = path + "." + std::to_string(::GetCurrentProcessId()) + ".new";
  const std::wstring wide = Wide(temp);
  HANDLE h = Open(wide, GENERIC_WRITE, CREATE_ALWAYS, Links::Refuse);
  if (h == INVALID_HANDLE_VALUE) return Failed(::GetLastError());
  FileError e = WriteAll(h, bytes.data(), bytes.size());
  if (!e && !::FlushFileBuffers(h)) e = Failed(::GetLastError());
  ::CloseHandle(h);
  if (!e) e = Rename(temp, path);
  if (e) ::DeleteFileW(wide.c_str());
  return e;
}

bool MayWrite(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) == 0;
}

FileError MakeFolders(const std::string& folder) {
  for (size_t pos = 1; pos <= folder.size(); ++pos) {
    if (pos != folder.size() && folder[pos] != '/' && folder[pos] != '\\') continue;
    const std::wstring part = Wide(folder.substr(0, pos));
    if (::CreateDirectoryW(part.c_str(), nullptr)) continue;
    const DWORD code = ::GetLastError();
    // "C:" and the folders that are there already refuse to be made.
    const DWORD attributes = ::GetFileAttributesW(part.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return Failed(code);
  }
  return {};
}

FileError AppendLocked(const std::string& path, const std::string& bytes, bool ownLine) {
  const std::wstring wide = Wide(path);
  if (FileError e = CheckPath(wide, Links::Refuse)) return e;
  HANDLE h = Open(wide, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, Links::Refuse);
  if (h == INVALID_HANDLE_VALUE) return FromOpenError(::GetLastError());
  FileError e = CheckRegular(h);
  // The whole file, however long it grows, is locked until the bytes are out.
  OVERLAPPED whole{};
  const bool locked = !e && ::LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole);
  if (!e && !locked) e = Failed(::GetLastError());
  if (!e) {
    const std::string data = ownLine && !EndsWithLineBreak(h) ? "\n" + bytes : bytes;
    LARGE_INTEGER end{};
    if (!::SetFilePointerEx(h, LARGE_INTEGER{}, &end, FILE_END)) e = Failed(::GetLastError());
    if (!e) e = WriteAll(h, data.data(), data.size());
    if (!e && !::FlushFileBuffers(h)) e = Failed(::GetLastError());
  }
  if (locked) {
    OVERLAPPED unlock{};
    ::UnlockFileEx(h, 0, MAXDWORD, MAXDWORD, &unlock);
  }
  ::CloseHandle(h);
  return e;
}

}  // namespace vantrel::platform
