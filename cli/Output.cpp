#include "cli/Output.h"

#include <algorithm>
#include <cmath>

#include "cli/ExitStatus.h"
#include "cli/Json.h"
#include "platform/Terminal.h"
#include "platform/TerminalText.h"
#include "jobs/Console.h"
#include "jobs/RunRecord.h"

namespace vantrel::cli {

namespace {

using platform::EscapeField;

const char* KindColor(std::optional<LogKind> kind) {
  if (kind == LogKind::Blue || kind == LogKind::BlueNote) return "\033[34m";
  if (kind == LogKind::Red || kind == LogKind::Red2) return "\033[31m";
  return nullptr;  // black and plain: the terminal's own colour
}

std::string Trim(const std::string& s) { return TrimBlanks(s); }

std::string FormatDuration(double seconds) {
  long s = std::lround(seconds);
  char buf[32];
  if (s >= 3600) std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, (s / 60) % 60, s % 60);
  else std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

}  // namespace

std::string NormalizeLineBreaks(const std::string& text) { return ShownLineBreaks(text); }

std::string FormatRate(double bps) {
  char buf[32];
  if (bps < 1000) std::snprintf(buf, sizeof buf, "%.0f B/s", bps);
  else if (bps < 1000 * 1000) std::snprintf(buf, sizeof buf, "%.1f KB/s", bps / 1000);
  else std::snprintf(buf, sizeof buf, "%.2f MB/s", bps / 1e6);
  return buf;
}

std::string RenderBar(const ProgressSample& s, int width) {
  int pct = std::clamp(s.percent, 0, 100);
  char head[16];
  std::snprintf(head, sizeof head, "%3d%%", pct);
  std::string tail = std::string("  ") + head + "  " + FormatRate(s.bytesPerSecond);
  if (s.secondsLeft >= 0) tail += "  " + FormatDuration(s.secondsLeft) + " left";
  int barWidth = std::min(40, width - static_cast<int>(tail.size()) - 2);
  if (barWidth < 5) return tail.substr(0, static_cast<size_t>(std::max(0, width)));
  int filled = pct * barWidth / 100;
  std::string bar = "[";
  for (int i = 0; i < barWidth; ++i) bar += i < filled ? '=' : (i == filled ? '>' : ' ');
  if (pct == 100) bar.back() = '=';
  return bar + "]" + tail;
}

// ---------------------------------------------------------------- TextSink

TextSink::TextSink(std::FILE* out, std::FILE* err, bool color, bool bar, bool sameTerminal)
    : out_(out), err_(err), color_(color), bar_(bar), sameTerminal_(sameTerminal) {}

int TextSink::Width() const {
  if (width_ > 0) return width_;
  if (const int columns = platform::TerminalColumns(out_); columns > 10) return columns - 1;
  return 79;
}

void TextSink::HideBarLocked() {
  if (!barShown_) return;
  // The bar stood in for the log's unfinished line: put that line back.
  std::fputs("\r\033[K", out_);
  std::fputs(partial_.c_str(), out_);
  std::fflush(out_);
  barShown_ = false;
}

void TextSink::Log(const std::string& raw, std::optional<LogKind> kind) {
  if (kind == LogKind::Scratch) return;  // the window's hidden scratch box
  // The log carries file names and the handset's own text.
  std::string text = platform::EscapeControls(NormalizeLineBreaks(raw));
  if (text.empty()) return;
  std::lock_guard<std::mutex> lock(mu_);
  HideBarLocked();
  const char* color = color_ ? KindColor(kind) : nullptr;
  // Colour each line's text on its own, so that no colour change straddles a
  // line break (the bar rewrites the last line).
  std::string shown;
  if (color == nullptr) {
    shown = text;
  } else {
    size_t begin = 0;
    while (begin <= text.size()) {
      size_t nl = text.find('\n', begin);
      std::string piece = text.substr(begin, nl == std::string::npos ? std::string::npos : nl - begin);
      if (!piece.empty()) shown += std::string(color) + piece + "\033[0m";
      if (nl == std::string::npos) break;
      shown += '\n';
      begin = nl + 1;
    }
  }
  std::fputs(shown.c_str(), out_);
  std::fflush(out_);
  size_t nl = text.rfind('\n');
  if (nl == std::string::npos) {
    partial_ += shown;
  } else {
    std::string rest = text.substr(nl + 1);
    partial_ = rest.empty() ? "" : (color ? std::string(color) + rest + "\033[0m" : rest);
  }
  atLineStart_ = text.back() == '\n';
}

void TextSink::ToErrLocked(const std::string& line) {
  HideBarLocked();
  if (sameTerminal_ && !atLineStart_) {
    // Finish the log's open line so the message starts on a line of its own.
    std::fputc('\n', out_);
    std::fflush(out_);
    atLineStart_ = true;
    partial_.clear();
  }
  std::fputs(platform::EscapeControls(line).c_str(), err_);
  std::fputc('\n', err_);
  std::fflush(err_);
}

void TextSink::Message(const std::string& caption, const std::string& text, const char* answer) {
  std::string cap = Trim(caption);
  if (cap.empty()) cap = kAppName;
  std::string body = Trim(NormalizeLineBreaks(text));
  // Continuation lines line up under the first line's text.
  std::string indented;
  for (char c : body) {
    indented += c;
    if (c == '\n') indented += std::string(cap.size() + 2, ' ');
  }
  std::string line = cap + ": " + indented;
  if (answer != nullptr && std::string(answer) != "ok") line += std::string(" [") + answer + "]";
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked(line);
}

void TextSink::Confirm(const std::string& title, const std::vector<std::string>& lines, bool answer,
                       const char* how) {
  std::string text = Trim(title) + ":";
  for (const std::string& l : lines) {
    text += ' ';
    text += Trim(l);
  }
  text += answer ? " [OK" : " [Cancel";
  text += std::string(", ") + how + "]";
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked(text);
}

void TextSink::Progress(const ProgressSample& s) {
  if (!bar_) return;
  std::lock_guard<std::mutex> lock(mu_);
  std::fputs("\r\033[K", out_);
  std::fputs(RenderBar(s, Width()).c_str(), out_);
  std::fflush(out_);
  barShown_ = true;
}

void TextSink::ProgressEnd() {
  std::lock_guard<std::mutex> lock(mu_);
  HideBarLocked();
}

void TextSink::Note(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked("vantrel-cli: " + text);
}

void TextSink::OpBegin(int index, int count, const std::string& op) {
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked("vantrel-cli: [" + std::to_string(index) + "/" + std::to_string(count) + "] " + EscapeField(op));
}

void TextSink::OpEnd(int index, int count, const std::string& op, const Judgement& j) {
  std::string line =
      "vantrel-cli: [" + std::to_string(index) + "/" + std::to_string(count) + "] " + EscapeField(op) + ": ";
  if (j.status == kExitOk) line += "OK";
  else line += std::string("FAILED (") + ExitStatusName(j.status) + ")" + (j.reason.empty() ? "" : ": " + j.reason);
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked(line);
}

void TextSink::Verify(const std::string& op, bool match, uint32_t checkedBytes, int64_t firstDifference,
                      const std::string& detail) {
  char buf[160];
  const std::string shown = EscapeField(op);
  if (match) {
    std::snprintf(buf, sizeof buf, "verify %s: %u bytes read back, all equal to the file", shown.c_str(),
                  checkedBytes);
  } else if (firstDifference >= 0) {
    std::snprintf(buf, sizeof buf, "verify %s: flash differs from the file at address 0x%llX", shown.c_str(),
                  static_cast<unsigned long long>(firstDifference));
  } else {
    std::snprintf(buf, sizeof buf, "verify %s: failed", shown.c_str());
  }
  std::string line = std::string("vantrel-cli: ") + buf + (detail.empty() ? "" : " (" + EscapeField(detail) + ")");
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked(line);
}

void TextSink::Trace(const std::string& text) {
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked(text);
}

void TextSink::Info(const std::string& path, uint64_t size, uint32_t checksum) {
  // The INFO box's text, on the log so that scripts can read it.
  char buf[96];
  std::snprintf(buf, sizeof buf, "File size : %llu byte\nChecksum : 0x%x\n", static_cast<unsigned long long>(size),
                checksum);
  Log(EscapeField(path) + "\n" + buf, std::nullopt);
}

void TextSink::Finish(int status, int succeeded, int count) {
  std::string line = "vantrel-cli: ";
  if (status == kExitOk) {
    line += count == 1 ? "the operation succeeded" : "all " + std::to_string(count) + " operations succeeded";
  } else {
    line += std::to_string(succeeded) + " of " + std::to_string(count) + " operations succeeded; exit status " +
            std::to_string(status) + " (" + ExitStatusName(status) + ")";
  }
  std::lock_guard<std::mutex> lock(mu_);
  ToErrLocked(line);
}

// ---------------------------------------------------------------- JsonSink

void JsonSink::Emit(const std::string& line) {
  std::lock_guard<std::mutex> lock(mu_);
  std::fputs(line.c_str(), out_);
  std::fputc('\n', out_);
  std::fflush(out_);
}

void JsonSink::Log(const std::string& text, std::optional<LogKind> kind) {
  JsonObject o("log");
  if (!kind) o.Add("kind", "plain");
  else o.Add("kind", static_cast<int>(*kind));
  Emit(o.Add("text", text).Text());
}

void JsonSink::Indicator(const std::string& text, int kind) {
  Emit(JsonObject("indicator").Add("kind", kind).Add("text", text).Text());
}

void JsonSink::Control(int controlId, const std::string& text) {
  Emit(JsonObject("control").Add("id", controlId).Add("text", text).Text());
}

void JsonSink::State(const char* state) { Emit(JsonObject("state").Add("state", state).Text()); }

void JsonSink::Message(const std::string& caption, const std::string& text, const char* answer) {
  std::string cap = Trim(caption);
  Emit(JsonObject("message")
           .Add("caption", cap.empty() ? std::string(kAppName) : cap)
           .Add("text", text)
           .Add("answer", answer != nullptr ? answer : "ok")
           .Text());
}

void JsonSink::Confirm(const std::string& title, const std::vector<std::string>& lines, bool answer,
                       const char* how) {
  Emit(JsonObject("confirm").Add("title", title).Add("lines", lines).Add("answer", answer).Add("by", how).Text());
}

void JsonSink::Dialog(const std::string& dialog, const std::string& answer) {
  JsonObject o("dialog");
  o.Add("dialog", dialog);
  // The save dialog's answer is the file the dump goes to.
  if (dialog == "save") o.AddPath("answer", answer);
  else o.Add("answer", answer);
  Emit(o.Text());
}

void JsonSink::Progress(const ProgressSample& s) {
  JsonObject o("progress");
  o.Add("percent", s.percent).Add("ticks", s.ticks).Add("expected", s.expected).Add("bytes", s.bytes);
  o.Add("bytes_per_second", s.bytesPerSecond);
  if (s.secondsLeft >= 0) o.Add("seconds_left", s.secondsLeft);
  else o.AddNull("seconds_left");
  Emit(o.Text());
}

void JsonSink::Note(const std::string& text) { Emit(JsonObject("note").Add("text", text).Text()); }

void JsonSink::OpBegin(int index, int count, const std::string& op) {
  Emit(JsonObject("operation").Add("phase", "begin").Add("index", index).Add("count", count).Add("op", op).Text());
}

void JsonSink::OpEnd(int index, int count, const std::string& op, const Judgement& j) {
  Emit(JsonObject("operation")
           .Add("phase", "end")
           .Add("index", index)
           .Add("count", count)
           .Add("op", op)
           .Add("ok", j.status == kExitOk)
           .Add("status", j.status)
           .Add("failure", j.status == kExitOk ? "" : ExitStatusName(j.status))
           .Add("reason", j.reason)
           .Add("code", ResultNumber(j.code))
           .AddJson("written", RangesJson(j.written))
           .AddJson("read", RangesJson(j.read))
           .Text());
}

void JsonSink::Verify(const std::string& op, bool match, uint32_t checkedBytes, int64_t firstDifference,
                      const std::string& detail) {
  JsonObject o("verify");
  o.Add("op", op).Add("match", match).Add("bytes", checkedBytes);
  if (firstDifference >= 0) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llX", static_cast<unsigned long long>(firstDifference));
    o.Add("first_difference", buf);
  } else {
    o.AddNull("first_difference");
  }
  Emit(o.Add("detail", detail).Text());
}

