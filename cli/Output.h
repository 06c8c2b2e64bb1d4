#pragma once
// Where the front end's events go: the log and the operator's messages as
// text for a person (colours and a progress bar on a terminal), or one JSON
// object per event for a line controller. Every call may come from the job's
// worker thread or the progress timer; each sink serialises its own output.
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "cli/Outcome.h"
#include "jobs/Console.h"

namespace vantrel::cli {

struct ProgressSample {
  int percent = 0;            // 0..100
  int ticks = 0;              // blocks done
  int expected = 0;           // blocks expected (0: unknown)
  uint64_t bytes = 0;         // bytes moved on the line since the operation began
  double bytesPerSecond = 0;  // recent line rate
  double secondsLeft = -1;    // estimate; negative when unknown
};

class EventSink {
 public:
  virtual ~EventSink() = default;
  // The job's log; no kind is the plain (default colour) text.
  virtual void Log(const std::string& text, std::optional<LogKind> kind) = 0;
  virtual void Indicator(const std::string& text, int kind) = 0;
  virtual void Control(int controlId, const std::string& text) = 0;
  virtual void State(const char* state) = 0;
  // A message box and how it was answered ("ok", "cancel").
  virtual void Message(const std::string& caption, const std::string& text, const char* answer) = 0;
  virtual void Confirm(const std::string& title, const std::vector<std::string>& lines, bool answer,
                       const char* how) = 0;
  // A dialog answered from the arguments ("save", "nand-dump", "nor-dump").
  virtual void Dialog(const std::string& dialog, const std::string& answer) = 0;
  virtual void Progress(const ProgressSample& sample) = 0;
  virtual void ProgressEnd() = 0;
  // The front end's own remarks (port notes, hints, results of checks).
  virtual void Note(const std::string& text) = 0;
  virtual void OpBegin(int index, int count, const std::string& op) = 0;
  virtual void OpEnd(int index, int count, const std::string& op, const Judgement& judgement) = 0;
  virtual void Verify(const std::string& op, bool match, uint32_t checkedBytes, int64_t firstDifference,
                      const std::string& detail) = 0;
  // A developer trace (--trace).
  virtual void Trace(const std::string& text) = 0;
  // INFO: a file's size and byte checksum.
  virtual void Info(const std::string& path, uint64_t size, uint32_t checksum) = 0;
  // What the jobs' words mean (see Console): the phase with a download's
  // item, what the operator is to do with the handset, each block the
  // handset took, the flash type a loader reported. Words on a terminal say
  // all this already; the JSON events and the run record carry them.
  virtual void Phase(vantrel::Phase /*phase*/, ImageItem /*item*/) {}
  virtual void Prompt(vantrel::Prompt /*prompt*/) {}
  virtual void Written(const FlashRange& /*block*/) {}
  virtual void FlashId(uint8_t /*id*/) {}
  virtual void Finish(int status, int succeeded, int count) = 0;
};

// One line of the terminal progress bar, at most `width` characters:
// "[=====>     ]  45%  115.2 KB/s  0:12 left".
std::string RenderBar(const ProgressSample& sample, int width);
// Human-readable byte rate ("980 B/s", "44.8 KB/s", "1.20 MB/s").
std::string FormatRate(double bytesPerSecond);

// The log to `out` (colours when `color`), messages and notes to `err`, and
// the progress bar on `out` when `bar` (only sensible when `out` is a terminal).
class TextSink : public EventSink {
 public:
  TextSink(std::FILE* out, std::FILE* err, bool color, bool bar, bool sameTerminal);
  void Log(const std::string& text, std::optional<LogKind> kind) override;
  void Indicator(const std::string&, int) override {}
  void Control(int, const std::string&) override {}
  void State(const char*) override {}
  void Message(const std::string& caption, const std::string& text, const char* answer) override;
  void Confirm(const std::string& title, const std::vector<std::string>& lines, bool answer,
               const char* how) override;
  void Dialog(const std::string&, const std::string&) override {}
  void Progress(const ProgressSample& sample) override;
  void ProgressEnd() override;
  void Note(const std::string& text) override;
  void OpBegin(int index, int count, const std::string& op) override;
  void OpEnd(int index, int count, const std::string& op, const Judgement& judgement) override;
  void Verify(const std::string& op, bool match, uint32_t checkedBytes, int64_t firstDifference,
              const std::string& detail) override;
  void Trace(const std::string& text) override;
  void Info(const std::string& path, uint64_t size, uint32_t checksum) override;
  void Finish(int status, int succeeded, int count) override;

  // Terminal width for the bar (tests set it; 0 asks the terminal).
  void SetWidth(int width) { width_ = width; }

 private:
  void HideBarLocked();
  void ToErrLocked(const std::string& line);
  int Width() const;

  std::mutex mu_;
  std::FILE* out_;
  std::FILE* err_;
  bool color_;
  bool bar_;
  bool sameTerminal_;  // out and err show on one screen: keep their lines apart
  bool barShown_ = false;
  bool atLineStart_ = true;
  std::string partial_;  // what the log shows after its last line break, colours included
  int width_ = 0;
};

// One JSON object per line on `out`, flushed at once.
class JsonSink : public EventSink {
 public:
  explicit JsonSink(std::FILE* out) : out_(out) {}
  void Log(const std::string& text, std::optional<LogKind> kind) override;
  void Indicator(const std::string& text, int kind) override;
  void Control(int controlId, const std::string& text) override;
  void State(const char* state) override;
  void Message(const std::string& caption, const std::string& text, const char* answer) override;
  void Confirm(const std::string& title, const std::vector<std::string>& lines, bool answer,
               const char* how) override;
  void Dialog(const std::string& dialog, const std::string& answer) override;
  void Progress(const ProgressSample& sample) override;
  void ProgressEnd() override {}
  void Note(const std::string& text) override;
  void OpBegin(int index, int count, const std::string& op) override;
  void OpEnd(int index, int count, const std::string& op, const Judgement& judgement) override;
  void Verify(const std::string& op, bool match, uint32_t checkedBytes, int64_t firstDifference,
              const std::string& detail) override;
  void Trace(const std::string& text) override;
  void Info(const std::string& path, uint64_t size, uint32_t checksum) override;
  void Phase(vantrel::Phase phase, ImageItem item) override;
  void Prompt(vantrel::Prompt prompt) override;
  void Written(const FlashRange& block) override;
  void FlashId(uint8_t id) override;
  void Finish(int status, int succeeded, int count) override;
  // Any other event (the start event with the port and rate).
  void Emit(const std::string& line);

 private:
  std::mutex mu_;
  std::FILE* out_;
};

// Log text as a terminal shows it: "\r\n" and a lone "\r" become "\n".
std::string NormalizeLineBreaks(const std::string& text);

}  // namespace vantrel::cli
