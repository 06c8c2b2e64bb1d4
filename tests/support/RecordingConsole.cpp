#include "tests/support/RecordingConsole.h"

#include <sstream>

#include "jobs/ControlIds.h"

namespace vantrel::test {

namespace {

constexpr int kBoxNorId = 1118;
constexpr int kBoxFlashId = 1119;

int IndicatorBox(int kind) {
  if (kind == 1 || kind == 3) return kBoxNorId;
  if (kind == 2 || kind == 4) return kBoxFlashId;
  return 0;
}

bool IsLogText(const ConsoleCall& c) {
  return c.type == CallType::LogPlain || (c.type == CallType::Log && c.kind != static_cast<int>(LogKind::Scratch));
}

std::string Escaped(const std::string& s) {
  std::string out;
  for (char ch : s) {
    switch (ch) {
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += ch;
    }
  }
  return out;
}

}  // namespace

const char* CallTypeName(CallType type) {
  switch (type) {
    case CallType::Log: return "Log";
    case CallType::LogPlain: return "LogPlain";
    case CallType::LinkIndicator: return "LinkIndicator";
    case CallType::ControlText: return "ControlText";
    case CallType::Enable: return "Enable";
    case CallType::ProgressRange: return "ProgressRange";
    case CallType::ProgressPos: return "ProgressPos";
    case CallType::ItemFont: return "ItemFont";
    case CallType::Disconnected: return "Disconnected";
    case CallType::Ready: return "Ready";
    case CallType::Busy: return "Busy";
    case CallType::ControlsToRecord: return "ControlsToRecord";
    case CallType::RecordToControls: return "RecordToControls";
    case CallType::MessageBox: return "MessageBox";
    case CallType::Confirm: return "Confirm";
    case CallType::SaveDialog: return "SaveDialog";
    case CallType::NorDumpDialog: return "NorDumpDialog";
    case CallType::NandDumpDialog: return "NandDumpDialog";
  }
  return "?";
}

std::string ConsoleCall::Describe() const {
  std::ostringstream os;
  os << CallTypeName(type);
  switch (type) {
    case CallType::Log:
    case CallType::LinkIndicator:
      os << "(" << kind << ") \"" << Escaped(text) << "\"";
      break;
    case CallType::LogPlain:
      os << " \"" << Escaped(text) << "\"";
      break;
    case CallType::ControlText:
      os << " " << id << " \"" << Escaped(text) << "\"";
      break;
    case CallType::Enable:
    case CallType::ItemFont:
      os << " " << id << " = " << value;
      break;
    case CallType::ProgressRange:
      os << " " << value << ".." << value2;
      break;
    case CallType::ProgressPos:
      os << " " << value;
      break;
    case CallType::MessageBox:
      os << " [" << ShownCaption() << "] \"" << Escaped(text) << "\"";
      break;
    case CallType::Confirm:
      os << " [" << text << "]";
      for (const auto& l : lines) os << " \"" << l << "\"";
      break;
    case CallType::SaveDialog:
      os << " \"" << text << "\"";
      break;
    default:
      break;
  }
  return os.str();
}

void RecordingConsole::Record(ConsoleCall call) {
  Hook hook;
  {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back(call);
    hook = hook_;
  }
  cv_.notify_all();
  if (hook) hook(call);
}

void RecordingConsole::AppendLog(const std::string& text, LogKind kind) {
  Record({.type = CallType::Log, .text = text, .kind = static_cast<int>(kind)});
}

void RecordingConsole::AppendLogPlain(const std::string& text) {
  Record({.type = CallType::LogPlain, .text = text, .kind = -1});
}

void RecordingConsole::SetLinkIndicator(const std::string& text, IndicatorKind kind) {
  Record({.type = CallType::LinkIndicator, .text = text, .kind = static_cast<int>(kind), .id = IndicatorBox(static_cast<int>(kind))});
}

void RecordingConsole::SetControlText(int controlId, const std::string& text) {
  Record({.type = CallType::ControlText, .text = text, .id = controlId});
}

void RecordingConsole::EnableControl(int controlId, bool enabled) {
  Record({.type = CallType::Enable, .id = controlId, .value = enabled ? 1 : 0});
}

void RecordingConsole::SetProgressRange(int low, int high) {
  Record({.type = CallType::ProgressRange, .value = low, .value2 = high});
}

void RecordingConsole::SetProgressPos(int pos) { Record({.type = CallType::ProgressPos, .value = pos}); }

void RecordingConsole::ShowItemProgress(int itemButton, ItemFont font) {
  Record({.type = CallType::ItemFont, .id = itemButton, .value = static_cast<int>(font)});
}

void RecordingConsole::ShowTicks(int ticks, int expected) { SetControlText(ctl::kTickCount, TickText(ticks, expected)); }

void RecordingConsole::ShowPercent(int percent) { SetControlText(ctl::kStatusCaption, std::to_string(percent)); }

void RecordingConsole::EnterDisconnectedState() { Record({.type = CallType::Disconnected}); }
void RecordingConsole::EnterReadyState() { Record({.type = CallType::Ready}); }
void RecordingConsole::EnterBusyState() { Record({.type = CallType::Busy}); }
void RecordingConsole::ControlsToRecord() { Record({.type = CallType::ControlsToRecord}); }
void RecordingConsole::RecordToControls() { Record({.type = CallType::RecordToControls}); }

MsgAnswer RecordingConsole::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) {
  Record({.type = CallType::MessageBox, .text = text, .caption = caption, .kind = static_cast<int>(buttons)});
  std::lock_guard<std::mutex> lock(mu_);
  if (answers_.empty()) return MsgAnswer::Ok;
  MsgAnswer a = answers_.front();
  answers_.pop_front();
  return a;
}

