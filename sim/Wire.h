#pragma once
// The handset's end of the cable: a pseudo-terminal whose other end the host
// opens as its COM port. Models the line between the two: both ends' rates,
// corruption while they differ, optional pacing at the line rate, the host's
// opening, purging and closing of the port, power switching and hang-ups.
//
// The handset's programs run sequentially on one thread and call the waits
// below; a power switch, a stop or an abandoned exchange unwinds them with one
// of the exceptions declared here (they never leave the handset's thread).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sim/Faults.h"
#include "sim/Recorder.h"
#include "sim/Simulator.h"

namespace vantrel::sim {

using Clock = std::chrono::steady_clock;

// What the handset's thread does, as it tells the host (Wire::Publish).
enum class Activity : unsigned short {
  Busy = 1,         // it works on something, or is about to
  AwaitsTimer = 2,  // it waits for the host, but acts of its own accord when a timer of its runs out
  AwaitsHost = 3,   // it waits for the host and does nothing until the host does something
};
// Marks the window-size record of a simulator's pseudo-terminal.
inline constexpr unsigned short kActivityMark = 0x5653;

// Requests from other threads to the handset's thread.
struct Control {
  std::atomic<bool> stop{false};
  std::atomic<int> power{0};  // PowerRequest
  std::atomic<double> quietCycleMs{0};
  std::atomic<bool> quietCycleRepeat{false};
  int wakeFd = -1;  // eventfd; written to wake the handset's thread
  void Wake() const;
};

enum PowerRequest { kPowerNone = 0, kPowerOn = 1, kPowerOff = 2, kPowerCycle = 3 };

struct PowerEvent {
  int request;  // kPowerOn (switch on, or off and on), kPowerOff
  std::string why;
};
struct StopEvent {};
// The exchange in hand cannot go on (the host purged the line, went silent, or
// sent something else); the running program goes back to waiting.
struct SessionAbort {
  std::string why;
};

class Wire {
 public:
  Wire(const Options& options, Recorder& recorder, FaultBook& faults, Control& control);
  ~Wire();
  Wire(const Wire&) = delete;
  Wire& operator=(const Wire&) = delete;

  int Open(std::string* error);
  void Close();
  std::string DevicePath() const;

  // --- power state, as the handset's thread sees it
  void SetPowered(bool on);
  bool Powered() const { return powered_; }
  // The boot ROM waits untouched: opening the port switches the handset off and on.
  void SetFresh(bool fresh);
  // After the session end the handset runs its normal software: the
  // simulated operator switches it on again only when the host opens the
  // port anew (a purge on the way out is no new start).
  void StayOffUntilReopened();
  void Unmute() { muted_ = false; }
  // Closes the line as a pulled cable does; a new one appears a little later.
  [[noreturn]] void HangUp(const std::string& why);

  // --- rates
  uint32_t HandsetRate() const { return handsetRate_.load(); }
  void SetHandsetRate(uint32_t rate);
  uint32_t HostRate() const;       // as the pseudo-terminal reports it now
  uint32_t LastHostRate() const { return lastHostRate_.load(); }
  bool HostHoldsPort() const;      // the host has the port open
  Clock::time_point HostClosedAt() const { return hostClosedAt_; }
  bool HostOpen() const { return hostOpen_; }
  Clock::time_point LastActivity() const { return lastActivity_; }

  // --- input. Timeouts in real milliseconds; negative waits for ever.
  // `midUnit`: the handset is in the middle of an exchange, so a purge by the
  // host abandons it (SessionAbort). A wait for input is a wait for the host
  // (see Publish), unless `decidesAfter`: then the handset acts of its own
  // accord when nothing comes.
  bool ReadByte(uint8_t* out, double timeoutMs, bool midUnit, bool decidesAfter = false);
  // Reads exactly `length` bytes; `gapMs` is the longest pause allowed between
  // two of them. False (with `*got` bytes read) when the host stopped sending.
  bool Read(uint8_t* out, size_t length, double gapMs, bool midUnit, size_t* got = nullptr);
  // Looks at the next byte without taking it.
  bool Peek(uint8_t* out, double timeoutMs, bool midUnit);
  void Unread(const uint8_t* data, size_t length);
  bool InputPending() const { return !queue_.empty(); }
  void DiscardInput();

  // --- output. `event` names the answer for the fault book.
  void Send(const std::vector<uint8_t>& bytes, const std::string& event, const std::string& meaning);
  void SendByte(uint8_t byte, const std::string& event, const std::string& meaning) {
    Send(std::vector<uint8_t>{byte}, event, meaning);
  }

