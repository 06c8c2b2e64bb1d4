#pragma once
// The command line's operator console: the jobs' log and messages go to an
// event sink, confirmations are answered by --yes or asked on the terminal,
// and the dialogs are answered from the arguments of the running operation.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "cli/Args.h"
#include "cli/Outcome.h"
#include "cli/Output.h"
#include "jobs/Console.h"
#include "jobs/OperationRecord.h"

namespace vantrel::cli {

// Asks the operator a yes/no question. nullopt when nobody can be asked.
class Asker {
 public:
  virtual ~Asker() = default;
  virtual std::optional<bool> Ask(const std::string& question) = 0;
};

// Asks on standard error and reads the answer from standard input, but only
// when standard input is a terminal.
class TerminalAsker : public Asker {
 public:
  std::optional<bool> Ask(const std::string& question) override;
};

// What the window's controls would hold; the record is filled from it.
struct ControlValues {
  int comPort = 0;
  int baudIndex = 0;
  int commType = 0;
  int downloadItem = -1;
  std::string imgset, calset, rsrc1, rsrc2, fs, entire, nandManual, norManual;
  int fsChosen = 0;
  uint32_t startAddress = 0;
  int autoAll = 0, reboot = 0, calsetDefault = 0, includeBootloader = 0, nandCalset = 0;
};

class CliConsole : public Console {
 public:
  CliConsole(EventSink& sink, OperationRecord& rec, Asker* asker, bool yes);

  // Prepares the console for the next operation: the controls it shows and
  // the answers of its dialogs.
  void BeginOperation(const Operation& op, const ControlValues& controls);
  // The first question of this operation that was answered "no" for the
  // operator (kind None when there was none).
  Refusal FirstRefusal() const;
  // After Ctrl-C every question is answered "no".
  void SetInterrupted() { interrupted_ = true; }

  // The progress bar of the raw read-back (position within a range).
  int RangePercent() const;

  // Console.
  void AppendLog(const std::string& text, LogKind kind) override;
  void AppendLogPlain(const std::string& text) override;
  void SetLinkIndicator(const std::string& text, IndicatorKind kind) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int, bool) override {}
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  // The terminal has no file buttons; its bar shows the progress.
  void ShowItemProgress(int, ItemFont) override {}
  void ShowTicks(int ticks, int expected) override;
  void ShowPercent(int percent) override;
  void ShowPhase(Phase phase, ImageItem item) override { sink_.Phase(phase, item); }
  void ShowPrompt(Prompt prompt) override { sink_.Prompt(prompt); }
  void ShowWrittenBlock(const FlashRange& block) override { sink_.Written(block); }
  void ShowFlashId(uint8_t id) override { sink_.FlashId(id); }
  void EnterDisconnectedState() override;
  void EnterReadyState() override;
  void EnterBusyState() override;
  void ControlsToRecord() override;
  void RecordToControls() override;
  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override;
  bool Confirm(const std::string& title, const std::vector<std::string>& lines) override;
  std::optional<std::string> SaveFileDialog(const std::string& proposedName, const std::string& filter) override;
  std::optional<DumpArea> NorDumpDialog() override;
  std::optional<DumpArea> NandDumpDialog() override;

 private:
  bool Answer(const std::string& question, const char** how);
  void Refused(const std::string& question);

  EventSink& sink_;
  OperationRecord& rec_;
  Asker* asker_;
  bool yes_;
  std::atomic<bool> interrupted_{false};

  mutable std::mutex mu_;
  Refusal refusal_;
  ControlValues controls_;
  Operation op_;
  bool noTerminalNoted_ = false;

  std::atomic<int> rangeLow_{0}, rangeHigh_{100}, rangePos_{0};
};

}  // namespace vantrel::cli
