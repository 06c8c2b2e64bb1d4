#pragma once
// The flash jobs against the handset simulator over a pseudo-terminal: a
// record, a recording console, the job state reset, a scratch folder for the
// image files, and helpers to build record files and compare flash contents.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "jobs/JobState.h"
#include "jobs/OperationRecord.h"
#include "protocol/TargetSession.h"
#include "tests/support/SimFixture.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/RecordingConsole.h"
#include "tests/support/TraceCapture.h"

namespace vantrel::test {

// A record of `length` pattern bytes (PatternBytes of `seed`) at `address`.
ImageRecord MakeRecord(uint32_t address, size_t length, uint32_t seed);

// A log entry: kind 0-5, or -1 for a plain text.
using LogEntry = std::pair<int, std::string>;
// A message box as Boxes() lists it: text and caption.
using Box = std::pair<std::string, std::string>;

// The separator line the jobs log before a transfer: 95 '-' and "\n".
inline constexpr const char* kSeparator =
    "-----------------------------------------------------------------------------------------------\n";

// The operator's baud list entries.
inline constexpr int kBaud115K = 0;
inline constexpr int kBaud460K = 1;
inline constexpr int kBaud921K = 2;

class FlashJobsTest : public sim::SimTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Starts the handset on COM7 (UART or USB) and points the record at it.
  sim::Simulator& StartHandset(bool usb = false, sim::Options options = sim::TestOptions());
  // START: the boot ROM handshake and the NAND flash loader, as the connect
  // step leaves them; then forgets what the console recorded so far.
  void Connect();

  // Image files in the scratch folder; each returns the path.
  std::string WriteRecordFile(const std::string& name, const std::vector<ImageRecord>& records);
  std::string WriteFile(const std::string& name, const std::vector<uint8_t>& bytes);

  // Flash comparisons with a short message (first differing offset).

  // The entries appear in the log in this order (others may lie between).
  ::testing::AssertionResult LogHasInOrder(const std::vector<LogEntry>& expected) const;
  // Texts of the message boxes, with their captions as shown.
  std::vector<std::pair<std::string, std::string>> Boxes() const;
  // Count of log entries whose text starts with `prefix`.
  int CountLogStartingWith(const std::string& prefix) const;

  RecordingConsole con;
  OperationRecord rec;
  TargetSession session;
  JobContext ctx{rec, con, nullptr, session};
  std::string imageDir;

 private:
  std::unique_ptr<TraceCapture> traces_;
};

// The date the tests put in the record ("today").
inline constexpr const char* kTestToday = "20240315";

}  // namespace vantrel::test
