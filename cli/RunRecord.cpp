#include "cli/RunRecord.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "cli/ExitStatus.h"
#include "cli/Runner.h"
#include "history/History.h"
#include "jobs/Console.h"
#include "jobs/FileInfo.h"
#include "link/PortList.h"
#include "payloads/Payloads.h"

namespace vantrel::cli {

std::string AdapterSerialOf(const std::string& device) {
  if (device.empty()) return "";
  char* real = ::realpath(device.c_str(), nullptr);
  const std::string node = real != nullptr ? real : device;
  std::free(real);
  for (const SerialPortInfo& port : MakeUdevPortLister()->List()) {
    char* p = ::realpath(port.path.c_str(), nullptr);
    const bool same = p != nullptr && node == p;
    std::free(p);
    if (same) return port.usb ? port.serial : "";
  }
  return "";
}

// Which handset programs this run sent: the folder they came from, or the
// built-in set (stand-ins in a build without the real files).
std::string PayloadSetText() {
  const PayloadSet& set = ActivePayloads();
  if (set.From() == PayloadSet::Source::Folder) return set.Folder();
  return set.StandIns() ? "built-in stand-ins" : "built-in";
}

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
  if (parsed != nullptr) {
    // Sizes and sums as the files were when the operation began: what it sent.
    for (const InputFile& f : OperationInputs(o_, *parsed)) {
      nlohmann::json file = {{"role", f.what}, {"path", f.path}};
      if (std::optional<FileSummary> sum = SummariseFile(f.path)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08X", sum->sum);
        file["size"] = sum->length;
        file["checksum"] = hex;
      }
      files.push_back(std::move(file));
    }
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    ops_.push_back({{"op", op}, {"files", std::move(files)}, {"result", "not finished"}});
  }
  inner_.OpBegin(index, count, op);
}

void RecordingSink::OpEnd(int index, int count, const std::string& op, int status, const std::string& reason) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!ops_.empty()) {
      ops_.back()["result"] = ExitStatusName(status);
      if (!reason.empty()) ops_.back()["reason"] = reason;
    }
    if (status != kExitOk && reason_.empty()) reason_ = op + ": " + reason;
  }
  inner_.OpEnd(index, count, op, status, reason);
}

nlohmann::json RecordingSink::Record(int status) const {
  std::lock_guard<std::mutex> lock(mu_);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
  std::string port = o_.port, device;
  PortChoice choice;
  std::string ignored;
  if (ChoosePort(o_.port, choice, ignored)) {
    port = choice.comName;
    device = choice.device;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
  nlohmann::json r = {
      {"when", history::UtcText(when_)},
      {"host", host},
      {"port", port},
      {"device", device},
      {"adapter_serial", nullptr},
      {"flash_id", nullptr},
      {"operations", ops_},
      {"result", ExitStatusName(status)},
      {"status", status},
      {"reason", status == kExitOk ? "" : (reason_.empty() ? lastNote_ : reason_)},
      {"seconds", static_cast<double>(static_cast<int64_t>(seconds * 1000)) / 1000},
      {"tool_version", kWindowTitleSuffix},
      {"payload_set", PayloadSetText()},
  };
  if (std::string serial = AdapterSerialOf(device); !serial.empty()) r["adapter_serial"] = serial;
  // The loader's answer to the flash-type query, when a loader ran in this run.
  if (uint8_t id = flashType_; id != 0) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", id);
    r["flash_id"] = hex;
  }
  return r;
}

void RecordingSink::FlashType(uint8_t deviceId) {
  std::lock_guard<std::mutex> lock(mu_);
  flashType_ = deviceId;
}

void RecordingSink::Finish(int status, int succeeded, int count) {
  bool began;
  {
    std::lock_guard<std::mutex> lock(mu_);
    began = !ops_.empty();
  }
  // A command line refused before it reached a port leaves no record.
  if (!path_.empty() && (began || status != kExitUsage)) {
    if (int rc = history::AppendRecord(Record(status), path_); rc != 0)
      inner_.Note("cannot add this run to the station log " + path_ + ": " + std::strerror(rc));
  }
  inner_.Finish(status, succeeded, count);
}

}  // namespace vantrel::cli