bool RecordingConsole::Confirm(const std::string& title, const std::vector<std::string>& lines) {
  Record({.type = CallType::Confirm, .text = title, .lines = lines});
  std::lock_guard<std::mutex> lock(mu_);
  if (confirms_.empty()) return true;
  bool ok = confirms_.front();
  confirms_.pop_front();
  return ok;
}

std::optional<std::string> RecordingConsole::SaveFileDialog(const std::string& proposedName,
                                                            const std::string& filter) {
  Record({.type = CallType::SaveDialog, .text = proposedName, .caption = filter});
  std::lock_guard<std::mutex> lock(mu_);
  if (saves_.empty()) return defaultSave_;
  auto p = saves_.front();
  saves_.pop_front();
  return p;
}

std::optional<DumpArea> RecordingConsole::NorDumpDialog() {
  Record({.type = CallType::NorDumpDialog});
  std::lock_guard<std::mutex> lock(mu_);
  if (norAreas_.empty()) return std::nullopt;
  auto a = norAreas_.front();
  norAreas_.pop_front();
  return a;
}

std::optional<DumpArea> RecordingConsole::NandDumpDialog() {
  Record({.type = CallType::NandDumpDialog});
  std::lock_guard<std::mutex> lock(mu_);
  if (nandAreas_.empty()) return std::nullopt;
  auto a = nandAreas_.front();
  nandAreas_.pop_front();
  return a;
}

void RecordingConsole::QueueMessageAnswer(MsgAnswer answer) {
  std::lock_guard<std::mutex> lock(mu_);
  answers_.push_back(answer);
}

void RecordingConsole::QueueConfirm(bool ok) {
  std::lock_guard<std::mutex> lock(mu_);
  confirms_.push_back(ok);
}

void RecordingConsole::QueueSaveFile(std::optional<std::string> path) {
  std::lock_guard<std::mutex> lock(mu_);
  saves_.push_back(std::move(path));
}

void RecordingConsole::SetDefaultSavePath(std::optional<std::string> path) {
  std::lock_guard<std::mutex> lock(mu_);
  defaultSave_ = std::move(path);
}

void RecordingConsole::QueueNorDumpArea(std::optional<DumpArea> area) {
  std::lock_guard<std::mutex> lock(mu_);
  norAreas_.push_back(area);
}

void RecordingConsole::QueueNandDumpArea(std::optional<DumpArea> area) {
  std::lock_guard<std::mutex> lock(mu_);
  nandAreas_.push_back(area);
}

void RecordingConsole::SetHook(Hook hook) {
  std::lock_guard<std::mutex> lock(mu_);
  hook_ = std::move(hook);
}

std::vector<ConsoleCall> RecordingConsole::Calls() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_;
}

std::vector<ConsoleCall> RecordingConsole::Calls(CallType type) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<ConsoleCall> out;
  for (const auto& c : calls_)
    if (c.type == type) out.push_back(c);
  return out;
}

