#pragma once
// The nine payloads as the catalogue must hold them.
#include <cstdint>

#include "payloads/Payloads.h"

namespace vantrel::test {

struct Expected {
  const Payload& (*get)();
  uint32_t size;
  bool header;
  const char* file;
};

inline const Expected kCatalogue[] = {
    {SdramInitImage, 2656, false, "sdraminit.img"},
    {PrebootImage, 1292, true, "preboot.img"},
    {FlashDriverAllImage, 15796, true, "flashdrv_all.img"},
    {NorFlashLoaderImage, 8396, true, "flashdrv_nor.img"},
    {NandFlashLoaderImage, 46940, true, "flashdrv_nand.img"},
    {SecBootImage, 2904, false, "sec_boot.img"},
    {Boot1aImage, 4548, false, "boot1a.img"},
    {Boot1bImage, 41552, false, "boot1b.img"},
    {Boot2Image, 190380, false, "boot2.img"},
};

}  // namespace vantrel::test
