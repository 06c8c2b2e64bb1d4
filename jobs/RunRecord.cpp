#include "jobs/RunRecord.h"

#include <cstdio>

#include "history/History.h"
#include "jobs/Console.h"
#include "jobs/DownloadChecks.h"
#include "jobs/FileInfo.h"
#include "jobs/JobState.h"
#include "payloads/Payloads.h"
#include "platform/Host.h"

namespace vantrel {

// Which handset programs this run sent: the folder they came from, or the
// built-in set (stand-ins in a build without the real files). A refused
// folder sent nothing, and the record says which folder that was.
std::string PayloadSetText() {
  const PayloadSet& set = ActivePayloads();
  if (set.From() == PayloadSet::Source::Folder) return set.Folder();
  if (set.From() == PayloadSet::Source::Refused) return set.Folder() + " (refused)";
  return set.StandIns() ? "built-in stand-ins" : "built-in";
}

nlohmann::json FileEntry(const std::string& role, const std::string& path) {
  nlohmann::json file = {{"role", role}, {"path", path}};
  if (std::optional<FileSummary> sum = SummariseFile(path)) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", sum->sum);
    file["size"] = sum->length;
    file["checksum"] = hex;
  }
  return file;
}

nlohmann::json OperationFiles(const OperationRecord& rec, uint8_t operation, int item) {
  struct Role {
    const char* what;
    const std::string* path;
  };
  std::vector<Role> roles;
  switch (operation) {
    case kOpImgset: roles = {{"image set", &rec.m_strImageFileName}}; break;
    case kOpCalset: roles = {{"calset", &rec.m_strParamDepFileName}}; break;
    case kOpRsrc1: roles = {{"Rsrc1", &rec.m_strRscrFileName}}; break;
    case kOpRsrc2: roles = {{"Rsrc2", &rec.m_strRscr2FileName}}; break;
    case kOpVlf: roles = {{"file system", &rec.m_strFactoryFSFileName}}; break;
    case kOpEntireFlash: roles = {{"entire flash", &rec.m_strEntireFlashFileName}}; break;
    case kOpNorManual: roles = {{"image", &rec.m_strManualImage}}; break;
    case kOpNandManual: roles = {{"image", &rec.m_strManualNandImage}}; break;
    case kOpAllChain:
      if (item == kItemRsrc1AndFs) {
        roles = {{"Rsrc1", &rec.m_strRscrFileName}, {"file system", &rec.m_strFactoryFSFileName}};
        break;
      }
      roles = {{"image set", &rec.m_strImageFileName}, {"Rsrc1", &rec.m_strRscrFileName},
               {"Rsrc2", &rec.m_strRscr2FileName}, {"file system", &rec.m_strFactoryFSFileName}};
      // The downloaded chain also writes the calibration set for the NAND box.
      if (rec.m_bCalsetDefault == 1 || (item == kItemAll && rec.m_bCalset == 1))
        roles.push_back({"calset", &rec.m_strParamDepFileName});
      break;
    default: break;
  }
  nlohmann::json files = nlohmann::json::array();
  for (const Role& r : roles) files.push_back(FileEntry(r.what, *r.path));
  return files;
}

nlohmann::json RangesJson(const std::vector<FlashRange>& ranges) {
  nlohmann::json out = nlohmann::json::array();
  for (const FlashRange& r : MergeRanges(ranges))
    out.push_back({{"region", FlashRegionName(r.region)}, {"address", AddressText(r.address)}, {"length", r.length}});
  return out;
}

void AddRanges(nlohmann::json& entry, const OperationOutcome& outcome) {
  entry["written"] = RangesJson(outcome.Written());
  entry["read"] = RangesJson(outcome.read);
}

nlohmann::json BuildRunRecord(const RunFacts& f) {
  nlohmann::json r = {
      {"when", history::UtcText(f.when)},
      {"host", platform::HostName()},
      {"port", f.port},
      {"device", f.device},
      {"adapter_serial", nullptr},
      {"flash_id", nullptr},
      {"operations", f.operations},
      {"result", f.result},
      {"status", f.status},
      {"reason", f.reason},
      {"seconds", static_cast<double>(static_cast<int64_t>(f.seconds * 1000)) / 1000},
      {"tool_version", kWindowTitleSuffix},
      {"payload_set", PayloadSetText()},
  };
  if (!f.adapterSerial.empty()) r["adapter_serial"] = f.adapterSerial;
  if (uint8_t id = f.flashId; id != 0) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", id);
    r["flash_id"] = hex;
  }
  return r;
}

}  // namespace vantrel
