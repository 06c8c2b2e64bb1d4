#pragma once
// Oracles shared by the fuzz targets: a routine may only end with the codes
// it is documented to return, and a per-step routine leaves its port closed.
#include <cstdlib>
#include <initializer_list>

#include "link/ComLink.h"

namespace vantrel::fuzz {

inline void RequireCode(int rc, std::initializer_list<int> allowed) {
  for (int a : allowed) {
    if (rc == a) return;
  }
  std::abort();
}

inline void RequireClosed(const ComLink& link) {
  if (link.IsOpen()) std::abort();
}

// A progress callback that only checks its arguments' domains.
inline void CheckProgress(uint8_t step, uint8_t status, uint32_t code, uint32_t, uint8_t erase) {
  if (step > 1 || status > 1 || erase > 1) std::abort();
  if (status == 1 && step == 1 && code > 6) std::abort();
}

}  // namespace vantrel::fuzz