  // Waits `ms` of real time, taking in what arrives meanwhile.
  void Sleep(double ms);
  // Switched off: waits for the host until a power event unwinds it.
  [[noreturn]] void AwaitPower();

  // Transcript of bytes from the host, with both rates.
  void LogIn(const uint8_t* data, size_t length, const std::string& meaning);
  void LogIn(const std::vector<uint8_t>& data, const std::string& meaning) { LogIn(data.data(), data.size(), meaning); }

 private:
  struct Chunk {
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    uint32_t rateAtPurge = 0;  // the host's rate when it last purged
    uint32_t rateAtRead = 0;   // the host's rate when the bytes were read
    bool judged = false;
    // Pacing: when the last of these bytes has come over the line; the
    // handset sees none of them before.
    Clock::time_point readyAt{};
  };

  int CreatePty(std::string* error);
  void DestroyPty();
  // Waits for input, control requests and line events until `until`;
  // returns early when bytes arrived. May throw.
  void Pump(Clock::time_point until, bool midUnit);
  void CheckControl();
  void ReadPackets(bool midUnit);
  void OnPurge(bool midUnit);
  void OnHostOpened(const char* how);
  double PowerOnSettle() const;
  // Looks whether the host holds the port: every kHostCheckMs, or `atOnce`.
  void WatchHost(bool atOnce);
  // Tells the host what the handset's thread does. Tests scale the host's
  // pauses and idle budgets down, and on a busy machine the handset's thread
  // may then not get a core in time; a host that follows the simulator
  // (link/SimulatedLine.h) waits on this instead of the clock. It goes in the
  // pseudo-terminal's window-size record, which the host's end reads with one
  // call: the mark, the activity, and a count of what the handset has told.
  void Publish(Activity activity);
  // Before the handset says that it waits: it takes in what the host wrote
  // and purged (a read also brings in what the kernel still carries) and
  // whether the host holds the port. False when something came in.
  bool TookInTheHost(bool midUnit);
  bool TakeByte(uint8_t* out);
  void Judge(Chunk& chunk);
  void WriteAll(const uint8_t* data, size_t length);
  // The first chunk not yet taken (spent chunks are dropped), or null.
  Chunk* Front();
  bool FrontReady();
  // Bytes read from the pseudo-terminal that are still on the line.
  size_t BytesOnLine() const;
  void RateMismatch(const std::string& text);
  void RateMatch() { mismatch_ = false; }

  const Options& options_;
  Recorder& rec_;
  FaultBook& faults_;
  Control& control_;

  mutable std::mutex pathMutex_;
  std::string devicePath_;
  // The device COM<n> was last pointed at by this simulator, so that a new
  // port after a hang-up can take the name back from it.
  std::string publishedPath_;
  int master_ = -1;
  int slave_ = -1;  // kept open so that the host's close never hangs up the line
  std::optional<Clock::time_point> recreateAt_;
  // The input wait in hand waits for the host (see Publish).
  bool awaitingHost_ = false;
  uint32_t told_ = 0;  // what the handset has told the host so far (see Publish)

  std::atomic<uint32_t> handsetRate_{115200};
  std::atomic<uint32_t> lastHostRate_{0};
  uint32_t rateAtPurge_ = 0;
  bool mismatch_ = false;

  bool powered_ = false;
  bool fresh_ = false;
  bool muted_ = false;
  std::optional<Clock::time_point> powerOnAt_;
  bool hostOpen_ = false;
  // A purge came while a unit still had delivered bytes to read: nothing
  // after the purge is read until those are used up (see OnPurge).
  bool purgeHold_ = false;
  Clock::time_point hostClosedAt_{};
  Clock::time_point lastHostCheck_{};
  Clock::time_point lastActivity_ = Clock::now();
  bool quietArmed_ = true;
  size_t offBytes_ = 0;
  std::vector<uint8_t> earlyBytes_;  // arrived while switching on

  // When the last answer's last byte went out; cleared by the host's next bytes.
  std::optional<Clock::time_point> answerOutAt_;

  std::deque<Chunk> queue_;
  // Pacing. The line to the handset is busy until lineInFreeAt_; the line to
  // the host until lineOutFreeAt_. inputSeenEmpty_: the pseudo-terminal was
  // found empty since the last bytes were read from it, so the next bytes
  // were written after the line fell idle.
  Clock::time_point lineInFreeAt_{};
  bool inputSeenEmpty_ = true;
  Clock::time_point lineOutFreeAt_{};
};

}  // namespace vantrel::sim
