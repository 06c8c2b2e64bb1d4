#pragma once
// Oracles shared by the fuzz targets: a routine may only end with the codes
// it is documented to return, and a per-step routine leaves its port closed.
#include <cstdlib>
#include <initializer_list>

#include "link/ComLink.h"
#include "protocol/Progress.h"

namespace vantrel::fuzz {

// The allowed codes are written as numbers: the oracle does not take the
// enumerators' word for their values.
inline void RequireCode(Result rc, std::initializer_list<int> allowed) {
  for (int a : allowed) {
    if (ResultNumber(rc) == a) return;
  }
  std::abort();
}

inline void RequireClosed(const ComLink& link) {
  if (link.IsOpen()) std::abort();
}

// A progress callback that only checks the event's domain.
inline void CheckProgress(const ProgressEvent& event) {
  if (event.fault && static_cast<uint32_t>(*event.fault) > static_cast<uint32_t>(ProgressFault::NoResponse)) {
    std::abort();
  }
  if (event.fault && event.erase) std::abort();
}

}  // namespace vantrel::fuzz
