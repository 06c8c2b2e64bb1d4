#pragma once
// A payload's bytes as a vector, to compare with what a handset received or
// holds in flash.
#include <cstdint>
#include <vector>

#include "payloads/Payloads.h"

namespace vantrel::test {

inline std::vector<uint8_t> PayloadBytes(const Payload& p) { return {p.data, p.data + p.size}; }

}  // namespace vantrel::test
