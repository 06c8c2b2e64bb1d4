// TEMPORARY (branch console only, never landed): stands in for the jobs
// library's operation control until it lands.
#include "jobs/OperationControl.h"
namespace vantrel {
class JobRunner {};
OperationControl::OperationControl(OperationRecord& rec, Console& con, SettingsStore* settings)
    : ctx_{rec, con, settings} {}
OperationControl::~OperationControl() = default;
void OperationControl::OnStart() { ctx_.con.EnterBusyState(); }
void OperationControl::OnDownload() { ctx_.con.EnterBusyState(); }
void OperationControl::OnCancel() { ctx_.con.EnterDisconnectedState(); }
void OperationControl::OnDisconnect() { ctx_.con.EnterDisconnectedState(); }
void OperationControl::OnBootloaderDownload() {}
void OperationControl::OnNandEraseAll() {}
void OperationControl::OnEraseBootloader() {}
void OperationControl::OnNandDump() {}
void OperationControl::OnNorDump() {}
void OperationControl::OnNorAllSectorsErase() {}
void OperationControl::OnVlfFormat() {}
void OperationControl::OnPzlFormat() {}
void OperationControl::OnCheckBadBlock() {}
void OperationControl::OnRawDump() {}
void OperationControl::OnSelectionCheckBox(int) {}
bool OperationControl::JobRunning() const { return false; }
void OperationControl::WaitForJob() {}
}  // namespace vantrel
