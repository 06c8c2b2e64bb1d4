#pragma once
// A console for benchmarks: keeps the log in memory (for a failure report),
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
  void EnterDisconnectedState() override {}
  void EnterReadyState() override {}
  void EnterBusyState() override {}
  void ControlsToRecord() override {}
  void RecordToControls() override {}
  MsgAnswer MessageBox(const std::string&, const std::string&, MsgButtons) override { return MsgAnswer::Ok; }
  bool Confirm(const std::string&, const std::vector<std::string>&) override { return true; }
  std::optional<std::string> SaveFileDialog(const std::string&, const std::string&) override { return std::nullopt; }
  std::optional<DumpArea> NorDumpDialog() override { return std::nullopt; }
  std::optional<DumpArea> NandDumpDialog() override { return std::nullopt; }

  // The last `lines` lines of the log (for a failure report).
  std::string LogTail(size_t lines) const;

 private:
  mutable std::mutex mu_;
  std::string log_;
};

}  // namespace vantrel::bench
