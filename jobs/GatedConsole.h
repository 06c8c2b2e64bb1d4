#pragma once
// The console a running job sees: it forwards to the window's console until
// Cancel closes it, and drops everything afterwards.
//
// Output calls are forwarded under a lock that Close() also takes, so once
// Close() has returned no log line, progress position or state change of the
// stopped job can reach the window any more. Modal calls (message boxes,
// dialogs) are checked under the lock but forwarded without it: they wait for
// the operator on the window's thread, which may itself be about to close the
// gate. A closed gate answers them as if the operator had cancelled.
//
// The gate also remembers whether this job has enabled Cancel since the last
// state change, so that the per-chunk progress calls (one per 1024 bytes)
// cost an atomic load instead of a message to the window each.
#include <atomic>
#include <mutex>
#include <string>

#include "jobs/Console.h"

namespace vantrel {

class GatedConsole final : public Console {
 public:
  explicit GatedConsole(Console& inner) : inner_(inner) {}

  // After Close() returns, nothing reaches the inner console any more.
  void Close();
  bool IsOpen() const { return open_.load(); }

  // Runs `fn` under the gate's lock when the gate is open; several updates
  // that belong together (counters and their display) then either all happen
  // before a Cancel or none after it. `fn` may call this console again.
  template <class F>
  bool RunOpen(F&& fn) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (!open_.load()) return false;
    fn();
    return true;
  }

  // Enables Cancel unless this job already did so since the last state change.
  void EnableCancelOnce();

  void AppendLog(const std::string& text, LogKind kind) override;
  void AppendLogPlain(const std::string& text) override;
  void SetLinkIndicator(const std::string& text, IndicatorKind kind) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int controlId, bool enabled) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void ShowItemProgress(int itemButton, ItemFont font) override;
  void ShowTicks(int ticks, int expected) override;
  void ShowPercent(int percent) override;
  void ShowPhase(Phase phase, ImageItem item) override;
  void ShowPrompt(Prompt prompt) override;
  void ShowWrittenBlock(const FlashRange& block) override;
  void ShowFlashId(uint8_t id) override;
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
  template <class F>
  void Forward(F&& fn) {
    std::lock_guard<std::recursive_mutex> lock(mu_);
    if (open_.load()) fn();
  }

  Console& inner_;
  std::recursive_mutex mu_;
  std::atomic<bool> open_{true};
  std::atomic<bool> cancelEnabled_{false};
};

}  // namespace vantrel
