#include "cli/Outcome.h"

#include <cstdlib>
#include <cstring>

#include "cli/ExitStatus.h"
#include "jobs/Notices.h"
#include "link/ResultCodes.h"

namespace vantrel::cli {

namespace {

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }
bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

}  // namespace

int StatusOf(FailureKind kind) {
  switch (kind) {
    case FailureKind::None: return kExitOk;
    case FailureKind::Usage: return kExitUsage;
    case FailureKind::Port: return kExitPort;
    case FailureKind::Handset: return kExitHandset;
    case FailureKind::File: return kExitFile;
    case FailureKind::Verify: return kExitVerify;
    case FailureKind::NotConfirmed: return kExitNotConfirmed;
    case FailureKind::Interrupted: return kExitInterrupted;
    case FailureKind::Other: return kExitFailure;
  }
  return kExitFailure;
}

MessageMeaning ClassifyMessage(const std::string& raw) {
  const std::string t = TrimBlanks(raw);
  switch (ClassifyNotice(t)) {
    case NoticeClass::Success: return {MessageClass::Success, FailureKind::None};
    case NoticeClass::Neutral: return {MessageClass::Neutral, FailureKind::None};
    case NoticeClass::Failure: break;
  }

  static const char* const kUsage[] = {"Please select download item", "Select a comm type", "Only uart mode available",
                                       "BaudRate Error", "Dump range invalid", "start address -> PROTECT AREA",
                                       "Wrong BaudRate", "Invalid Env", "Wrong value"};
  for (const char* s : kUsage)
    if (StartsWith(t, s)) return {MessageClass::Failure, FailureKind::Usage};

  static const char* const kFile[] = {"Check the file location", "Verify a path of", "File size error",
                                      "Image file size too big", "Please check vlf file", "Internal Error! (file creation)",
                                      "File select canceled", "Image File Size Error", "File open failed",
                                      "Fail to open OGM file!", "File size must be"};
  for (const char* s : kFile)
    if (StartsWith(t, s)) return {MessageClass::Failure, FailureKind::File};
  if (Contains(t, "not existed")) return {MessageClass::Failure, FailureKind::File};
  // A job's failure box carries the result text: file codes are the operator's files.
  for (uint32_t code = 201; code <= 204; ++code)
    if (StartsWith(t, "Error ") && Contains(t, ResultText(code))) return {MessageClass::Failure, FailureKind::File};
  if (t == "Comport error" || Contains(t, ResultText(210))) return {MessageClass::Failure, FailureKind::Port};
  return {MessageClass::Failure, FailureKind::Handset};
}

Expectation ExpectationFor(OpKind kind, int item) {
  using E = Expectation;
  switch (kind) {
    case OpKind::Connect: return {E::LogStart, "Available", ""};
    case OpKind::AutoAll: return {E::Box, "All Download Finished", ""};
    case OpKind::Download:
      if (item == kItemAll || item == kItemRsrc1Fs) return {E::Box, "All Download Finished", ""};
      return {E::Box, "Download Finished", ""};
    case OpKind::Bootloader: return {E::Box, "Download Finished", ""};
    case OpKind::EraseAll:
    case OpKind::EraseBoot: return {E::Box, "All Erase complete", ""};
    case OpKind::NandDump:
    case OpKind::NandErase: return {E::Box, "DUMP Complete", ""};
    case OpKind::NorDump: return {E::Box, "DUMP complete", ""};
    case OpKind::NorFormat: return {E::Box, "VLF Format complete", ""};
    case OpKind::VlfFormat: return {E::LogOk, "", "Now NAND VLF Format Setting"};
    case OpKind::PzlFormat: return {E::LogOk, "", "Now NAND PZL Format Setting"};
    case OpKind::RawReadback: return {E::Box, "END", ""};
    case OpKind::Info:
    case OpKind::Disconnect: return {E::Nothing, "", ""};
  }
  return {};
}

bool ParseBlockLine(const std::string& text, WrittenRange& out) {
  size_t at = text.find("0 x ");
  size_t dl = text.find("Download");
  if (at == std::string::npos || dl == std::string::npos || dl < at) return false;
  const char* p = text.c_str() + at + 4;
  char* end = nullptr;
  unsigned long addr = std::strtoul(p, &end, 16);
  if (end == p) return false;
  const char* q = text.c_str() + dl + std::strlen("Download");
  unsigned long len = std::strtoul(q, &end, 10);
  if (end == q || !Contains(std::string(end), "bytes")) return false;
  out.address = static_cast<uint32_t>(addr);
  out.length = static_cast<uint32_t>(len);
  return true;
}

