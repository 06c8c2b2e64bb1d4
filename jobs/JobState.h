#pragma once
// Job state shared by the console thread and the job thread of one window
// (or one command-line run, or one test).
#include <atomic>
#include <cstdint>

#include "jobs/Outcome.h"
#include "link/Stop.h"

namespace vantrel {

class Console;
class SettingsStore;
class TargetSession;
struct OperationRecord;

// Operation codes (JobState::operation).
inline constexpr uint8_t kOpImgset = 16;
inline constexpr uint8_t kOpCalset = 17;
inline constexpr uint8_t kOpRsrc1 = 18;
inline constexpr uint8_t kOpRsrc2 = 19;
inline constexpr uint8_t kOpVlf = 20;
inline constexpr uint8_t kOpAllChain = 21;
inline constexpr uint8_t kOpNorManual = 22;
inline constexpr uint8_t kOpNandEraseAll = 24;
inline constexpr uint8_t kOpBootAreaErase = 25;
inline constexpr uint8_t kOpEntireFlash = 26;
inline constexpr uint8_t kOpNorDump = 27;
inline constexpr uint8_t kOpNandDump = 28;
inline constexpr uint8_t kOpNorVlfFormat = 32;
inline constexpr uint8_t kOpNandManual = 48;
inline constexpr uint8_t kOpBoot2 = 116;  // 't'

// Loader state (JobState::loaderState).
inline constexpr uint8_t kLoaderNone = 0;
inline constexpr uint8_t kLoaderNor = 1;
inline constexpr uint8_t kLoaderNand = 2;

// What the jobs of one handset remember between runs. Atomics: the window's
// title timer reads the tick counters while a job thread advances them, and
// Cancel on the console thread clears the loader state and stops the job.
struct JobState {
  std::atomic<uint8_t> operation{0};
  std::atomic<uint8_t> loaderState{kLoaderNone};
  std::atomic<int32_t> progressTicks{0};
  std::atomic<int32_t> expectedTicks{0};
  // Set when the alternative BOOT byte is heard; used up by one retry after
  // an unexpected answer.
  std::atomic<bool> connectRetryAllowed{false};
  // Cancel of the job that runs for this handset; its worker thread answers
  // to it (stop::Scope).
  stop::Source stop;
  // What the operation that runs now (or ran last) came to.
  OutcomeLog outcome;
};

// What a job works on: the record, the operator console, where there is
// one, the settings store, the protocol session of the handset and the job
// state. A job thread's context shares all but the console with the window's.
struct JobContext {
  OperationRecord& rec;
  Console& con;
  SettingsStore* settings;
  TargetSession& session;
  JobState& job;
};

}  // namespace vantrel
