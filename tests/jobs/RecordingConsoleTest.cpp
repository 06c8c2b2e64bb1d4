#include "tests/support/RecordingConsole.h"

#include <gtest/gtest.h>

#include <thread>

namespace vantrel::test {
namespace {

TEST(RecordingConsoleTest, RecordsInOrderAndAnswersFromTheScript) {
  RecordingConsole con;
  con.QueueMessageAnswer(MsgAnswer::Cancel);
  con.QueueConfirm(false);
  con.QueueNandDumpArea(DumpArea{0x100000, 0x200000, 1});

  con.AppendLog("\n  * Heading", LogKind::Red);
  con.AppendLogPlain("plain ");
  con.AppendLog(" ", LogKind::Scratch);
  con.SetLinkIndicator("Disconnect", IndicatorKind::FlashIdBlue);
  con.SetControlText(1119, "EC14");
  con.EnableControl(1090, true);
  con.EnterReadyState();
  EXPECT_EQ(con.MessageBox("Wrong BaudRate", "Failure", MsgButtons::OkCancel), MsgAnswer::Cancel);
  EXPECT_EQ(con.MessageBox("again", "", MsgButtons::Ok), MsgAnswer::Ok);  // script used up
  EXPECT_FALSE(con.Confirm("WARNING!!!!!!!!", {"a", "b"}));
  EXPECT_TRUE(con.Confirm("t", {}));
  auto area = con.NandDumpDialog();
  ASSERT_TRUE(area.has_value());
  EXPECT_EQ(area->to, 0x200000u);
  EXPECT_FALSE(con.NorDumpDialog().has_value());
  EXPECT_FALSE(con.SaveFileDialog("x.dmp", "").has_value());
  con.SetDefaultSavePath("/tmp/y.dmp");
  EXPECT_EQ(con.SaveFileDialog("x.dmp", "").value(), "/tmp/y.dmp");

  EXPECT_EQ(con.Log(), "\n  * Headingplain ");
  EXPECT_EQ(con.IndicatorText(1119), "EC14");
  EXPECT_EQ(con.Enabled(1090), true);
  EXPECT_FALSE(con.Enabled(1089).has_value());
  EXPECT_EQ(con.LastState(), "Ready");
  auto boxes = con.MessageBoxes();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].ShownCaption(), "Failure");
  EXPECT_EQ(boxes[1].ShownCaption(), kAppName);
}

TEST(RecordingConsoleTest, WaitsForCallsFromAnotherThreadAndRunsTheHook) {
  RecordingConsole con;
  int hooked = 0;
  con.SetHook([&](const ConsoleCall& c) {
    if (c.type == CallType::Busy) ++hooked;
  });
  size_t mark = con.Count();
  std::thread t([&] {
    for (int i = 0; i < 100; ++i) con.AppendLogPlain(".");
    con.EnterBusyState();
    con.AppendLog("done", LogKind::Blue);
  });
  EXPECT_TRUE(con.WaitForLog("done", mark));
  t.join();
  EXPECT_EQ(hooked, 1);
  EXPECT_FALSE(con.WaitForLog("never", mark, std::chrono::milliseconds(10)));
}

}  // namespace
}  // namespace vantrel::test
