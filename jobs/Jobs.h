#pragma once
// All the job steps and jobs the thread procedures chain, for callers that
// use many of them. Each returns true on success; a failing job has already
// reported its own failure (log line and message box) before it returns.
#include "jobs/BootloaderJob.h"
#include "jobs/Callbacks.h"
#include "jobs/Connect.h"
#include "jobs/EraseFormatJobs.h"
#include "jobs/FlashDriver.h"
#include "jobs/JobHelpers.h"
#include "jobs/NandDownloadJob.h"
#include "jobs/NorDownloadJob.h"
