#pragma once
// Every fixed pause and every poll of the tool goes through this facility.
//
// Production runs at real time. Tests and benchmarks speed it up: fixed pauses
// can be scaled down to nothing and poll steps shortened, while the number of
// polls that make up an idle budget stays exactly as the protocol counts them.
// Tests can also record which pauses were taken, in order.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::timing {

struct PauseEvent {
  unsigned ms;      // nominal length, as the protocol states it
  std::string tag;  // where it was taken, e.g. "ClosePort"
};

// Real-time factors. 1.0 is production. Pause scale 0 makes fixed pauses cost
// no real time; poll scale 0.1 makes a 6 s idle budget run out in 0.6 s.
void SetPauseScale(double scale);
void SetPollScale(double scale);
double PauseScale();
double PollScale();

// A fixed protocol pause of `ms` milliseconds. Ends early when a stop is
// requested (see Stop.h); callers check the stop flag afterwards.
void Pause(unsigned ms, std::string_view tag);

// One poll step of nominal `ms` milliseconds. `wait` receives the real time
// to wait, in microseconds, and should return early when the device becomes
// ready (so that an answer is not charged a whole poll step).
void PollStep(unsigned ms, const std::function<void(int64_t real_us)>& wait);

// Process clock in milliseconds (the elapsed-time lines of the jobs). Runs at
// real speed plus the nominal time of every pause that scaling shortened, so
// that elapsed times read like a real run's.
uint64_t NowMs();

// Recording for tests: pauses are listed, polls are counted (a step of
// several 5 ms polls counts as that many).
void StartRecording();
void StopRecording();
std::vector<PauseEvent> RecordedPauses();
uint64_t RecordedPollCount();
void ClearRecording();
// Called on the pausing thread as each fixed pause begins, before it sleeps,
// so that a test can look at the line at that moment. Empty: none.
void ObservePauses(std::function<void(const PauseEvent&)> observer);
// Called on the pausing thread as each fixed pause ends (unless a stop was
// requested), so that a test whose handset runs in the same process can make
// the pause last until the handset has done what the pause gives it time
// for, however late its thread gets a core. Empty: none.
void GatePauses(std::function<void()> gate);

}  // namespace vantrel::timing
