#pragma once
// A Console for tests: records every call in order, answers the modal calls
// from a script, and lets a test wait for what a job thread will do.
//
// Thread-safe: a job thread writes while the test thread reads and waits.
// Modal calls whose script is empty get a default answer (message boxes OK,
// confirmations OK, save dialogs the default save path if one is set, dump
// dialogs cancelled).
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "jobs/Console.h"

namespace vantrel::test {

enum class CallType {
  Log,            // AppendLog: text, kind
  LogPlain,       // AppendLogPlain: text (kind -1)
  LinkIndicator,  // SetLinkIndicator: text, kind
  ControlText,    // SetControlText: id, text
  Enable,         // EnableControl: id, value 0/1
  ProgressRange,  // SetProgressRange: value low, value2 high
  ProgressPos,    // SetProgressPos: value
  ItemFont,       // ShowItemProgress: id, value (ItemFont as int)
  Disconnected,   // EnterDisconnectedState
  Ready,          // EnterReadyState
  Busy,           // EnterBusyState
  ControlsToRecord,
  RecordToControls,
  MessageBox,  // text, caption (as given; empty means the application's name), kind = buttons
  Confirm,     // text = title, lines
  SaveDialog,  // text = proposed name, caption = filter
  NorDumpDialog,
  NandDumpDialog,
};

const char* CallTypeName(CallType type);

struct ConsoleCall {
  CallType type = CallType::Log;
  std::string text{};
  std::string caption{};
  int kind = 0;
  int id = 0;
  int value = 0;
  int value2 = 0;
  std::vector<std::string> lines{};

  // Message box caption as the operator sees it.
  std::string ShownCaption() const { return caption.empty() ? std::string(kAppName) : caption; }
  std::string Describe() const;
};

class RecordingConsole : public Console {
 public:
  using Hook = std::function<void(const ConsoleCall&)>;

  // --- Console ---
  void AppendLog(const std::string& text, LogKind kind) override;
  void AppendLogPlain(const std::string& text) override;
  void SetLinkIndicator(const std::string& text, IndicatorKind kind) override;
  void SetControlText(int controlId, const std::string& text) override;
  void EnableControl(int controlId, bool enabled) override;
  void SetProgressRange(int low, int high) override;
  void SetProgressPos(int pos) override;
  void ShowItemProgress(int itemButton, ItemFont font) override;
  // Recorded as the window's boxes would show them (ControlText).
  void ShowTicks(int ticks, int expected) override;
  void ShowPercent(int percent) override;
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

  // --- Script for the modal calls (first in, first used) ---
  void QueueMessageAnswer(MsgAnswer answer);
  void QueueConfirm(bool ok);
  void QueueSaveFile(std::optional<std::string> path);
  void SetDefaultSavePath(std::optional<std::string> path);
  void QueueNorDumpArea(std::optional<DumpArea> area);
  void QueueNandDumpArea(std::optional<DumpArea> area);

  // Called on the caller's thread after each call has been recorded, outside
  // the console's lock (a hook may block, cancel a job, or read the console).
  // For modal calls the hook runs before the answer is taken from the script.
  void SetHook(Hook hook);

  // --- Reading ---
  std::vector<ConsoleCall> Calls() const;
  std::vector<ConsoleCall> Calls(CallType type) const;
  size_t Count() const;  // a mark for the *Since readers
  std::vector<ConsoleCall> CallsSince(size_t mark) const;
  // Log texts of kinds 0-4 and plain texts, joined in order (kind 5 excluded).
  std::string Log() const;
  std::string LogSince(size_t mark) const;
  // (kind, text) of every log call; plain texts have kind -1; kind 5 included.
  std::vector<std::pair<int, std::string>> LogEntries() const;
  std::vector<ConsoleCall> MessageBoxes() const;
  std::vector<std::string> MessageTexts() const;
  // "Disconnected", "Ready", "Busy" in order.
  std::vector<std::string> States() const;
  std::string LastState() const;
  // Last text written to a control ("" when never written).
  std::string ControlText(int controlId) const;
  std::optional<bool> Enabled(int controlId) const;
  int EnableCount(int controlId, bool enabled) const;
  std::optional<int> ProgressPos() const;
  std::optional<ItemFont> Font(int buttonId) const;
  // Last text of link-indicator box 1118 (kinds 1, 3) or 1119 (kinds 2, 4),
  // including texts written with SetControlText.
  std::string IndicatorText(int box) const;
  // Every call, one per line (for failure messages).
  std::string Dump() const;

  void Clear();

  // Waits until `pred` holds for the recorded calls (checked on each new call).
  bool WaitFor(const std::function<bool(const std::vector<ConsoleCall>&)>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // Waits for a call of `type` at or after `mark`.
  bool WaitForCall(CallType type, size_t mark = 0,
                   std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;
  // Waits until the log text since `mark` contains `text`.
  bool WaitForLog(const std::string& text, size_t mark = 0,
                  std::chrono::milliseconds timeout = std::chrono::seconds(20)) const;

 private:
  void Record(ConsoleCall call);

  mutable std::mutex mu_;
  mutable std::condition_variable cv_;
  std::vector<ConsoleCall> calls_;
  std::deque<MsgAnswer> answers_;
  std::deque<bool> confirms_;
  std::deque<std::optional<std::string>> saves_;
  std::optional<std::string> defaultSave_;
  std::deque<std::optional<DumpArea>> norAreas_;
  std::deque<std::optional<DumpArea>> nandAreas_;
  Hook hook_;
};

}  // namespace vantrel::test
