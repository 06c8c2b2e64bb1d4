// What an operation came to, as the jobs record it: the first failure names
// the kind, the first failure box gives the words, a notice never speaks for
// a failure, and each block belongs to its transfer.
#include <gtest/gtest.h>

#include "jobs/Outcome.h"

namespace vantrel {
namespace {

TEST(OutcomeLog, FirstFailureNamesTheKindAndTheFirstBoxTheWords) {
  OutcomeLog log;
  log.BeginTransfer(ImageItem::Imgset, FlashRegion::Nor);
  log.AddWritten(0x4A0000, 0x20000);
  log.AddWritten(0x4A0000, 0x20000);  // a resend
  log.AddWritten(0x4C0000, 0x1000);
  log.BeginTransfer(ImageItem::Rsrc1, FlashRegion::Nand);
  log.AddWritten(0x4C1000, 0x100);  // right behind the NOR range, yet a range of its own
  log.Fail(FailureKind::Port, Result::ComPort, "/dev/ttyUSB0: busy");
  log.FailWithMessage(FailureKind::Handset, Result::NoResponse, {"Comm Error", "Failure"});
  log.FailWithMessage(FailureKind::Handset, Result::NoResponse, {"Loader download fail", ""});
  log.Notice({"Download Finished", "  NOTICE  "});  // Boot2's box, shown whatever happened
  log.Complete();
  const OperationOutcome o = log.Snapshot();
  EXPECT_FALSE(o.Succeeded());
  EXPECT_EQ(o.failure, FailureKind::Port);
  EXPECT_EQ(o.result, Result::ComPort);
  EXPECT_EQ(FailureReason(o), "Comm Error (/dev/ttyUSB0: busy)");
  EXPECT_EQ(MergeRanges(o.Written()), (std::vector<FlashRange>{{FlashRegion::Nor, 0x4A0000, 0x21000},
                                                                {FlashRegion::Nand, 0x4C1000, 0x100}}));
  log.Reset();
  log.Complete();
  EXPECT_TRUE(log.Snapshot().Succeeded());
}

}  // namespace
}  // namespace vantrel
