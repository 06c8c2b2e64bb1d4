#include <algorithm>

#include "maintenance/RawChunkDecoder.h"

namespace vantrel {

RawChunkDecoder::RawChunkDecoder(uint32_t announcedBytes)
    // A short read-back is one chunk of its own length: a limit of 8192 could
    // never be reached.
    : limit_(std::min(proto::kRawChunkBytes, announcedBytes)), remaining_(announcedBytes) {}

bool RawChunkDecoder::AddWord(uint32_t word, uint32_t repeats) {
  // Each word starts below the limit (at most 8188) and a run adds at most
  // 255 copies, so the chunk never runs past the buffer.
  repeats = std::min(repeats, kMaxRepeats);
  const uint32_t first = count_ / 4;
  for (uint32_t i = 0; i <= repeats && first + i < kCapacityWords; ++i) words_[first + i] = word;
  const uint32_t bytes = 4 * (repeats + 1);
  count_ += bytes;
  // The handset is not trusted to stay inside the length it announced.
  remaining_ -= std::min(remaining_, bytes);
  return count_ >= limit_ || remaining_ == 0;
}

bool RawChunkDecoder::NextChunk() {
  ++chunks_;
  count_ = 0;
  if (remaining_ == 0) return true;
  limit_ = std::min(proto::kRawChunkBytes, remaining_);
  return false;
}

}  // namespace vantrel
