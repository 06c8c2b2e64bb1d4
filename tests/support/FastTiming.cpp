#include "tests/support/FastTiming.h"

#include "link/SimulatedLine.h"
#include "link/Stop.h"

namespace vantrel::test {

FastTimingScope::FastTimingScope(double pollScale) {
  previous_ = SetSerialFactory(nullptr);
  SetSerialFactory([inner = previous_] { return FollowSimulator(inner ? inner() : MakePosixSerial()); });
  GatePausesOnSimulators(true);
  stop::Clear();
  timing::SetPauseScale(0.0);
  timing::SetPollScale(pollScale);
  timing::ClearRecording();
  timing::StartRecording();
}

FastTimingScope::~FastTimingScope() {
  timing::ObservePauses(nullptr);
  timing::StopRecording();
  timing::ClearRecording();
  timing::SetPauseScale(1.0);
  timing::SetPollScale(1.0);
  stop::Clear();
  GatePausesOnSimulators(false);
  SetSerialFactory(previous_);
}

void FastTiming::SetUp() { scope_ = new FastTimingScope(); }

void FastTiming::TearDown() {
  delete scope_;
  scope_ = nullptr;
}

std::vector<std::string> PauseLog() {
  std::vector<std::string> out;
  for (const auto& p : timing::RecordedPauses()) out.push_back(p.tag + ":" + std::to_string(p.ms));
  return out;
}

std::vector<unsigned> PausesTagged(const std::string& tag) {
  std::vector<unsigned> out;
  for (const auto& p : timing::RecordedPauses()) {
    if (p.tag == tag) out.push_back(p.ms);
  }
  return out;
}

}  // namespace vantrel::test
