#pragma once
// Process-wide job state shared by the console thread and the job thread.
#include <atomic>
#include <cstdint>

namespace vantrel {

class Console;
class SettingsStore;
class TargetSession;
struct OperationRecord;

// Operation codes (g_operation).
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

// Loader state (g_loaderState).
inline constexpr uint8_t kLoaderNone = 0;
inline constexpr uint8_t kLoaderNor = 1;
inline constexpr uint8_t kLoaderNand = 2;

extern std::atomic<uint8_t> g_operation;
extern std::atomic<uint8_t> g_loaderState;
extern std::atomic<int32_t> g_progressTicks;
extern std::atomic<int32_t> g_expectedTicks;

// What a job works on: the record, the operator console, where there is
// one, the settings store, and the protocol session of the handset.
struct JobContext {
  OperationRecord& rec;
  Console& con;
  SettingsStore* settings;
  TargetSession& session;
};

// The context the progress callbacks report to (the main window's); set once
// when the window or the command line starts. Null means "no main window".
void SetMainContext(JobContext* context);
JobContext* MainContext();

// The context the callbacks report to on the calling thread: on a job thread
// started by the job runner, that job's own context (its console gated for
// Cancel); on any other thread MainContext().
JobContext* CallbackContext();
// Set by the job runner on its worker thread; null clears it.
void SetThreadJobContext(JobContext* context);

}  // namespace vantrel
