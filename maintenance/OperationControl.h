#pragma once
// The operation buttons: the checks made before a job may start, the job
// chosen, the worker thread, and the stop buttons Cancel and Disconnect.
// The Qt window and the command line both drive the jobs through this class;
// it starts the maintenance jobs as well as the downloads, so it sits above
// both.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "jobs/Console.h"
#include "jobs/JobRunner.h"
#include "jobs/JobState.h"
#include "jobs/OperationRecord.h"
#include "jobs/Outcome.h"
#include "protocol/TargetSession.h"

namespace vantrel {

struct RunFacts;

// How one job went, for the front end (a notice when the window is away).
struct JobOutcome {
  std::string op;  // "connect", "download", ...
  OperationOutcome outcome;  // failure Interrupted when Cancel stopped it
  double seconds = 0;
};

// After a settings write: tells the operator once, in the log, that the
// settings file could not be written and why (again only after a write has
// succeeded in between). `shown` remembers that it was told.
void ReportSettingsWrite(Console& con, const SettingsStore& settings, bool* shown);

class OperationControl {
 public:
  OperationControl(OperationRecord& rec, Console& con, SettingsStore* settings);
  ~OperationControl();  // stops and joins a running job
  OperationControl(const OperationControl&) = delete;
  OperationControl& operator=(const OperationControl&) = delete;

  // Button handlers; called on the console's thread.
  void OnStart();                 // "&START" 1089
  void OnDownload();              // "&DOWNLOAD" 1047
  void OnCancel();                // "&Cancel" 1090
  void OnDisconnect();            // "Disconnect" 1092
  void OnBootloaderDownload();    // "DL. Bootloader" 1125
  void OnNandEraseAll();          // "PUSH" 1060 (operation 24)
  void OnEraseBootloader();       // "Er. Bootloader" 1129 (operation 25)
  void OnNandDump();              // "NAND Dump" 1046
  void OnNorDump();               // hidden 1002
  void OnNorAllSectorsErase();    // hidden 1130
  void OnVlfFormat();             // hidden 1061
  void OnPzlFormat();             // hidden 1155
  void OnCheckBadBlock();         // hidden 1128
  void OnRawDump();               // hidden 1165 "DUMP!!"
  void OnSelectionCheckBox(int controlId);  // hidden 1160, 1161, 1162, 1164; "Calset" 1163

  bool JobRunning() const;
  // Blocks until the running job (if any) has ended.
  void WaitForJob();

  JobContext& Context() { return ctx_; }
  // What the last press came to: the job it started, or the checks that
  // refused it. Read once the job has ended.
  OperationOutcome LastOutcome() const { return job_.outcome.Snapshot(); }

  // From now on each job appends one record to the station log at `path`
  // when its thread ends (the command line records whole runs itself).
  // `adapterSerialOf` names the USB adapter behind a device, where known.
  void RecordRuns(std::string path, std::function<std::string(const std::string&)> adapterSerialOf = {}) {
    historyPath_ = std::move(path);
    adapterSerialOf_ = std::move(adapterSerialOf);
  }
  // Called on the job's thread when a job has ended.
  void OnJobEnd(std::function<void(const JobOutcome&)> hook) { onJobEnd_ = std::move(hook); }

 private:
  void Launch(const char* op, int operation, int reconnectWhenLoader, ThreadProc proc);
  // Starts `proc` on the job thread; `filesOf` names the operation whose
  // image files it sends (0: none), for the record.
  void StartJob(const char* op, uint8_t filesOf, JobBody proc, JobPriority priority = JobPriority::Highest);
  // The station log's entry of a job that has ended.
  void RecordRun(RunFacts& facts, const JobOutcome& outcome);
  bool ConfirmErase();
  bool ReadyForNext();
  bool BeginPress();

  // The one handset this control drives, what its jobs remember between
  // runs, and the context its jobs share.
  TargetSession session_;
  JobState job_;
  JobContext ctx_;
  std::unique_ptr<JobRunner> runner_;
  bool settingsFailureShown_ = false;
  std::string historyPath_;
  std::function<std::string(const std::string&)> adapterSerialOf_;
  std::function<void(const JobOutcome&)> onJobEnd_;
};

}  // namespace vantrel
