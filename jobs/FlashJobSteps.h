#pragma once
// Steps shared by the flash jobs (NOR and NAND downloads, the boot stages,
// erase and format): the timed section with its elapsed-time line, the
// file-information row, the reports of a transfer and of the session's end.
// The job's own link and its rate changes are in jobs/LinkSteps.h; a flash
// job returns the handset to the base rate after a failure too.
#include <cstdint>
#include <string>

#include "jobs/JobState.h"
#include "link/ResultCodes.h"

namespace vantrel::flashjob {

// Fixed pauses of the jobs themselves (the protocol's own are in protocol/Constants.h).
inline constexpr unsigned kPauseAfterOpenMs = 1000;     // NOR format: after the open, before the raise
inline constexpr unsigned kPauseBeforeFormatMs = 1000;  // format jobs: before the format command
inline constexpr unsigned kPauseAfterDownloadMs = 1000; // NAND job: after "  Completed"
inline constexpr unsigned kPauseBeforeStageMs = 1000;   // boot stage: between flash driver and stage image

// Texts shared by several jobs.
inline constexpr const char* kErrorFlashingImage = "Error flashing image set : %s\n";
inline constexpr const char* kErrorFlashingErase = "Error flashing erase : %s\n";
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

// A loader upload that failed: the "Downloading Failure" box (the missing
// file's hint when the file could not be opened, else the result's text),
// then "FAIL\n" and the power-cycle hint in red. The console's state is the
// caller's to set.
void ReportUploadFailure(JobContext& ctx, Result rc, const char* missingFileText,
                         const char* powerCycleHint = kPowerCycleHint);

// "\n      Download" and then "  Completed", or "  Failed" with the
// "Error flashing image set" box; true when `rc` is 0.
bool ReportTransfer(JobContext& ctx, Result rc);

// Ends the loader session (the handset reboots); a refusal shows the same
// box as a refused rate change. True when the handset took it.
bool EndLoaderSession(JobContext& ctx);

// The file-information row of the file being written: "File Size" box
// ("%u bytes"), the checksum box and the file name box.
void ShowFileRow(JobContext& ctx, const std::string& path, uint32_t size);

// The eight date digits sent after an image set: the record's date when it
// holds eight digits, else today's date.
std::string DownloadDate(const JobContext& ctx);

}  // namespace vantrel::flashjob
