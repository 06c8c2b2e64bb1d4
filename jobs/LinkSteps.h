#pragma once
// The job's own link to the running flash loader, as every job that writes,
// erases, formats or dumps brings it up and lets it go: the "Open Comport"
// step, the rate change up, the return to the base rate and the release.
//
// Rate rule: a job that raised the handset's rate returns it to the base rate
// before it closes its link. The next job opens at the base rate and sends its
// first command there; a handset left at 921600 would never hear it.
//
// Each step that tracks the rate takes the job's `raised` code: the rate the
// handset runs at while the job holds the link (the base rate until a raise
// has worked, and again once the rate has gone back).
#include <cstdint>
#include <string>

#include "jobs/JobState.h"

namespace vantrel::joblink {

inline constexpr unsigned kPauseBeforeOpenMs = 1000;  // UART: before the job's link is opened

inline constexpr const char* kOpenComportLine = "\n    Open Comport\t\t\t\t> > > ";
inline constexpr const char* kSetTargetBaudLine = "\n    Set Target Phone BaudRate\t\t> > > ";
inline constexpr const char* kErrorChangingBaud = "Error  changing target baud rate : %s\n";

// The operator's rate code, or 0 after the "BaudRate Error" box when the
// selection is outside the list (the job then goes no further).
uint8_t SelectedRateOrRefuse(JobContext& ctx);

// "Open Comport" step: the line, an optional pause, OpenLink into
// rec.m_pLink at `code`, then "OK" or "FAIL" (with the reason when the port
// could not be had). Nothing is said once the job has been stopped; a link
// that did open stays in m_pLink for the caller's clean-up.
bool OpenJobLink(JobContext& ctx, const std::string& port, uint8_t code, bool pauseFirst);

// Moves handset and host to `code` on the open job link; the set-rate line
// appears only when `code` differs from the base rate, the command goes out
// in both cases (the loader expects it before work). "OK" or "FAIL\n";
// `raised` becomes `code` when the handset has taken it.
bool RaiseRate(JobContext& ctx, uint8_t code, uint8_t& raised);

// The two ways to the selected rate. `raise` (the UART way): open at the base
// rate, after the before-open pause when `pauseFirst`, then raise to
// `selected`. Otherwise the link opens directly at `selected` and the handset
// is not asked to change its rate.
bool OpenAtSelectedRate(JobContext& ctx, const std::string& port, bool raise, uint8_t selected, bool pauseFirst,
                        uint8_t& raised);

// After good work: returns a raised handset and the host to the base rate.
// A refused command shows "Error  changing target baud rate : %s\n". True
// when the handset runs at the base rate again; `raised` is the base rate
// afterwards either way (a second try would only repeat the refusal).
bool ReturnToBaseRate(JobContext& ctx, uint8_t& raised);

// The end of a job's link: a raised handset is sent back to the base rate
// without a word (its loader may still be listening after a refused address
// or a failed erase), then the link closes. A stopped job only closes it;
// false then, and the caller says nothing more to the operator.
bool ReleaseJobLink(JobContext& ctx, uint8_t raised);

}  // namespace vantrel::joblink