size_t RecordingConsole::Count() const {
  std::lock_guard<std::mutex> lock(mu_);
  return calls_.size();
}

std::vector<ConsoleCall> RecordingConsole::CallsSince(size_t mark) const {
  std::lock_guard<std::mutex> lock(mu_);
  if (mark >= calls_.size()) return {};
  return std::vector<ConsoleCall>(calls_.begin() + static_cast<long>(mark), calls_.end());
}

std::string RecordingConsole::Log() const { return LogSince(0); }

std::string RecordingConsole::LogSince(size_t mark) const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out;
  for (size_t i = mark; i < calls_.size(); ++i)
    if (IsLogText(calls_[i])) out += calls_[i].text;
  return out;
}

std::vector<std::pair<int, std::string>> RecordingConsole::LogEntries() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::pair<int, std::string>> out;
  for (const auto& c : calls_)
    if (c.type == CallType::Log || c.type == CallType::LogPlain) out.emplace_back(c.kind, c.text);
  return out;
}

std::vector<ConsoleCall> RecordingConsole::MessageBoxes() const { return Calls(CallType::MessageBox); }

std::vector<std::string> RecordingConsole::MessageTexts() const {
  std::vector<std::string> out;
  for (const auto& c : Calls(CallType::MessageBox)) out.push_back(c.text);
  return out;
}

std::vector<std::string> RecordingConsole::States() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::vector<std::string> out;
  for (const auto& c : calls_)
    if (c.type == CallType::Disconnected || c.type == CallType::Ready || c.type == CallType::Busy)
      out.push_back(CallTypeName(c.type));
  return out;
}

std::string RecordingConsole::LastState() const {
  auto s = States();
  return s.empty() ? std::string() : s.back();
}

std::string RecordingConsole::ControlText(int controlId) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->type == CallType::ControlText && it->id == controlId) return it->text;
  return {};
}

std::optional<bool> RecordingConsole::Enabled(int controlId) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->type == CallType::Enable && it->id == controlId) return it->value != 0;
  return std::nullopt;
}

int RecordingConsole::EnableCount(int controlId, bool enabled) const {
  std::lock_guard<std::mutex> lock(mu_);
  int n = 0;
  for (const auto& c : calls_)
    if (c.type == CallType::Enable && c.id == controlId && (c.value != 0) == enabled) ++n;
  return n;
}

std::optional<int> RecordingConsole::ProgressPos() const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->type == CallType::ProgressPos) return it->value;
  return std::nullopt;
}

std::optional<ItemFont> RecordingConsole::Font(int buttonId) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it)
    if (it->type == CallType::ItemFont && it->id == buttonId) return static_cast<ItemFont>(it->value);
  return std::nullopt;
}

std::string RecordingConsole::IndicatorText(int box) const {
  std::lock_guard<std::mutex> lock(mu_);
  for (auto it = calls_.rbegin(); it != calls_.rend(); ++it) {
    if (it->type == CallType::LinkIndicator && it->id == box) return it->text;
    if (it->type == CallType::ControlText && it->id == box) return it->text;
  }
  return {};
}

std::string RecordingConsole::Dump() const {
  std::lock_guard<std::mutex> lock(mu_);
  std::string out;
  for (const auto& c : calls_) out += c.Describe() + "\n";
  return out;
}

void RecordingConsole::Clear() {
  std::lock_guard<std::mutex> lock(mu_);
  calls_.clear();
}

bool RecordingConsole::WaitFor(const std::function<bool(const std::vector<ConsoleCall>&)>& pred,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mu_);
  return cv_.wait_for(lock, timeout, [&] { return pred(calls_); });
}

bool RecordingConsole::WaitForCall(CallType type, size_t mark, std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&](const std::vector<ConsoleCall>& calls) {
        for (size_t i = mark; i < calls.size(); ++i)
          if (calls[i].type == type) return true;
        return false;
      },
      timeout);
}

bool RecordingConsole::WaitForLog(const std::string& text, size_t mark, std::chrono::milliseconds timeout) const {
  return WaitFor(
      [&](const std::vector<ConsoleCall>& calls) {
        std::string log;
        for (size_t i = mark; i < calls.size(); ++i)
          if (IsLogText(calls[i])) log += calls[i].text;
        return log.find(text) != std::string::npos;
      },
      timeout);
}

}  // namespace vantrel::test
