#pragma once
// The operation buttons against the handset simulator with something going
// wrong, as an operator meets it: the fault shows as a clear message, the job
// ends within its idle budgets (run fast here), the console comes back to a
// state from which START works, and nothing that arrived is lost.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "jobs/JobState.h"
#include "jobs/OperationRecord.h"
#include "maintenance/OperationControl.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/RecordingConsole.h"
#include "tests/support/SimFixture.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {

inline constexpr int kCom7 = 6;
inline constexpr int kRate921K = 2;

// Deterministic bytes that are never 0xFF, so a block that was not written shows.
inline std::vector<uint8_t> Pattern(size_t count, uint32_t seed) { return PatternBytes(count, seed, 7u, 0x3C); }

using Rec = ImageRecord;

class FaultMatrix : public sim::SimTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The handset on COM7 (UART), with the simulator's test options unless given.
  sim::Simulator& StartHandset(sim::Options options = sim::TestOptions());
  void AddFault(const std::string& text);

  // Runs a button handler and waits for the job it starts. A job that
  // outlives `budgetSeconds` fails the test (and is cancelled).
  void Press(const std::function<void(OperationControl&)>& handler, double budgetSeconds = 15);
  // START, expecting the NAND loader up and the console ready.
  void Connect();
  // The operator switches the handset off (and waits until it is).
  void SwitchOff();
  // What the operator does after a failure: the handset is switched off (the
  // faults go with it), then START; it must connect as on the first day.
  void ExpectStartWorksAgain();

  // Files in the scratch folder.
  std::string WriteRecordFile(const std::string& name, const std::vector<Rec>& records);
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);
  std::vector<uint8_t> ReadFile(const std::string& path) const;

  // DOWNLOAD of the image set in `path` (the item as the operator picks it).
  void PressDownloadImgset(const std::string& path);

  // Texts of the message boxes shown since the last Clear.
  std::vector<std::string> Messages() const { return con.MessageTexts(); }
  std::string MessagesJoined() const;
  // True when the console ended in a state that lets START run (the START
  // control is enabled in both the ready and the disconnected state).
  bool StartPossible() const;

  std::string TranscriptTail();
  ::testing::AssertionResult NandHolds(uint32_t address, const std::vector<uint8_t>& bytes);

  RecordingConsole con;
  OperationRecord rec;
  std::unique_ptr<OperationControl> control;
  std::string dir;

 private:
  std::unique_ptr<TraceCapture> traces_;
};

}  // namespace vantrel::test
