#pragma once
// Files the operator names, opened so that a pipe or a device can never block
// the program: only a regular file is opened at all.
#include <sys/stat.h>

#include <cstdio>
#include <string>

namespace vantrel {

// Opens `path` for reading when it is a regular file; -1 otherwise (errno
// says why; EINVAL for a pipe, a device or a socket, EISDIR for a folder).
// The open itself never waits: a FIFO without a writer would block it.
// `st` receives the file's status when given.
[[nodiscard]] int OpenRegularFile(const std::string& path, struct stat* st = nullptr);

// The same, as a binary stream; null otherwise (errno says why).
std::FILE* OpenRegularStream(const std::string& path);

}  // namespace vantrel
