// Calls from a job's worker thread: they reach the window in order, modal
// calls block the worker until answered, and closing releases the worker.
#include <QCheckBox>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

#include "jobs/ControlIds.h"
#include "link/Stop.h"
#include "tests/console/WindowFixture.h"

using namespace vantrel;
using vantrel::test::WindowTest;

namespace {

// Runs the event loop until `done` or the time is up.
bool PumpUntil(const std::function<bool()>& done, int ms = 10000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done() && std::chrono::steady_clock::now() < end) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

// Answers a message box only when the test says so, keeping the GUI thread
// busy with its own event loop meanwhile (as a real modal box would).
class SlowHost : public ScriptedModalHost {
 public:
  std::atomic<bool> release{false};
  std::atomic<int> asked{0};
  MsgAnswer MessageBox(QWidget* parent, const std::string& text, const std::string& caption,
                       MsgButtons buttons) override {
    ++asked;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
      if (release) loop.quit();
    });
    poll.start(5);
    loop.exec();
    ScriptedModalHost::MessageBox(parent, text, caption, buttons);
    return MsgAnswer::Cancel;
  }
};

}  // namespace

TEST_F(WindowTest, WorkerCallsArriveInTheOrderMade) {
  CDownloaderDlg& w = Window();
  w.LogView()->clear();
  w.show();
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    for (int i = 0; i < 2000; ++i) {
      // Built by appending: GCC 12 at -O3 reports a false -Wrestrict for "literal" + std::string.
      w.AppendLogPlain(std::string("\n<").append(std::to_string(i)).append(">"));
      if (i % 100 == 0) w.AppendLog(std::string("[").append(std::to_string(i)).append("]"), LogKind::Red);
      w.SetControlText(ctl::kTickCount, std::to_string(i));
      w.SetProgressPos(i % 101);
    }
    w.EnterReadyState();
    w.AppendLog("end", LogKind::BlueNote);
    finished = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return w.LogView()->toPlainText().endsWith("end"); }));
  std::string expect;
  for (int i = 0; i < 2000; ++i) {
    expect.append("\n<").append(std::to_string(i)).append(">");
    if (i % 100 == 0) expect.append("[").append(std::to_string(i)).append("]");
  }
  EXPECT_EQ(w.LogView()->toPlainText().toStdString(), expect + "end");
  // EnterReadyState came after the last scratch text.
  EXPECT_EQ(w.ControlText(ctl::kTickCount), " ");
  EXPECT_EQ(w.ControlText(ctl::kStatusCaption), "Ready");
  EXPECT_EQ(w.ControlAs<QProgressBar>(ctl::kProgressBar)->value(), 0);
}

TEST_F(WindowTest, RepeatedEnablesFromAWorkerStayCheapAndCorrect) {
  CDownloaderDlg& w = Window();
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    w.EnterBusyState();
    for (int i = 0; i < 50000; ++i) w.EnableControl(ctl::kCancel, true);  // once per chunk
    w.EnterReadyState();  // disables Cancel again
    w.EnableControl(ctl::kCancel, true);
    w.EnterDisconnectedState();
    w.AppendLog("#done", LogKind::Red);
    finished = true;
  });
  PumpUntil([&] { return finished.load(); });
  worker.join();
  ASSERT_TRUE(PumpUntil([&] { return w.LogView()->toPlainText().endsWith("#done"); }));
  EXPECT_FALSE(w.Control(ctl::kCancel)->isEnabled());
  EXPECT_TRUE(w.Control(ctl::kStart)->isEnabled());

  finished = false;
  std::thread again([&] {
    w.EnterBusyState();
    for (int i = 0; i < 1000; ++i) w.EnableControl(ctl::kCancel, true);
    w.AppendLog("#again", LogKind::Red);
    finished = true;
  });
  PumpUntil([&] { return finished.load(); });
  again.join();
  ASSERT_TRUE(PumpUntil([&] { return w.LogView()->toPlainText().endsWith("#again"); }));
  EXPECT_TRUE(w.Control(ctl::kCancel)->isEnabled());
  EXPECT_FALSE(w.Control(ctl::kStart)->isEnabled());
}

TEST_F(WindowTest, DataExchangeFromAWorkerIsDoneWhenTheCallReturns) {
  CDownloaderDlg& w = Window();
  w.ControlAs<QRadioButton>(ctl::kRadioItem6)->setChecked(true);
  w.ControlAs<QCheckBox>(ctl::kChkCalset)->setChecked(true);
  std::atomic<int> item{-2}, calset{-2};
  std::atomic<bool> finished{false};
  std::thread worker([&] {
    w.ControlsToRecord();
    item = w.Record().m_nDownloadItem;
    calset = w.Record().m_bCalset;
    w.Record().m_nDownloadItem = -1;
    w.RecordToControls();
    finished = true;
  });
  bool done = PumpUntil([&] { return finished.load(); });
  if (!done) w.Shutdown();  // never leave the worker waiting
  worker.join();
  ASSERT_TRUE(done);
  EXPECT_EQ(item.load(), 6);
  EXPECT_EQ(calset.load(), 1);
  EXPECT_FALSE(w.ControlAs<QRadioButton>(ctl::kRadioItem6)->isChecked());
}

