#pragma once
// A pseudo-terminal pair for link tests: the product opens the slave by path,
// the test holds the master (the handset's end of the cable).
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel::test {

class PtyPair {
 public:
  PtyPair();  // throws std::runtime_error when no pseudo-terminal can be had
  ~PtyPair();
  PtyPair(const PtyPair&) = delete;
  PtyPair& operator=(const PtyPair&) = delete;

  int Master() const { return master_; }
  const std::string& SlavePath() const { return slavePath_; }

  // Writes all bytes to the master (blocking politely); false on error.
  bool Write(const std::vector<uint8_t>& bytes);
  bool Write(const std::string& bytes);
  // Reads until `count` bytes came or `timeoutMs` of real time passed.
  std::vector<uint8_t> Read(size_t count, int timeoutMs = 2000);
  // Everything that arrives within `quietMs` of silence.
  std::vector<uint8_t> Drain(int quietMs = 50);

  // Hangs up the line: the slave side sees end-of-file / EIO.
  void CloseMaster();

  // Keeps a descriptor of the slave open, as the handset simulator does so
  // that the host's close never hangs up the master. Returns the fd.
  int HoldSlave();

 private:
  int master_ = -1;
  int heldSlave_ = -1;
  std::string slavePath_;
};

}  // namespace vantrel::test
