#pragma once
// Cuts a stream of bytes (a file read in pieces, a child's pipe) into lines.
// Each byte is looked at once however the stream arrives, so a line without
// its end that keeps growing costs no more than its bytes; and no line grows
// past a cap: a longer one is dropped whole and counted, since what is left
// of it would be no line its writer wrote.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::platform {

class LineSplitter {
 public:
  explicit LineSplitter(size_t maxLineBytes) : max_(maxLineBytes) {}

  // Takes `n` more bytes; the lines they complete go to `lines`, without
  // their '\n'.
  void Feed(const char* data, size_t n, std::vector<std::string>& lines);
  // The stream ended: an unfinished last line is a line all the same.
  void Finish(std::vector<std::string>& lines);
  // Lines dropped for being longer than the cap, and their bytes.
  size_t DroppedLines() const { return droppedLines_; }
  uint64_t DroppedBytes() const { return droppedBytes_; }

 private:
  size_t max_;
  std::string partial_;
  bool dropping_ = false;  // the line under way is over the cap
  size_t droppedLines_ = 0;
  uint64_t droppedBytes_ = 0;
};

}  // namespace vantrel::platform
