#include <atomic>
#include <filesystem>
#include <mutex>

#include "payloads/Payloads.h"
#include "platform/Folders.h"

namespace vantrel {

namespace {

std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

// A folder the operator typed, relative to where the program was started.
std::string Absolute(const std::string& path) {
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  return WithoutTrailingSlash(ec ? path : p.lexically_normal().string());
}

std::atomic<const PayloadSet*> g_active{nullptr};

const std::shared_ptr<const PayloadSet>& BuiltInSet() {
  static const std::shared_ptr<const PayloadSet> set = PayloadSet::BuiltIn();
  return set;
}

}  // namespace

std::shared_ptr<const PayloadSet> PayloadSet::BuiltIn() {
  std::shared_ptr<PayloadSet> set(new PayloadSet);
  for (const PayloadSpec& spec : kPayloadCatalogue) set->payloads_[static_cast<size_t>(spec.id)] = BuiltInPayload(spec.id);
  return set;
}

std::shared_ptr<const PayloadSet> PayloadSet::FromFolder(const std::string& folder) {
  PayloadFolder files = ReadPayloadFolder(folder);
  if (!files.Complete()) return Refused(folder, files.Reasons());
  std::shared_ptr<PayloadSet> set(new PayloadSet);
  set->source_ = Source::Folder;
  set->folder_ = folder;
  for (const PayloadSpec& spec : kPayloadCatalogue) {
    const size_t i = static_cast<size_t>(spec.id);
    // Kept as the built-in set is: a 32-bit little-endian count, four zero
    // bytes, then the bytes.
    std::vector<uint8_t>& stored = set->storage_[i];
    stored = {static_cast<uint8_t>(spec.size), static_cast<uint8_t>(spec.size >> 8), static_cast<uint8_t>(spec.size >> 16),
              static_cast<uint8_t>(spec.size >> 24), 0, 0, 0, 0};
    stored.insert(stored.end(), files.bytes[i].begin(), files.bytes[i].end());
    set->payloads_[i] = Payload{stored.data() + 8, spec.size, spec.consoleName};
  }
  return set;
}

std::shared_ptr<const PayloadSet> PayloadSet::Refused(const std::string& folder, std::vector<std::string> reasons) {
  std::shared_ptr<PayloadSet> set(new PayloadSet);
  set->source_ = Source::Refused;
  set->folder_ = folder;
  set->reasons_ = std::move(reasons);
  for (const PayloadSpec& spec : kPayloadCatalogue)
    set->payloads_[static_cast<size_t>(spec.id)] = Payload{nullptr, 0, spec.consoleName};
  return set;
}

bool PayloadSet::StandIns() const { return source_ == Source::BuiltIn && BuiltInPayloadsAreStandIns(); }

std::string PayloadSet::Notice() const {
  switch (source_) {
    case Source::Folder: return "handset payloads: " + folder_;
    case Source::Refused: {
      std::string text = "handset payloads refused: ";
      for (size_t i = 0; i < reasons_.size(); ++i) text += (i ? "; " : "") + reasons_[i];
      return text;
    }
    case Source::BuiltIn: break;
  }
  return StandIns() ? kStandInPayloadsNotice : "handset payloads: built into the program";
}

PayloadSearch PayloadSearch::FromEnvironment(const std::string& option) {
  return {option, platform::ProcessEnvironment("VANTREL_PAYLOAD_DIR"), platform::PayloadFolders()};
}

std::vector<PayloadSearch::Place> PayloadSearch::Places() const {
  std::vector<Place> out;
  if (!option.empty()) out.push_back({Absolute(option), true});
  if (!variable.empty()) out.push_back({Absolute(variable), true});
  for (const std::string& folder : system) out.push_back({folder, false});
  return out;
}

std::shared_ptr<const PayloadSet> FindPayloads(const PayloadSearch& search) {
  for (const PayloadSearch::Place& place : search.Places()) {
    // A folder the operator named decides even when empty: a mistyped path
    // must not quietly send the stand-ins.
    if (place.named || PayloadFilesIn(place.folder) > 0) return PayloadSet::FromFolder(place.folder);
  }
  return BuiltInSet();
}

void UsePayloads(std::shared_ptr<const PayloadSet> set) {
  static std::mutex mu;
  static std::vector<std::shared_ptr<const PayloadSet>> kept;
  if (!set) set = BuiltInSet();
  std::lock_guard<std::mutex> lock(mu);
  kept.push_back(set);
  g_active.store(set.get());
}

const PayloadSet& ActivePayloads() {
  const PayloadSet* set = g_active.load();
  return set != nullptr ? *set : *BuiltInSet();
}

const Payload& SdramInitImage() { return ActivePayloads().Get(PayloadId::SdramInit); }
const Payload& PrebootImage() { return ActivePayloads().Get(PayloadId::Preboot); }
const Payload& FlashDriverAllImage() { return ActivePayloads().Get(PayloadId::FlashDriverAll); }
const Payload& NorFlashLoaderImage() { return ActivePayloads().Get(PayloadId::NorLoader); }
const Payload& NandFlashLoaderImage() { return ActivePayloads().Get(PayloadId::NandLoader); }
const Payload& SecBootImage() { return ActivePayloads().Get(PayloadId::SecBoot); }
const Payload& Boot1aImage() { return ActivePayloads().Get(PayloadId::Boot1a); }
const Payload& Boot1bImage() { return ActivePayloads().Get(PayloadId::Boot1b); }
const Payload& Boot2Image() { return ActivePayloads().Get(PayloadId::Boot2); }

}  // namespace vantrel
