#pragma once
// The nine payload files: their names, fixed lengths and header rule, and the
// one check that both the build (embedding a folder) and the program (loading
// one at run time) apply to them. No payload bytes live here, so the
// build-time generator can use it before the catalogue exists.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vantrel {

enum class PayloadId : uint8_t { SdramInit, Preboot, FlashDriverAll, NorLoader, NandLoader, SecBoot, Boot1a, Boot1b, Boot2 };
inline constexpr size_t kPayloadCount = 9;

inline constexpr uint32_t kSdramInitImageSize = 2656;
inline constexpr uint32_t kPrebootImageSize = 1292;
inline constexpr uint32_t kFlashDriverAllImageSize = 15796;
inline constexpr uint32_t kNorFlashLoaderImageSize = 8396;
inline constexpr uint32_t kNandFlashLoaderImageSize = 46940;
inline constexpr uint32_t kSecBootImageSize = 2904;
inline constexpr uint32_t kBoot1aImageSize = 4548;
inline constexpr uint32_t kBoot1bImageSize = 41552;
inline constexpr uint32_t kBoot2ImageSize = 190380;

// The four handset programs open with an 8-byte header of their own whose
// second word, big-endian, gives the bytes that follow it.
inline constexpr uint32_t kPayloadHeaderBytes = 8;

struct PayloadSpec {
  PayloadId id;
  const char* symbol;       // name in the program, e.g. "Boot2Image"
  const char* file;         // name in a payload folder, e.g. "boot2.img"
  const char* consoleName;  // name in the log, e.g. "boot2"
  uint32_t size;
  bool header;
};

// In PayloadId order.
inline constexpr std::array<PayloadSpec, kPayloadCount> kPayloadCatalogue = {{
    {PayloadId::SdramInit, "SdramInitImage", "sdraminit.img", "SDRAM init", kSdramInitImageSize, false},
    {PayloadId::Preboot, "PrebootImage", "preboot.img", "preboot.img", kPrebootImageSize, true},
    {PayloadId::FlashDriverAll, "FlashDriverAllImage", "flashdrv_all.img", "flashdrv_all.img", kFlashDriverAllImageSize,
     true},
    {PayloadId::NorLoader, "NorFlashLoaderImage", "flashdrv_nor.img", "NOR flash loader", kNorFlashLoaderImageSize, true},
    {PayloadId::NandLoader, "NandFlashLoaderImage", "flashdrv_nand.img", "flashdrv_nand.img", kNandFlashLoaderImageSize,
     true},
    {PayloadId::SecBoot, "SecBootImage", "sec_boot.img", "SEC_BOOT", kSecBootImageSize, false},
    {PayloadId::Boot1a, "Boot1aImage", "boot1a.img", "BOOT1a", kBoot1aImageSize, false},
    {PayloadId::Boot1b, "Boot1bImage", "boot1b.img", "BOOT1b", kBoot1bImageSize, false},
    {PayloadId::Boot2, "Boot2Image", "boot2.img", "boot2", kBoot2ImageSize, false},
}};

constexpr const PayloadSpec& SpecOf(PayloadId id) { return kPayloadCatalogue[static_cast<size_t>(id)]; }

// What is wrong with `bytes` as the payload `spec`, read from `path`; empty
// when nothing is. Names the file, what was expected and what was found.
std::string PayloadProblem(const PayloadSpec& spec, const std::string& path, const std::vector<uint8_t>& bytes);

// The nine files of a folder, read and checked.
struct PayloadFolder {
  std::string folder;
  std::array<std::vector<uint8_t>, kPayloadCount> bytes;
  std::vector<std::string> missing;   // "boot2.img (190380 bytes)" for each file not in the folder
  std::vector<std::string> problems;  // one line per file that cannot be used
  bool Complete() const { return missing.empty() && problems.empty(); }
  // Every reason the folder cannot be used, one per line; empty when it can.
  std::vector<std::string> Reasons() const;
};
PayloadFolder ReadPayloadFolder(const std::string& folder);

// How many of the nine file names exist in `folder` (0 for no folder).
size_t PayloadFilesIn(const std::string& folder);

}  // namespace vantrel
