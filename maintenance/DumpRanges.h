#pragma once
// Rules of the maintenance jobs that callers and tests can check on their
// own: which dump ranges are accepted and the file names proposed for them.
#include <cstdint>
#include <string>

namespace vantrel {

// NOR part: 32 MB. The NOR dump reads the half-open range [from, to).
inline constexpr uint32_t kNorDumpLastFrom = 0x1FFFFFE;
inline constexpr uint32_t kNorDumpLastTo = 0x1FFFFFF;
// NAND address space: 128 MB. The NAND job includes the byte at `to`.
inline constexpr uint32_t kNandDumpLastFrom = 0x7FFFFFE;
inline constexpr uint32_t kNandDumpLastTo = 0x7FFFFFF;
// A NAND dump starting here is the file-system area and gets a fixed name.
inline constexpr uint32_t kVlfAreaStart = 0x5000000;

bool NorDumpRangeValid(uint32_t from, uint32_t to);
bool NandDumpRangeValid(uint32_t from, uint32_t to);

// "nordump0x<from>_0x<to>.dmp" in lower-case hexadecimal.
std::string NorDumpFileName(uint32_t from, uint32_t to);
// "vlf_area_dump.dmp" for the file-system area, otherwise
// "nanddump0x<from>_0x<to + 1>.dmp": the second number is the first address
// after the dump.
std::string NandDumpFileName(uint32_t from, uint32_t to);

}  // namespace vantrel
