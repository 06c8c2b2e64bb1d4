#pragma once
// The command line's entry in the station log: an event sink that passes
// every event on and keeps what the record of the run needs (the
// operations, their files and results), and writes the record when the run
// finishes, before the final event, so that whoever waits for that event
// finds the record on disk.
#include <chrono>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/Args.h"
#include "cli/Output.h"

namespace vantrel::cli {

class RecordingSink : public EventSink {
 public:
  // `historyPath` empty: record nothing (runs that never reach a handset).
  RecordingSink(EventSink& inner, const Options& options, std::string historyPath);

  // The record as it stands (tests; Finish writes it).
  nlohmann::json Record(int status) const;

  void Log(const std::string& text, std::optional<LogKind> kind) override { inner_.Log(text, kind); }
  void Indicator(const std::string& text, int kind) override { inner_.Indicator(text, kind); }
  void Control(int controlId, const std::string& text) override { inner_.Control(controlId, text); }
  void State(const char* state) override { inner_.State(state); }
  void Message(const std::string& caption, const std::string& text, const char* answer) override {
    inner_.Message(caption, text, answer);
  }
  void Confirm(const std::string& title, const std::vector<std::string>& lines, bool answer,
               const char* how) override {
    inner_.Confirm(title, lines, answer, how);
  }
  void Dialog(const std::string& dialog, const std::string& answer) override { inner_.Dialog(dialog, answer); }
  void Progress(const ProgressSample& sample) override { inner_.Progress(sample); }
  void ProgressEnd() override { inner_.ProgressEnd(); }
  void Note(const std::string& text) override;
  void OpBegin(int index, int count, const std::string& op) override;
  void OpEnd(int index, int count, const std::string& op, const Judgement& judgement) override;
  void Verify(const std::string& op, bool match, uint32_t checkedBytes, int64_t firstDifference,
              const std::string& detail) override {
    inner_.Verify(op, match, checkedBytes, firstDifference, detail);
  }
  void Trace(const std::string& text) override { inner_.Trace(text); }
  void Info(const std::string& path, uint64_t size, uint32_t checksum) override { inner_.Info(path, size, checksum); }
  void Phase(vantrel::Phase phase, ImageItem item) override { inner_.Phase(phase, item); }
  void Prompt(vantrel::Prompt prompt) override { inner_.Prompt(prompt); }
  void Written(const FlashRange& block) override { inner_.Written(block); }
  void FlashId(uint8_t id) override;
  void Finish(int status, int succeeded, int count) override;

 private:
  mutable std::mutex mu_;
  EventSink& inner_;
  const Options& o_;
  std::string path_;
  std::time_t when_;
  std::chrono::steady_clock::time_point start_;
  nlohmann::json ops_ = nlohmann::json::array();
  std::string reason_;     // the first failure's reason
  std::string lastNote_;   // a run refused before any operation says why in a note
  uint8_t flashType_ = 0;
};

}  // namespace vantrel::cli
