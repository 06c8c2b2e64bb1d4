#pragma once
// The command line's judgement of one operation: its exit status and the
// reason, from the operation's outcome as the jobs set it, and from what the
// command line itself refused for the operator (a confirmation it could not
// ask, a file it would not overwrite).
#include <string>
#include <utility>
#include <vector>

#include "jobs/Outcome.h"

namespace vantrel::cli {

int StatusOf(FailureKind kind);

struct Judgement {
  Judgement() = default;
  Judgement(int status_, std::string reason_, Result code_ = Result::Ok)
      : status(status_), reason(std::move(reason_)), code(code_) {}

  int status = 0;      // ExitStatus
  std::string reason;  // the operator text that explains a failure
  Result code = Result::Ok;  // the result code behind a failure
  // What the operation wrote and read, block by block.
  std::vector<FlashRange> written;
  std::vector<FlashRange> read;
};

// A question the command line answered "no" on the operator's behalf.
struct Refusal {
  FailureKind kind = FailureKind::None;  // NotConfirmed, or Interrupted after Ctrl-C
  std::string question;
};

// A refusal comes before whatever the job made of it (a dump without a file
// reports "File select canceled"): it names the kind and the reason.
Judgement Judge(const OperationOutcome& outcome, const Refusal& refusal);

}  // namespace vantrel::cli
