#pragma once
// Decoding side of the raw read-back exchange ("DUMP!!"): the handset sends a
// length-prefixed stream of 32-bit words, most significant byte first; a word
// whose four bytes are equal is followed by a count byte n and stands for
// n + 1 copies of itself. After every chunk of decoded bytes (8192, or what
// remains when less is left) the host sends the 8-bit sum of the bytes it
// received for that chunk and the handset answers 0x77.
//
// A run that takes the chunk to or past its limit ends the chunk like any
// other word: the host sends the sum and reads the handset's 0x77. Decoded
// bytes beyond the limit count against the announced length but not towards
// the next chunk, which starts empty. Once the announced length is used up
// (a run may overshoot it; nothing below zero is counted), the chunk in hand
// is the last one.
#include <array>
#include <cstdint>

#include "protocol/Constants.h"

namespace vantrel {

class RawChunkDecoder {
 public:
  static constexpr uint32_t kMaxRepeats = 255;  // a count byte holds at most this
  // The words of one chunk, plus room for the longest run that can start
  // just below the limit.
  static constexpr uint32_t kCapacityWords = proto::kRawChunkBytes / 4 + kMaxRepeats;

  explicit RawChunkDecoder(uint32_t announcedBytes);

  // Stores `word` and `repeats` more copies of it. Returns true when the
  // chunk is complete (its sum is then due).
  bool AddWord(uint32_t word, uint32_t repeats);
  // After the handset's 0x77: starts the next chunk. Returns true when the
  // announced length has been used up (the exchange has ended).
  bool NextChunk();

  uint32_t Limit() const { return limit_; }
  uint32_t Count() const { return count_; }          // bytes decoded into the current chunk
  uint32_t Remaining() const { return remaining_; }  // bytes still expected
  uint32_t Chunks() const { return chunks_; }        // completed chunks
  uint32_t Word(uint32_t index) const { return words_[index]; }

 private:
  std::array<uint32_t, kCapacityWords> words_{};
  uint32_t limit_;
  uint32_t count_ = 0;
  uint32_t remaining_;
  uint32_t chunks_ = 0;
};

}  // namespace vantrel
