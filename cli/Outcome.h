#pragma once
// Whether an operation succeeded, and if not, what kind of failure it was.
//
// The jobs report to the operator only: success ends in a completion notice
// ("Download Finished", "DUMP Complete", "Available" in the log, ...), a
// failure in a message box or a red "FAIL" after a step. The front end
// therefore judges each operation from the events it sees: it succeeded when
// its completion sign appeared and no failure box did. The texts are the
// tool's fixed operator texts, so they are a stable contract.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/Args.h"
#include "jobs/Console.h"

namespace vantrel::cli {

enum class FailureKind { None, Usage, Port, Handset, File, Verify, NotConfirmed, Interrupted, Other };

int StatusOf(FailureKind kind);

// What a message box means for the operation that shows it.
enum class MessageClass { Neutral, Success, Failure };
struct MessageMeaning {
  MessageClass cls = MessageClass::Neutral;
  FailureKind kind = FailureKind::None;  // for failures
};
MessageMeaning ClassifyMessage(const std::string& text);

// The sign that an operation has completed successfully.
struct Expectation {
  enum Type {
    Box,       // a message box with exactly this text
    LogOk,     // a blue "OK" right after the plain log line containing `after`
    LogStart,  // a blue log text starting with `text`
    Nothing    // always succeeds unless something failed
  };
  Type type = Nothing;
  std::string text;
  std::string after;
};
Expectation ExpectationFor(OpKind kind, int item);

// A flash range a download reported as written (from its block lines).
struct WrittenRange {
  uint32_t address = 0;
  uint32_t length = 0;
  std::string section;  // the job's headline above it, e.g. "NAND : Imgset Download"
};
// Reads "    0 x 4A0000\t Download   131072 bytes\t. . . .  " (also with two tabs).
bool ParseBlockLine(const std::string& text, WrittenRange& out);

struct Judgement {
  int status = 0;      // ExitStatus
  std::string reason;  // the operator text that explains a failure
};

class OutcomeTracker {
 public:
  void Begin(const Expectation& expect);
  void OnLog(const std::string& text, std::optional<LogKind> kind);  // no kind: plain
  void OnMessage(const std::string& text);
  // A failure the front end found itself (refused confirmation, verify, ...).
  void Fail(FailureKind kind, const std::string& reason);
  Judgement Judge() const;
  std::vector<WrittenRange> Written() const;
  // The download headlines seen, in order, whether or not blocks followed.
  std::vector<std::string> Sections() const;
  bool Failed() const;

 private:
  void SignalLocked(FailureKind kind, const std::string& reason, bool hard);

  mutable std::mutex mu_;
  Expectation expect_;
  bool done_ = false;
  bool hard_ = false;
  FailureKind firstKind_ = FailureKind::None;
  std::string firstReason_;
  std::string hardReason_;  // the first failure box: the operator's own words for it
  std::string lastPlain_;
  std::string lastAny_;
  std::string section_;
  std::vector<std::string> sections_;
  std::vector<WrittenRange> written_;
};

}  // namespace vantrel::cli