void JsonSink::Trace(const std::string& text) { Emit(JsonObject("trace").Add("text", text).Text()); }

void JsonSink::Info(const std::string& path, uint64_t size, uint32_t checksum) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%x", checksum);
  Emit(JsonObject("info").AddPath("file", path).Add("size", size).Add("checksum", buf).Text());
}

void JsonSink::Phase(vantrel::Phase phase, ImageItem item) {
  JsonObject o("phase");
  o.Add("phase", PhaseName(phase));
  if (item != ImageItem::None) o.Add("item", ImageItemName(item));
  Emit(o.Text());
}

void JsonSink::Prompt(vantrel::Prompt prompt) { Emit(JsonObject("prompt").Add("prompt", PromptName(prompt)).Text()); }

void JsonSink::Written(const FlashRange& b) {
  Emit(JsonObject("written")
           .Add("region", FlashRegionName(b.region))
           .Add("address", AddressText(b.address))
           .Add("length", b.length)
           .Text());
}

void JsonSink::FlashId(uint8_t id) {
  char hex[8];
  std::snprintf(hex, sizeof hex, "0x%02X", id);
  Emit(JsonObject("flash").Add("flash_id", hex).Text());
}

void JsonSink::Finish(int status, int succeeded, int count) {
  Emit(JsonObject("exit")
           .Add("status", status)
           .Add("failure", status == kExitOk ? "" : ExitStatusName(status))
           .Add("succeeded", succeeded)
           .Add("count", count)
           .Text());
}

}  // namespace vantrel::cli
