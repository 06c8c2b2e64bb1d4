#include "jobs/GatedConsole.h"

#include "jobs/ControlIds.h"

namespace vantrel {

void GatedConsole::Close() {
  std::lock_guard<std::recursive_mutex> lock(mu_);
  open_.store(false);
}

void GatedConsole::EnableCancelOnce() {
  if (cancelEnabled_.load(std::memory_order_relaxed)) return;
  Forward([&] {
    inner_.EnableControl(ctl::kCancel, true);
    cancelEnabled_.store(true);
  });
}

void GatedConsole::AppendLog(const std::string& text, LogKind kind) {
  Forward([&] { inner_.AppendLog(text, kind); });
}

void GatedConsole::AppendLogPlain(const std::string& text) {
  Forward([&] { inner_.AppendLogPlain(text); });
}

void GatedConsole::SetLinkIndicator(const std::string& text, IndicatorKind kind) {
  Forward([&] { inner_.SetLinkIndicator(text, kind); });
}

void GatedConsole::SetControlText(int controlId, const std::string& text) {
  Forward([&] { inner_.SetControlText(controlId, text); });
}

void GatedConsole::EnableControl(int controlId, bool enabled) {
  Forward([&] {
    inner_.EnableControl(controlId, enabled);
    if (controlId == ctl::kCancel) cancelEnabled_.store(enabled);
  });
}

void GatedConsole::SetProgressRange(int low, int high) {
  Forward([&] { inner_.SetProgressRange(low, high); });
}

void GatedConsole::SetProgressPos(int pos) {
  Forward([&] { inner_.SetProgressPos(pos); });
}

void GatedConsole::ShowItemProgress(int itemButton, ItemFont font) {
  Forward([&] { inner_.ShowItemProgress(itemButton, font); });
}

void GatedConsole::ShowTicks(int ticks, int expected) {
  Forward([&] { inner_.ShowTicks(ticks, expected); });
}

void GatedConsole::ShowPercent(int percent) {
  Forward([&] { inner_.ShowPercent(percent); });
}

void GatedConsole::ShowPhase(Phase phase, ImageItem item) {
  Forward([&] { inner_.ShowPhase(phase, item); });
}

void GatedConsole::ShowPrompt(Prompt prompt) {
  Forward([&] { inner_.ShowPrompt(prompt); });
}

void GatedConsole::ShowWrittenBlock(const FlashRange& block) {
  Forward([&] { inner_.ShowWrittenBlock(block); });
}

void GatedConsole::ShowFlashId(uint8_t id) {
  Forward([&] { inner_.ShowFlashId(id); });
}

// Every console state disables Cancel.
void GatedConsole::EnterDisconnectedState() {
  Forward([&] {
    inner_.EnterDisconnectedState();
    cancelEnabled_.store(false);
  });
}

void GatedConsole::EnterReadyState() {
  Forward([&] {
    inner_.EnterReadyState();
    cancelEnabled_.store(false);
  });
}

void GatedConsole::EnterBusyState() {
  Forward([&] {
    inner_.EnterBusyState();
    cancelEnabled_.store(false);
  });
}

void GatedConsole::ControlsToRecord() {
  Forward([&] { inner_.ControlsToRecord(); });
}

void GatedConsole::RecordToControls() {
  Forward([&] { inner_.RecordToControls(); });
}

MsgAnswer GatedConsole::MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons) {
  if (!IsOpen()) return buttons == MsgButtons::Ok ? MsgAnswer::Ok : MsgAnswer::Cancel;
  return inner_.MessageBox(text, caption, buttons);
}

bool GatedConsole::Confirm(const std::string& title, const std::vector<std::string>& lines) {
  if (!IsOpen()) return false;
  return inner_.Confirm(title, lines);
}

std::optional<std::string> GatedConsole::SaveFileDialog(const std::string& proposedName,
                                                        const std::string& filter) {
  if (!IsOpen()) return std::nullopt;
  return inner_.SaveFileDialog(proposedName, filter);
}

std::optional<DumpArea> GatedConsole::NorDumpDialog() {
  if (!IsOpen()) return std::nullopt;
  return inner_.NorDumpDialog();
}

std::optional<DumpArea> GatedConsole::NandDumpDialog() {
  if (!IsOpen()) return std::nullopt;
  return inner_.NandDumpDialog();
}

}  // namespace vantrel
