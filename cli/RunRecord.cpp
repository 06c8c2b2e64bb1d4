#include "cli/RunRecord.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/ExitStatus.h"
#include "cli/Runner.h"
#include "history/History.h"
#include "jobs/RunRecord.h"
#include "link/PortList.h"

namespace vantrel::cli {

RecordingSink::RecordingSink(EventSink& inner, const Options& options, std::string historyPath)
    : inner_(inner), o_(options), path_(std::move(historyPath)), when_(std::time(nullptr)),
      start_(std::chrono::steady_clock::now()) {}

void RecordingSink::Note(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    lastNote_ = text;
  }
  inner_.Note(text);
}

void RecordingSink::OpBegin(int index, int count, const std::string& op) {
  const Operation* parsed = index >= 1 && index <= static_cast<int>(o_.ops.size()) ? &o_.ops[index - 1] : nullptr;
  nlohmann::json files = nlohmann::json::array();
  // Sizes and sums as the files were when the operation began: what it sent.
  if (parsed != nullptr)
    for (const InputFile& f : OperationInputs(o_, *parsed)) files.push_back(FileEntry(f.what, f.path));
  {
    std::lock_guard<std::mutex> lock(mu_);
    ops_.push_back({{"op", op}, {"files", std::move(files)}, {"result", "not finished"}});
  }
  inner_.OpBegin(index, count, op);
}

void RecordingSink::OpEnd(int index, int count, const std::string& op, const Judgement& j) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!ops_.empty()) {
      nlohmann::json& entry = ops_.back();
      entry["result"] = ExitStatusName(j.status);
      if (!j.reason.empty()) entry["reason"] = j.reason;
      entry["written"] = RangesJson(j.written);
      entry["read"] = RangesJson(j.read);
    }
    if (j.status != kExitOk && reason_.empty()) reason_ = op + ": " + j.reason;
  }
  inner_.OpEnd(index, count, op, j);
}

nlohmann::json RecordingSink::Record(int status) const {
  std::lock_guard<std::mutex> lock(mu_);
  RunFacts facts;
  facts.when = when_;
  facts.port = o_.port;
  PortChoice choice;
  std::string ignored;
  if (ChoosePort(o_.port, choice, ignored)) {
    facts.port = choice.comName;
    facts.device = choice.device;
  }
  facts.adapterSerial = AdapterSerialOf(facts.device);
  facts.operations = ops_;
  facts.result = ExitStatusName(status);
  facts.status = status;
  facts.reason = status == kExitOk ? "" : (reason_.empty() ? lastNote_ : reason_);
  facts.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  facts.flashId = flashType_;
  return BuildRunRecord(facts);
}

void RecordingSink::FlashId(uint8_t id) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    flashType_ = id;
  }
  inner_.FlashId(id);
}

void RecordingSink::Finish(int status, int succeeded, int count) {
  bool began;
  {
    std::lock_guard<std::mutex> lock(mu_);
    began = !ops_.empty();
  }
  // A command line refused before it reached a port leaves no record.
  if (!path_.empty() && (began || status != kExitUsage)) {
    if (platform::FileError e = history::AppendRecord(Record(status), path_))
      inner_.Note("cannot add this run to the station log " + path_ + ": " + platform::FileErrorText(e));
  }
  inner_.Finish(status, succeeded, count);
}

}  // namespace vantrel::cli
