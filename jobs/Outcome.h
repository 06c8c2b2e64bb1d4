#pragma once
// What an operation came to, as values: the front ends (exit statuses,
// --verify, the station, the station log, the desktop notice) read these and
// never the operator's words, so that a mended or translated text cannot
// change what a run is judged to have done.
//
// The jobs set each value where they decide it: a failure where they show
// its box (or give up without one), the written blocks where the progress
// callback counts them, the completion where the thread procedure's chain
// has run to its end.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "link/ResultCodes.h"

namespace vantrel {

// What kind of failure ended an operation. The names are the command line's
// exit status names ("handset", "not-confirmed", ...).
enum class FailureKind { None, Usage, File, Port, Handset, NotConfirmed, Interrupted, Verify };
const char* FailureKindName(FailureKind kind);  // "" for None
// The kind a failed link or protocol routine stands for: the operator's
// files (201 to 204), the port (210), else the handset.
FailureKind FailureKindOf(Result rc);

enum class FlashRegion { Nand, Nor };
const char* FlashRegionName(FlashRegion region);  // "NAND", "NOR"

// What one transfer of a download writes.
enum class ImageItem { None, Imgset, Calset, Rsrc1, Rsrc2, FileSystem, EntireFlash, Manual, Boot2, BootStage };
const char* ImageItemName(ImageItem item);  // "imgset", "file-system", "boot-stage", ...

struct FlashRange {
  FlashRegion region = FlashRegion::Nand;
  uint32_t address = 0;
  uint32_t length = 0;
  bool operator==(const FlashRange&) const = default;
};
// The ranges with those that touch or overlap in the same region joined, in
// the order of their first address within each run of one region.
std::vector<FlashRange> MergeRanges(const std::vector<FlashRange>& ranges);
// "0x4A0000": addresses as the operator and the log write them.
std::string AddressText(uint32_t address);

// One transfer of a download and the blocks the handset took, in order. A
// transfer that wrote nothing is listed all the same.
struct ImageTransfer {
  ImageItem item = ImageItem::None;
  FlashRegion region = FlashRegion::Nand;
  std::vector<FlashRange> blocks;
};

// A message box as the operator saw it; an empty caption is the application's name.
struct OperatorMessage {
  std::string text;
  std::string caption;
};
// `s` without leading and trailing blanks and line breaks.
std::string TrimBlanks(const std::string& s);

// What the operator is asked to do with the handset now.
enum class Prompt { None, SwitchOn, PowerCycle };
const char* PromptName(Prompt prompt);  // "none", "switch-on", "power-cycle"

// The stage a running operation is in.
enum class Phase { Connecting, LoaderUpload, Download, Erase, Format, Dump, Verify };
const char* PhaseName(Phase phase);  // "connecting", "loader-upload", ...

struct OperationOutcome {
  bool completed = false;  // the operation's chain ran to its end
  Result result = Result::Ok;
  FailureKind failure = FailureKind::None;
  // The box that told the operator: the first failure box, or the notice a
  // finished operation ended with. Empty when there was none.
  OperatorMessage message;
  // Why the port could not be opened, as the link found it (failure Port).
  std::string portProblem;
  std::vector<ImageTransfer> transfers;
  std::vector<FlashRange> read;

  bool Succeeded() const { return completed && failure == FailureKind::None; }
  // Every written block of every transfer, in order.
  std::vector<FlashRange> Written() const;
};

// A failed operation in words for the front ends: its box's text, else the
// failed routine's result; with the link's reason for a port that did not
// open. Empty for a success.
std::string FailureReason(const OperationOutcome& outcome);

// The outcome of the operation that runs now, filled in as it goes. The
// first failure names the kind and the result code; the first failure box
// gives the words. Written on the job's thread and on the console's thread
// (a press refused before any job starts), read by the front ends.
class OutcomeLog {
 public:
  void Reset();
  void Fail(FailureKind kind, Result rc, const std::string& portProblem = {});
  void FailWithMessage(FailureKind kind, Result rc, const OperatorMessage& message);
  // A notice box: the operation's words unless a failure came first.
  void Notice(const OperatorMessage& message);
  void Complete();
  // Cancel stopped the operation: that is what it came to, whatever it met before.
  void Interrupt();
  void BeginTransfer(ImageItem item, FlashRegion region);
  // A block of the current transfer (of a transfer of no item when none began).
  void AddWritten(uint32_t address, uint32_t length);
  void AddRead(const FlashRange& range);
  // The current transfer's region; NAND when none began.
  FlashRegion Region() const;
  OperationOutcome Snapshot() const;

 private:
  mutable std::mutex mu_;
  OperationOutcome o_;
  bool failureWorded_ = false;
};

}  // namespace vantrel
