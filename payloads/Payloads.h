#pragma once
// The nine handset programs and boot images carried inside the tool as
// constant data. The host never interprets them.
#include <cstdint>

namespace vantrel {

struct Payload {
  const uint8_t* data;
  uint32_t size;
  const char* name;  // console name, e.g. "preboot.img"
};

inline constexpr uint32_t kSdramInitImageSize = 2656;
inline constexpr uint32_t kPrebootImageSize = 1292;
inline constexpr uint32_t kFlashDriverAllImageSize = 15796;
inline constexpr uint32_t kNorFlashLoaderImageSize = 8396;
inline constexpr uint32_t kNandFlashLoaderImageSize = 46940;
inline constexpr uint32_t kSecBootImageSize = 2904;
inline constexpr uint32_t kBoot1aImageSize = 4548;
inline constexpr uint32_t kBoot1bImageSize = 41552;
inline constexpr uint32_t kBoot2ImageSize = 190380;

const Payload& SdramInitImage();
const Payload& PrebootImage();
const Payload& FlashDriverAllImage();
const Payload& NorFlashLoaderImage();
const Payload& NandFlashLoaderImage();
const Payload& SecBootImage();
const Payload& Boot1aImage();
const Payload& Boot1bImage();
const Payload& Boot2Image();

// True when the build embedded generated stand-ins rather than real payload files.
bool PayloadsAreStandIns();

}  // namespace vantrel
