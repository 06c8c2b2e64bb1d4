#pragma once
// A console for benchmarks: keeps the log and the message boxes in memory,
// answers every modal call with OK, and draws nothing, so that the figures
// measure the jobs and the link rather than a toolkit.
#include <mutex>
#include <string>
#include <vector>

#include "jobs/Console.h"

namespace vantrel::bench {

class QuietConsole : public Console {
 public:
  void AppendLog(const std::string& text, LogKind kind) override;
  void AppendLogPlain(const std::string& text) override;
  void SetLinkIndicator(const std::string&, IndicatorKind) override {}
  void SetControlText(int, const std::string&) override {}
  void EnableControl(int, bool) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void ShowItemProgress(int, ItemFont) override {}
  void ShowTicks(int, int) override {}
  void ShowPercent(int) override {}
  void EnterDisconnectedState() override { SetState("Disconnected"); }
  void EnterReadyState() override { SetState("Ready"); }
  void EnterBusyState() override { SetState("Busy"); }
  void ControlsToRecord() override {}
  void RecordToControls() override {}
  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) override;
  bool Confirm(const std::string&, const std::vector<std::string>&) override { return true; }
  std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<DumpArea> NorDumpDialog() override { return std::nullopt; }
  std::optional<DumpArea> NandDumpDialog() override { return std::nullopt; }

  std::string Log() const;
  std::vector<std::string> Messages() const;
  std::string State() const;
  // The last `lines` lines of the log (for a failure report).
  std::string LogTail(size_t lines) const;

 private:
  void SetState(const char* state);

  mutable std::mutex mu_;
  std::string log_;
  std::vector<std::string> messages_;
  std::string state_;
};

}  // namespace vantrel::bench
