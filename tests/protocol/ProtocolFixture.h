#pragma once
// The protocol suite's fixture: a closed link record on the scripted handset's
// port, progress calls, and helpers to build record files.
#include <cstdint>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "link/ComLink.h"
#include "protocol/BlockLayer.h"
#include "tests/support/FastTiming.h"
#include "tests/support/ScratchConfig.h"
#include "tests/support/ScriptedHandset.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/ResultNumbers.h"

namespace vantrel::test {

// One call of the progress callback, flattened for comparison:
// (block, fault reported, fault code or address, value, erase).
using ProgressCall = std::tuple<int, int, uint32_t, uint32_t, int>;

struct ProgressLog {
  std::vector<ProgressCall> calls;
  ProgressCallBack Callback() {
    return [this](const ProgressEvent& e) {
      calls.emplace_back(e.block ? 1 : 0, e.fault ? 1 : 0, e.fault ? static_cast<uint32_t>(*e.fault) : e.address,
                         e.value, e.erase ? 1 : 0);
    };
  }
  // Only the calls with this (step, status).
  std::vector<ProgressCall> Only(int step, int status) const;
};

// Fast timing, a scratch settings folder, captured traces and a closed link
// record named after the scripted handset's port.
class ProtocolTest : public FastTiming {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Opens the record's port at `code`, as a job's persistent link would be.
  void OpenAt(uint8_t code);
  // Writes a scratch file and returns its path.
  std::string WriteFile(const std::string& name, const Bytes& bytes);

  ScratchConfig scratch_;
  TraceCapture traces_;
  ComLink link_;
  TargetSession session_;
  ProgressLog progress_;
};

// Record file helpers: (address, length, data) records, little-endian headers.
Bytes Record(uint32_t address, const Bytes& data);
Bytes Pattern(size_t length, uint8_t seed);
Bytes Concat(std::initializer_list<Bytes> parts);
uint8_t Sum8(const Bytes& bytes);

}  // namespace vantrel::test
