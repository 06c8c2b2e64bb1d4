#include "cli/Outcome.h"

#include "cli/ExitStatus.h"

namespace vantrel::cli {

int StatusOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::None: return kExitOk;
    case FailureKind::Usage: return kExitUsage;
    case FailureKind::Port: return kExitPort;
    case FailureKind::Handset: return kExitHandset;
    case FailureKind::File: return kExitFile;
    case FailureKind::Verify: return kExitVerify;
    case FailureKind::NotConfirmed: return kExitNotConfirmed;
    case FailureKind::Interrupted: return kExitInterrupted;
  }
  return kExitFailure;
}

Judgement Judge(const OperationOutcome& outcome, const Refusal& refusal) {
  Judgement j;
  j.code = outcome.result;
  j.written = outcome.Written();
  j.read = outcome.read;
  if (refusal.kind != FailureKind::None) {
    j.status = StatusOf(refusal.kind);
    j.reason = refusal.question;
    return j;
  }
  if (outcome.Succeeded()) return j;
  // An operation that neither finished nor said why did not finish.
  j.status = outcome.failure == FailureKind::None ? kExitHandset : StatusOf(outcome.failure);
  j.reason = FailureReason(outcome);
  return j;
}

}  // namespace vantrel::cli
