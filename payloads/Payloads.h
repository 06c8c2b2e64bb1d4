#pragma once
// The nine handset programs and boot images the tool sends. The host never
// interprets them.
//
// A build carries one set inside the program (the real files when it was
// built with a payload folder, else stand-ins of the exact lengths). At run
// time a folder of the nine files may take its place; the program chooses
// once at start-up and everything that sends a payload reads the chosen set
// through ActivePayloads() (the named accessors below go through it too).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "payloads/PayloadCatalogue.h"

namespace vantrel {

struct Payload {
  const uint8_t* data;  // null in a refused set
  uint32_t size;
  const char* name;     // console name, e.g. "preboot.img"
};

// What the operator reads when the built-in stand-ins run.
inline constexpr const char* kStandInPayloadsNotice =
    "built-in stand-in payloads: a real handset cannot start with these";

class PayloadSet {
 public:
  enum class Source { BuiltIn, Folder, Refused };

  // The set inside the program.
  static std::shared_ptr<const PayloadSet> BuiltIn();
  // The nine files of `folder`; a refused set, naming every reason, when
  // one is missing or does not pass the check.
  static std::shared_ptr<const PayloadSet> FromFolder(const std::string& folder);
  static std::shared_ptr<const PayloadSet> Refused(const std::string& folder, std::vector<std::string> reasons);
  // The payloads point into the set's own storage: never copied.
  PayloadSet(const PayloadSet&) = delete;
  PayloadSet& operator=(const PayloadSet&) = delete;

  Source From() const { return source_; }
  bool Usable() const { return source_ != Source::Refused; }
  // The built-in set of a build without the real files.
  bool StandIns() const;
  const std::string& Folder() const { return folder_; }
  const std::vector<std::string>& Reasons() const { return reasons_; }
  // One line for the operator: "handset payloads: <folder>", the stand-in
  // warning, or why the folder was refused.
  std::string Notice() const;

  // In a refused set every payload has no data and size 0.
  const Payload& Get(PayloadId id) const { return payloads_[static_cast<size_t>(id)]; }

 private:
  PayloadSet() = default;
  Source source_ = Source::BuiltIn;
  std::string folder_;
  std::vector<std::string> reasons_;
  std::vector<uint8_t> storage_[kPayloadCount];
  Payload payloads_[kPayloadCount]{};
};

// Where the program looks for payload files, first to last: the command
// line's folder, $VANTREL_PAYLOAD_DIR, then the system's payload folders
// (platform::PayloadFolders: under $XDG_DATA_HOME and $XDG_DATA_DIRS on
// Linux, %LOCALAPPDATA% on Windows).
struct PayloadSearch {
  std::string option;                 // --payload-dir
  std::string variable;               // VANTREL_PAYLOAD_DIR
  std::vector<std::string> system;    // the system's folders

  static PayloadSearch FromEnvironment(const std::string& option);

  struct Place {
    std::string folder;
    bool named;  // the operator named it (option or variable): it must hold the set
  };
  std::vector<Place> Places() const;
};

// The first folder that holds any payload file decides: its complete,
// checked set, or a refusal. A folder the operator named that holds none is
// refused too. With no such folder, the built-in set.
std::shared_ptr<const PayloadSet> FindPayloads(const PayloadSearch& search);

// Makes `set` the one the program sends from now on. Called at start-up
// before any job runs; every set given stays alive for the process. Null:
// the built-in set again.
void UsePayloads(std::shared_ptr<const PayloadSet> set);
// The chosen set; the built-in one until UsePayloads() is called.
const PayloadSet& ActivePayloads();

const Payload& SdramInitImage();
const Payload& PrebootImage();
const Payload& FlashDriverAllImage();
const Payload& NorFlashLoaderImage();
const Payload& NandFlashLoaderImage();
const Payload& SecBootImage();
const Payload& Boot1aImage();
const Payload& Boot1bImage();
const Payload& Boot2Image();

// The set compiled into the program (generated at build time).
const Payload& BuiltInPayload(PayloadId id);
// True when the build embedded generated stand-ins rather than real payload files.
bool BuiltInPayloadsAreStandIns();

}  // namespace vantrel
