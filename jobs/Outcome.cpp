#include "jobs/Outcome.h"

#include <cstdio>

namespace vantrel {

const char* FailureKindName(FailureKind kind) {
  switch (kind) {
    case FailureKind::None: return "";
    case FailureKind::Usage: return "usage";
    case FailureKind::File: return "file";
    case FailureKind::Port: return "port";
    case FailureKind::Handset: return "handset";
    case FailureKind::NotConfirmed: return "not-confirmed";
    case FailureKind::Interrupted: return "interrupted";
    case FailureKind::Verify: return "verify";
  }
  return "";
}

FailureKind FailureKindOf(Result rc) {
  if (rc >= Result::FileOpen && rc <= Result::FileWrite) return FailureKind::File;
  if (rc == Result::ComPort) return FailureKind::Port;
  return FailureKind::Handset;
}

const char* FlashRegionName(FlashRegion region) { return region == FlashRegion::Nor ? "NOR" : "NAND"; }

const char* ImageItemName(ImageItem item) {
  switch (item) {
    case ImageItem::None: return "none";
    case ImageItem::Imgset: return "imgset";
    case ImageItem::Calset: return "calset";
    case ImageItem::Rsrc1: return "rsrc1";
    case ImageItem::Rsrc2: return "rsrc2";
    case ImageItem::FileSystem: return "file-system";
    case ImageItem::EntireFlash: return "entire-flash";
    case ImageItem::Manual: return "manual";
    case ImageItem::Boot2: return "boot2";
    case ImageItem::BootStage: return "boot-stage";
  }
  return "none";
}

const char* PromptName(Prompt prompt) {
  switch (prompt) {
    case Prompt::None: return "none";
    case Prompt::SwitchOn: return "switch-on";
    case Prompt::PowerCycle: return "power-cycle";
  }
  return "none";
}

const char* PhaseName(Phase phase) {
  switch (phase) {
    case Phase::Connecting: return "connecting";
    case Phase::LoaderUpload: return "loader-upload";
    case Phase::Download: return "download";
    case Phase::Erase: return "erase";
    case Phase::Format: return "format";
    case Phase::Dump: return "dump";
    case Phase::Verify: return "verify";
  }
  return "";
}

std::vector<FlashRange> MergeRanges(const std::vector<FlashRange>& ranges) {
  std::vector<FlashRange> out;
  for (const FlashRange& r : ranges) {
    if (!out.empty()) {
      FlashRange& last = out.back();
      const uint64_t lastEnd = uint64_t{last.address} + last.length;
      const uint64_t end = uint64_t{r.address} + r.length;
      // A block sent again (a resend) lands inside the range it extends.
      if (last.region == r.region && r.address >= last.address && r.address <= lastEnd) {
        if (end > lastEnd) last.length = static_cast<uint32_t>(end - last.address);
        continue;
      }
    }
    out.push_back(r);
  }
  return out;
}

std::string TrimBlanks(const std::string& s) {
  const size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return "";
  const size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string AddressText(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%X", address);
  return text;
}

std::vector<FlashRange> OperationOutcome::Written() const {
  std::vector<FlashRange> all;
  for (const ImageTransfer& t : transfers) all.insert(all.end(), t.blocks.begin(), t.blocks.end());
  return all;
}

std::string FailureReason(const OperationOutcome& o) {
  if (o.Succeeded()) return "";
  if (o.failure == FailureKind::None) return "the operation ended without its completion notice";
  std::string reason = TrimBlanks(o.message.text);
  if (reason.empty()) {
    switch (o.failure) {
      case FailureKind::Interrupted: reason = "interrupted"; break;
      case FailureKind::NotConfirmed: reason = "not confirmed"; break;
      default: reason = o.result != Result::Ok ? ResultText(o.result) : FailureKindName(o.failure); break;
    }
  }
  if (!o.portProblem.empty()) reason += " (" + o.portProblem + ")";
  return reason;
}

void OutcomeLog::Reset() {
  std::lock_guard<std::mutex> lock(mu_);
  o_ = OperationOutcome{};
  failureWorded_ = false;
}

void OutcomeLog::Fail(FailureKind kind, Result rc, const std::string& portProblem) {
  std::lock_guard<std::mutex> lock(mu_);
  if (o_.failure != FailureKind::None || kind == FailureKind::None) return;
  o_.failure = kind;
  o_.result = rc;
  o_.portProblem = portProblem;
  // A notice shown before the failure does not speak for it.
  if (!failureWorded_) o_.message = {};
}

void OutcomeLog::FailWithMessage(FailureKind kind, Result rc, const OperatorMessage& message) {
  Fail(kind, rc);
  std::lock_guard<std::mutex> lock(mu_);
  if (failureWorded_) return;
  failureWorded_ = true;
  o_.message = message;
}

void OutcomeLog::Notice(const OperatorMessage& message) {
  std::lock_guard<std::mutex> lock(mu_);
  if (o_.failure == FailureKind::None) o_.message = message;
}

void OutcomeLog::Complete() {
  std::lock_guard<std::mutex> lock(mu_);
  o_.completed = true;
}

void OutcomeLog::Interrupt() {
  std::lock_guard<std::mutex> lock(mu_);
  o_.failure = FailureKind::Interrupted;
}

void OutcomeLog::BeginTransfer(ImageItem item, FlashRegion region) {
  std::lock_guard<std::mutex> lock(mu_);
  o_.transfers.push_back({item, region, {}});
}

void OutcomeLog::AddWritten(uint32_t address, uint32_t length) {
  std::lock_guard<std::mutex> lock(mu_);
  if (o_.transfers.empty()) o_.transfers.push_back({});
  ImageTransfer& t = o_.transfers.back();
  t.blocks.push_back({t.region, address, length});
}

void OutcomeLog::AddRead(const FlashRange& range) {
  std::lock_guard<std::mutex> lock(mu_);
  o_.read.push_back(range);
}

FlashRegion OutcomeLog::Region() const {
  std::lock_guard<std::mutex> lock(mu_);
  return o_.transfers.empty() ? FlashRegion::Nand : o_.transfers.back().region;
}

OperationOutcome OutcomeLog::Snapshot() const {
  std::lock_guard<std::mutex> lock(mu_);
  return o_;
}

}  // namespace vantrel
