#pragma once
// Exit statuses of vantrel-cli. Line controllers branch on them, so the
// numbers are part of the program's interface: never renumber, only add.
namespace vantrel::cli {

enum ExitStatus : int {
  kExitOk = 0,            // every operation succeeded
  kExitFailure = 1,       // anything not covered below (internal error)
  kExitUsage = 2,         // bad arguments, or an operation refused them
  kExitPort = 3,          // the port cannot be opened: missing, busy, no permission
  kExitHandset = 4,       // the handset did not answer or the transfer failed
  kExitFile = 5,          // an input file is missing or unusable, an output cannot be written
  kExitVerify = 6,        // --verify read back bytes that differ from the file
  kExitNotConfirmed = 7,  // a confirmation was refused or could not be asked
  kExitInterrupted = 130  // stopped with Ctrl-C (SIGINT) or SIGTERM
};

// Short name of a status, used in the JSON events and the summary line.
inline const char* ExitStatusName(int status) {
  switch (status) {
    case kExitOk: return "ok";
    case kExitUsage: return "usage";
    case kExitPort: return "port";
    case kExitHandset: return "handset";
    case kExitFile: return "file";
    case kExitVerify: return "verify";
    case kExitNotConfirmed: return "not-confirmed";
    case kExitInterrupted: return "interrupted";
    default: return "failure";
  }
}

}  // namespace vantrel::cli