TEST_F(WindowTest, AWorkersMessageBoxBlocksItUntilAnswered) {
  SlowHost slow;
  CDownloaderDlg& w = Window();
  w.SetModalHost(&slow);
  std::atomic<bool> returned{false};
  std::atomic<int> answer{-1};
  // While the box is up the GUI thread runs the box's own loop: a timer
  // watches from there, and answers some time after the box came up.
  bool waitedWhileShown = false;
  int ticksShown = 0;
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    if (slow.asked.load() != 1 || ++ticksShown < 10) return;
    waitedWhileShown = !returned.load();
    slow.release = true;
    watcher.stop();
  });
  watcher.start(20);
  std::thread worker([&] {
    w.AppendLog("before", LogKind::Red);
    answer = static_cast<int>(w.MessageBox("Download Finished", "", MsgButtons::Ok));
    returned = true;
    w.AppendLog("after", LogKind::Red);
  });
  ASSERT_TRUE(PumpUntil([&] { return returned.load(); }));
  worker.join();
  EXPECT_TRUE(waitedWhileShown);
  EXPECT_EQ(answer.load(), static_cast<int>(MsgAnswer::Cancel));
  PumpUntil([&] { return w.LogView()->toPlainText().endsWith("after"); });
  EXPECT_TRUE(w.LogView()->toPlainText().endsWith("beforeafter"));
  auto q = slow.Questions();
  ASSERT_EQ(q.size(), 1u);
  EXPECT_EQ(q[0].caption, "VANTREL Downloader");  // an empty caption is the application's name
  w.SetModalHost(&host_);
}

TEST_F(WindowTest, ModalCallsOnTheGuiThreadRunAtOnce) {
  CDownloaderDlg& w = Window();
  host_.QueueConfirm(false);
  host_.QueueSaveFile(std::string("/tmp/x.dmp"));
  host_.QueueNandDumpArea(DumpArea{1, 2, 1});
  EXPECT_EQ(w.MessageBox("Comm Error", "Failure"), MsgAnswer::Ok);
  EXPECT_FALSE(w.Confirm("WARNING!!!!!!!!", {"All NAND flash data are erased.", "Are you sure?"}));
  EXPECT_EQ(w.SaveFileDialog("nanddump0x0_0x1.dmp", "*.dmp|*.dmp||"), std::optional<std::string>("/tmp/x.dmp"));
  auto area = w.NandDumpDialog();
  ASSERT_TRUE(area);
  EXPECT_EQ(area->erase, 1);
  EXPECT_FALSE(w.NorDumpDialog());
  auto q = host_.Questions();
  ASSERT_EQ(q.size(), 5u);
  EXPECT_EQ(q[0].caption, "Failure");
  EXPECT_EQ(q[1].lines.size(), 2u);
  EXPECT_EQ(q[2].text, "nanddump0x0_0x1.dmp");
}

TEST_F(WindowTest, ClosingReleasesAWorkerWaitingForAnAnswer) {
  CDownloaderDlg& w = Window();
  std::atomic<bool> returned{false};
  std::atomic<int> answer{-1};
  std::thread worker([&] {
    answer = static_cast<int>(w.MessageBox("Timeout : No Response at the target phone", "Failure"));
    returned = true;
  });
  // The GUI thread never serves the request; closing must still let it go.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(returned.load());
  w.Shutdown();
  worker.join();
  EXPECT_EQ(answer.load(), static_cast<int>(MsgAnswer::Cancel));
  // Later modal calls are answered at once, and the request left behind
  // asks nothing when it is finally processed.
  EXPECT_FALSE(w.Confirm("t", {}));
  Pump();
  EXPECT_TRUE(host_.Questions().empty());
}

TEST_F(WindowTest, AStopRequestReleasesAWorkerWaitingForTheWindow) {
  CDownloaderDlg& w = Window();
  stop::Clear();
  std::atomic<bool> returned{false};
  std::thread worker([&] {
    w.ControlsToRecord();  // waits for the GUI thread
    returned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  stop::Request();  // what Cancel does while the GUI thread waits for the job
  worker.join();
  EXPECT_TRUE(returned.load());
  stop::Clear();
  Pump();
}