void OutcomeTracker::Begin(const Expectation& expect) {
  std::lock_guard<std::mutex> lock(mu_);
  expect_ = expect;
  done_ = expect.type == Expectation::Nothing;
  hard_ = false;
  firstKind_ = FailureKind::None;
  firstReason_.clear();
  hardReason_.clear();
  lastPlain_.clear();
  lastAny_.clear();
  section_.clear();
  sections_.clear();
  written_.clear();
}

void OutcomeTracker::SignalLocked(FailureKind kind, const std::string& reason, bool hard) {
  if (firstKind_ == FailureKind::None) {
    firstKind_ = kind;
    firstReason_ = reason;
  }
  if (hard && !hard_) {
    hard_ = true;
    hardReason_ = reason;
  }
}

void OutcomeTracker::OnLog(const std::string& text, std::optional<LogKind> kind) {
  std::lock_guard<std::mutex> lock(mu_);
  const std::string t = TrimBlanks(text);
  if (!kind) {
    WrittenRange r;
    if (ParseBlockLine(text, r)) {
      r.section = section_;
      written_.push_back(r);
    }
  }
  if (kind == LogKind::BlueNote || kind == LogKind::Blue) {
    if (expect_.type == Expectation::LogStart && StartsWith(t, expect_.text.c_str())) done_ = true;
    if (expect_.type == Expectation::LogOk && t == "OK" && Contains(lastPlain_, expect_.after.c_str())) done_ = true;
  }
  if (kind == LogKind::Red || kind == LogKind::Red2) {
    // A job's headline starts a section: the blocks below it come from its file.
    if (StartsWith(t, "* NAND : ") || StartsWith(t, "* NOR : ") || StartsWith(t, "* Boot2 Download")) {
      section_ = t.substr(2);
      sections_.push_back(section_);
    }
    // A red FAIL after a step: the step named by the line before it failed.
    // An unknown flash type is logged the same way but does not stop the job.
    if (t == "FAIL" || t == "Fail") {
      bool typeCheck = Contains(lastPlain_, "Flash type Checking") || Contains(lastPlain_, "Flash Type Checking");
      bool portOpen = Contains(lastAny_, "Open Comport") || Contains(lastAny_, "Try to open COM");
      if (!typeCheck) {
        std::string step = TrimBlanks(lastAny_);
        while (!step.empty() && (step.back() == '>' || step.back() == ' ' || step.back() == '\t')) step.pop_back();
        SignalLocked(portOpen ? FailureKind::Port : FailureKind::Handset,
                     (step.empty() ? std::string("a step") : step) + ": FAIL", false);
      }
    }
  }
  if (!t.empty()) {
    lastAny_ = text;
    if (!kind) lastPlain_ = text;
  }
}

void OutcomeTracker::OnMessage(const std::string& text) {
  MessageMeaning m = ClassifyMessage(text);
  std::lock_guard<std::mutex> lock(mu_);
  if (m.cls == MessageClass::Success) {
    if (expect_.type == Expectation::Box && TrimBlanks(text) == expect_.text) done_ = true;
  } else if (m.cls == MessageClass::Failure) {
    SignalLocked(m.kind, TrimBlanks(text), true);
  }
}

void OutcomeTracker::Fail(FailureKind kind, const std::string& reason) {
  std::lock_guard<std::mutex> lock(mu_);
  SignalLocked(kind, reason, true);
}

bool OutcomeTracker::Failed() const {
  std::lock_guard<std::mutex> lock(mu_);
  return hard_;
}

Judgement OutcomeTracker::Judge() const {
  std::lock_guard<std::mutex> lock(mu_);
  if (!hard_ && done_) return {kExitOk, ""};
  // The first sign names the kind (a port that did not open is followed by a
  // generic box); the first box, where there is one, says it in the tool's words.
  if (firstKind_ != FailureKind::None) return {StatusOf(firstKind_), hard_ ? hardReason_ : firstReason_};
  return {kExitHandset, "the operation ended without its completion notice"};
}

std::vector<std::string> OutcomeTracker::Sections() const {
  std::lock_guard<std::mutex> lock(mu_);
  return sections_;
}

std::vector<WrittenRange> OutcomeTracker::Written() const {
  std::lock_guard<std::mutex> lock(mu_);
  return written_;
}

}  // namespace vantrel::cli
