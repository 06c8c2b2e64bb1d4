#pragma once
// The tests check result codes by their numbers, the ones the handset
// protocol and the operators' manuals use, so that an enumerator with a
// wrong value cannot pass because a test named it too.
#include <ostream>

#include "link/ResultCodes.h"

namespace vantrel {

inline bool operator==(Result code, int number) { return static_cast<int>(code) == number; }

inline std::ostream& operator<<(std::ostream& os, Result code) {
  return os << static_cast<int>(code) << " (" << ResultText(code) << ")";
}

}  // namespace vantrel
