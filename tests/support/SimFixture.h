#pragma once
// GoogleTest helpers for tests that talk to the handset simulator.
//
//   class MyTest : public vantrel::sim::SimTest {};
//   TEST_F(MyTest, Connects) {
//     StartSim();                 // COM7 in a scratch settings folder
//     ... host code on "COM7" ...
//   }
//
// The fixture points XDG_CONFIG_HOME at a scratch folder, runs the protocol's
// timing fast (pauses cost nothing, polls are shortened, and the link follows
// the simulator instead of the clock: tests/support/FastTiming.h), starts a
// simulator whose own delays are instant, and at TearDown fails the test when
// the simulator saw a protocol violation by the host (the transcript is printed
// then). A test that provokes violations on purpose takes them with
// TakeViolations() before it ends.
// Link with vantrel_sim and vantrel_testsupport.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sim/Simulator.h"
#include "tests/support/FastTiming.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::sim {

// Options suited to tests: COM7, instant handset delays, memory-only flash.
inline Options TestOptions(int comNumber = 7) {
  Options o;
  o.comNumber = comNumber;
  o.timeScale = 0.0;
  return o;
}

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_ = std::make_unique<test::ScratchConfig>();
    timing_ = std::make_unique<test::FastTimingScope>();
  }

  void TearDown() override {
    if (sim_) {
      const std::vector<std::string> v = sim_->Violations();
      if (!v.empty()) {
        std::string text;
        for (const auto& line : v) text += "  " + line + "\n";
        std::string transcript;
        for (const auto& line : sim_->Transcript()) transcript += line + "\n";
        ADD_FAILURE() << "the handset simulator saw protocol violations:\n" << text << "transcript:\n" << transcript;
      }
      sim_->Stop();
      sim_.reset();
    }
    timing_.reset();
    config_.reset();
  }

  // Starts the simulator (asserting success) and returns it.
  Simulator& StartSim(Options options = TestOptions()) {
    sim_ = std::make_unique<Simulator>(std::move(options));
    std::string error;
    const int rc = sim_->Start(&error);
    EXPECT_EQ(rc, 0) << "simulator did not start: " << error;
    return *sim_;
  }

  Simulator& Sim() { return *sim_; }
  std::string Com() const { return sim_ ? sim_->ComName() : std::string(); }

  // Returns and forgets the violations seen so far (for tests that provoke them).
  std::vector<std::string> TakeViolations() {
    std::vector<std::string> v = sim_->Violations();
    sim_->ClearViolations();
    return v;
  }

  const test::ScratchConfig& Config() const { return *config_; }

  // The simulator's flash holds `bytes` at `address`; else the first byte that differs.
  ::testing::AssertionResult FlashHolds(FlashPart part, uint32_t address, const std::vector<uint8_t>& bytes) {
    const std::vector<uint8_t> got = sim_->ReadFlash(part, address, static_cast<uint32_t>(bytes.size()));
    for (size_t i = 0; i < bytes.size(); ++i) {
      if (got[i] != bytes[i]) {
        std::ostringstream msg;
        msg << std::hex << (part == FlashPart::Nand ? "NAND" : "NOR") << " at 0x" << address + i << " holds 0x"
            << int(got[i]) << ", expected 0x" << int(bytes[i]) << " (offset 0x" << i << " of 0x" << bytes.size()
            << " bytes at 0x" << address << ")";
        return ::testing::AssertionFailure() << msg.str();
      }
    }
    return ::testing::AssertionSuccess();
  }
  ::testing::AssertionResult FlashErased(FlashPart part, uint32_t address, uint32_t length) {
    return FlashHolds(part, address, std::vector<uint8_t>(length, 0xFF));
  }

 private:
  std::unique_ptr<test::ScratchConfig> config_;
  std::unique_ptr<test::FastTimingScope> timing_;
  std::unique_ptr<Simulator> sim_;
};

}  // namespace vantrel::sim
