// What an operation came to, as the jobs record it: the first failure names
// the kind, the first failure box gives the words, and a notice never speaks
// for a failure.
#include <gtest/gtest.h>

#include "jobs/Outcome.h"

namespace vantrel {
namespace {

TEST(OutcomeLog, FirstFailureNamesTheKindAndTheFirstBoxTheWords) {
  OutcomeLog log;
  log.Notice({"Start Address check OK!!", ""});
  log.Fail(FailureKind::Port, Result::ComPort, "/dev/ttyUSB0: busy");
  log.FailWithMessage(FailureKind::Handset, Result::NoResponse, {"Comm Error", "Failure"});
  log.FailWithMessage(FailureKind::Handset, Result::NoResponse, {"Loader download fail", ""});
  log.Notice({"Download Finished", "  NOTICE  "});  // Boot2's box, shown whatever happened
  log.Complete();
  OperationOutcome o = log.Snapshot();
  EXPECT_FALSE(o.Succeeded());
  EXPECT_EQ(o.failure, FailureKind::Port);
  EXPECT_EQ(o.result, Result::ComPort);
  EXPECT_EQ(o.message.caption, "Failure");
  EXPECT_EQ(FailureReason(o), "Comm Error (/dev/ttyUSB0: busy)");

  log.Reset();
  log.Notice({"All Download Finished", "NOTICE"});
  log.Complete();
  o = log.Snapshot();
  EXPECT_TRUE(o.Succeeded());
  EXPECT_EQ(o.message.text, "All Download Finished");
  log.Interrupt();
  EXPECT_EQ(log.Snapshot().failure, FailureKind::Interrupted);
}

TEST(OutcomeLog, BlocksBelongToTheirTransferAndJoinWhereTheyTouch) {
  OutcomeLog log;
  log.BeginTransfer(ImageItem::Imgset, FlashRegion::Nor);
  log.AddWritten(0x4A0000, 0x20000);
  log.AddWritten(0x4A0000, 0x20000);  // a resend
  log.AddWritten(0x4C0000, 0x1000);
  log.BeginTransfer(ImageItem::Calset, FlashRegion::Nand);  // wrote nothing
  log.BeginTransfer(ImageItem::Rsrc1, FlashRegion::Nand);
  log.AddWritten(0x4C1000, 0x100);
  const OperationOutcome o = log.Snapshot();
  ASSERT_EQ(o.transfers.size(), 3u);
  EXPECT_TRUE(o.transfers[1].blocks.empty());
  EXPECT_EQ(o.Written().size(), 4u);
  // The NAND block right behind the NOR range stays a range of its own.
  EXPECT_EQ(MergeRanges(o.Written()), (std::vector<FlashRange>{{FlashRegion::Nor, 0x4A0000, 0x21000},
                                                                {FlashRegion::Nand, 0x4C1000, 0x100}}));
}

}  // namespace
}  // namespace vantrel
