#pragma once
// Runs the protocol's timing fast and records it: fixed pauses cost no real
// time, poll steps are shortened (the number of polls per idle budget stays as
// the protocol counts it), pauses and polls are recorded, and the stop flag is
// clear. Lines to the handset simulator follow it (link/SimulatedLine.h), so
// the sped-up waits keep their meaning on a busy machine. Restores production
// timing afterwards.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "link/SerialDevice.h"
#include "link/Timing.h"

namespace vantrel::test {

// A tenth: a 1 s idle budget lasts 100 ms of real time, so a silent handset
// costs a test well under a second. Against the handset simulator (or a
// scripted handset) the budget counts only while the handset waits for the
// host (link/SimulatedLine.h), so an answering one cannot lose the race.
inline constexpr double kFastPollScale = 0.1;

// For use outside a fixture (a helper, a benchmark, a test's own scope).
class FastTimingScope {
 public:
  explicit FastTimingScope(double pollScale = kFastPollScale);
  ~FastTimingScope();
  FastTimingScope(const FastTimingScope&) = delete;
  FastTimingScope& operator=(const FastTimingScope&) = delete;

 private:
  SerialFactory previous_;
};

class FastTiming : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

 private:
  FastTimingScope* scope_ = nullptr;
};

// The recorded pauses as "tag:ms" texts, in order, e.g. "ClosePort:1000".
std::vector<std::string> PauseLog();
// Only the recorded pauses with this tag, as nominal milliseconds.
std::vector<unsigned> PausesTagged(const std::string& tag);

}  // namespace vantrel::test
