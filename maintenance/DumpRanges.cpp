// Dump ranges the jobs accept and the file names they propose.
#include <cstdio>

#include "maintenance/DumpRanges.h"

namespace vantrel {

bool NorDumpRangeValid(uint32_t from, uint32_t to) {
  return from <= kNorDumpLastFrom && from < to && to >= 1 && to <= kNorDumpLastTo;
}

std::string NorDumpFileName(uint32_t from, uint32_t to) {
  char name[64];
  std::snprintf(name, sizeof name, "nordump0x%lx_0x%lx.dmp", static_cast<unsigned long>(from),
                static_cast<unsigned long>(to));
  return name;
}

bool NandDumpRangeValid(uint32_t from, uint32_t to) {
  return from <= kNandDumpLastFrom && from < to && to >= 1 && to <= kNandDumpLastTo;
}

std::string NandDumpFileName(uint32_t from, uint32_t to) {
  if (from == kVlfAreaStart) return "vlf_area_dump.dmp";
  char name[64];
  std::snprintf(name, sizeof name, "nanddump0x%lx_0x%lx.dmp", static_cast<unsigned long>(from),
                static_cast<unsigned long>(to) + 1UL);
  return name;
}

}  // namespace vantrel
