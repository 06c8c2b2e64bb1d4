#pragma once
// Image files as the console and the jobs see them: length, byte sum, the
// file-information row of the window, and the companion paths that follow
// from the chosen image set.
#include <cstdint>
#include <optional>
#include <string>

namespace vantrel {

class Console;

// Only regular files count: a folder, a device or a pipe "cannot be opened"
// (a folder opens on this platform, and a pipe would block the caller). Every
// file the operator names is opened this way (platform::OpenForReading).
bool CanReadFile(const std::string& path);

// Whether anything carries the name `path`: a file, a folder, a device, or a
// link, also one whose target is missing (a save over it would create that
// target or replace the link, so it is asked about like an existing file).
bool NameIsTaken(const std::string& path);

// Length in bytes, 0 when the file cannot be opened for reading. A length
// beyond 32 bits reads as 0xFFFFFFFF so that every size limit refuses it
// instead of seeing the length modulo 2^32.
uint32_t GetFileLength(const std::string& path);

struct FileSummary {
  uint64_t length = 0;  // the real length, also beyond 32 bits
  uint32_t sum = 0;     // all bytes added as unsigned values, wrapping at 2^32
};
// Reads the file in pieces, skipping the holes of a sparse file (they add
// nothing); nothing when it cannot be opened or read.
std::optional<FileSummary> SummariseFile(const std::string& path);

// The part after the last '/' (the whole text when there is none).
std::string FileNamePart(const std::string& path);

// "Filename" box (1105): the file name part of `path`.
void ShowFileName(Console& con, const std::string& path);
// "CheckSum" box (1104): the byte sum as "0x%lX"; nothing when unreadable.
void ShowFileChecksum(Console& con, const std::string& path);

// The four paths derived from an image-set path.
struct CompanionPaths {
  std::string calset;
  std::string rsrc1;
  std::string rsrc2;
  std::string fileSystem;
};
// A name that starts with "Q77T" and has no "Q77T_" sits beside its
// companions (same folder, same base name up to the first '.'); any other
// name lives in a package tree whose companions are under <root>/build/,
// <root> being the folder above the image set's folder.
CompanionPaths DeriveCompanionPaths(const std::string& imageSetPath);

}  // namespace vantrel
