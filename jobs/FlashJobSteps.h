#pragma once
// Steps shared by the flash jobs (NOR and NAND downloads, the boot stages,
// erase and format): opening the job's own link, the rate change up and back,
// the timed section with its elapsed-time line, the file-information row.
//
// Rate rule: a job that raised the handset's rate returns it to the base rate
// before it closes its link, on success and after a failure alike. The next
// job opens at the base rate and sends its first command there; a handset
// left at 921600 would never hear it.
#include <cstdint>
#include <string>

#include "jobs/JobState.h"

namespace vantrel::flashjob {

// Fixed pauses of the jobs themselves (the protocol's own are in protocol/Constants.h).
inline constexpr unsigned kPauseBeforeOpenMs = 1000;    // UART: before the job's link is opened
inline constexpr unsigned kPauseAfterOpenMs = 1000;     // NOR format: after the open, before the raise
inline constexpr unsigned kPauseBeforeFormatMs = 1000;  // format jobs: before the format command
inline constexpr unsigned kPauseAfterDownloadMs = 1000; // NAND job: after "  Completed"
inline constexpr unsigned kPauseBeforeStageMs = 1000;   // boot stage: between flash driver and stage image

// Texts shared by several jobs.
inline constexpr const char* kOpenComportLine = "\n    Open Comport\t\t\t\t> > > ";
inline constexpr const char* kSetTargetBaudLine = "\n    Set Target Phone BaudRate\t\t> > > ";
inline constexpr const char* kBaudRateError = "BaudRate Error";
inline constexpr const char* kErrorFlashingImage = "Error flashing image set : %s\n";
inline constexpr const char* kErrorFlashingErase = "Error flashing erase : %s\n";
inline constexpr const char* kErrorChangingBaud = "Error  changing target baud rate : %s\n";
inline constexpr const char* kDownloadFinished = "Download Finished";
inline constexpr const char* kNoticeCaption = "  NOTICE  ";
inline constexpr const char* kNoticeCaptionPlain = "NOTICE";
inline constexpr const char* kDownloadingFailure = "Downloading Failure";
inline constexpr const char* kPowerCycleHint = "\n  Turn On/Off the target phone!!!\n";

// True once Cancel has asked the running job to stop. A stopped job unwinds
// without another word to the operator: it closes what it opened and returns.
bool Stopped();

// The timed section of a job. A job that fails before its section began (a
// loader upload that failed) reads the clock at the failure, so its line
// shows the time that really passed inside the job, 0.0 s.
class Stopwatch {
 public:
  void Start();
  void Stop();  // reads the clock once; later calls keep the first reading
  double Seconds() const;

 private:
  uint64_t start_ = 0;
  uint64_t end_ = 0;
  bool started_ = false;
  bool stopped_ = false;
};

// Adds the section's seconds to the total and appends `lineFormat` (one %5.1f) in red.
void ReportElapsed(JobContext& ctx, Stopwatch& clock, const char* lineFormat);

// "Open Comport" step: optional pause, OpenLink into rec.m_pLink, "OK"/"FAIL".
bool OpenJobLink(JobContext& ctx, const std::string& port, uint8_t code, bool pauseFirst);

// Raises handset and host to `code` on the open job link; the set-rate line
// appears only when `code` differs from the base rate, the command goes out
// in both cases. "OK" or "FAIL\n".
bool RaiseRate(JobContext& ctx, uint8_t code);

// Returns handset and host from `code` to the base rate (nothing when `code`
// is the base rate). Returns the command's result.
int ReturnToBaseRate(JobContext& ctx, uint8_t code);

// Best-effort return after a failure: the handset's loader may still be
// listening (a refused address, a failed erase), and the next job needs it at
// the base rate. Nothing is reported; nothing is sent after a stop.
void ReturnToBaseRateQuietly(JobContext& ctx, uint8_t code);

// The file-information row of the file being written: "File Size" box
// ("%u bytes"), the checksum box and the file name box.
void ShowFileRow(JobContext& ctx, const std::string& path, uint32_t size);

// The eight date digits sent after an image set: the record's date when it
// holds eight digits, else today's date.
std::string DownloadDate(const JobContext& ctx);

}  // namespace vantrel::flashjob
