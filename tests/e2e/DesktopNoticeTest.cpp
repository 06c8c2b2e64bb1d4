// The window's desktop notice on a real session bus: a private dbus-daemon
// started for this program, with a stand-in notification service on it. A
// long job that ends while the operator looks at another window sends one
// Notify with the job's result; a short job, or a job the operator watched,
// sends none.
//
// A program of its own: the toolkit keeps the first session bus it meets for
// the whole process, so the private bus must be in place before anything in
// the process could open one.
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QWidget>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "jobs/Console.h"
#include "tests/e2e/WindowSimFixture.h"

namespace vantrel::test {
namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QString g_busAddress;        // empty: no private bus
bool g_busInstalled = true;  // false: there is no dbus-daemon to start

// The desktop's notification service, reduced to what the window calls. The
// toolkit may call it on its bus thread, hence the lock.
class NotificationStandIn : public QDBusVirtualObject {
 public:
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
    if (message.member() == QLatin1String("Notify")) {
      std::lock_guard<std::mutex> lock(mutex_);
      notices_.push_back(message.arguments());
    }
    connection.send(message.createReply());
    return true;
  }
  QString introspect(const QString&) const override { return {}; }
  std::vector<QList<QVariant>> Notices() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return notices_;
  }

 private:
  mutable std::mutex mutex_;
  std::vector<QList<QVariant>> notices_;  // each Notify's arguments
};

class DesktopNoticeTest : public WindowSimTest {
 protected:
  void SetUp() override {
    if (!g_busInstalled) GTEST_SKIP() << "dbus-daemon is not installed: no private session bus";
    ASSERT_FALSE(g_busAddress.isEmpty()) << "dbus-daemon --session did not start";
    WindowSimTest::SetUp();
    service_ = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("notification-stand-in"));
    ASSERT_TRUE(service_.registerVirtualObject(kPath, &standIn_));
    ASSERT_TRUE(service_.registerService(kService)) << service_.lastError().message().toStdString();
  }
  void TearDown() override {
    if (g_busAddress.isEmpty()) return;
    WindowSimTest::TearDown();
    QDBusConnection::disconnectFromBus(QStringLiteral("notification-stand-in"));
  }

  // The operator turns to another window, or back to this one.
  void Activate(QWidget& w) {
    w.show();
    w.activateWindow();
    ASSERT_TRUE(PumpUntil([&] { return w.isActiveWindow(); }, 5000)) << "the window did not become active";
  }

  // Every notice the window sent so far. A call of the window's own bus
  // connection goes last: the bus delivers one sender's messages in order,
  // so once it is answered, every Notify sent before it has arrived. The
  // window's thread keeps its events running meanwhile, in case the stand-in
  // answers there.
  std::vector<QList<QVariant>> NoticesSent() {
    QDBusMessage ask = QDBusMessage::createMethodCall(kService, kPath, kService, QStringLiteral("GetServerInformation"));
    const QDBusMessage answer = QDBusConnection::sessionBus().call(ask, QDBus::BlockWithGui, 10000);
    EXPECT_EQ(answer.type(), QDBusMessage::ReplyMessage) << answer.errorMessage().toStdString();
    return standIn_.Notices();
  }

  // An image set of one record, chosen and written with DOWNLOAD: the
  // protocol's pauses make it a job of some fourteen seconds on the jobs'
  // clock, though they run scaled down here.
  void DownloadImageSet() {
    ChooseFile(ctl::kImgsetButton, WriteRecordFile("out/imgset.img", {{0x4A0000, Pattern(0x800, 1)}}));
    ChooseItem(ctl::kRadioItem5);
    Press(ctl::kDownload);
    ASSERT_EQ(Text(ctl::kStatusCaption), "Ready");
  }

  NotificationStandIn standIn_;
  QDBusConnection service_{QString()};
  QWidget elsewhere_;
};

TEST_F(DesktopNoticeTest, ALongJobThatEndsWhileTheOperatorIsAwaySendsOneNoticeWithItsResult) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Activate(Window()));
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  ASSERT_NO_FATAL_FAILURE(Activate(elsewhere_));
  ASSERT_NO_FATAL_FAILURE(DownloadImageSet());
  const std::vector<QList<QVariant>> sent = NoticesSent();
  ASSERT_EQ(sent.size(), 1u);
  // app_name, replaces_id, app_icon, summary, body, ...
  ASSERT_EQ(sent[0].size(), 8);
  EXPECT_EQ(sent[0][0].toString().toStdString(), kAppName);
  EXPECT_EQ(sent[0][2].toString(), QStringLiteral("vantrel-downloader"));
  EXPECT_EQ(sent[0][3].toString(), QStringLiteral("Download finished"));
  // "after 14 s": the job's time, at least the notice's ten seconds.
  const std::string body = sent[0][4].toString().toStdString();
  ASSERT_EQ(body.rfind("after ", 0), 0u) << body;
  EXPECT_GE(std::atoi(body.c_str() + 6), 10) << body;
}

// A job the operator watched sends nothing, and neither does a short one
// that ended while they were away.
TEST_F(DesktopNoticeTest, AShortJobOrAWatchedOneSendsNone) {
  StartHandset();
  ASSERT_NO_FATAL_FAILURE(Activate(Window()));
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  ASSERT_NO_FATAL_FAILURE(DownloadImageSet());
  EXPECT_TRUE(NoticesSent().empty());

  ASSERT_NO_FATAL_FAILURE(Activate(elsewhere_));
  Press(ctl::kDisconnect);
  SwitchHandsetOff();
  SwitchHandsetOn();
  ASSERT_NO_FATAL_FAILURE(Connect(false, kBaud921K));
  EXPECT_TRUE(NoticesSent().empty());
}

// The bus runs as a child that the kernel stops when this program ends, also
// when a time limit kills it. It prints its address once it listens.
pid_t StartPrivateBus() {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return 0;
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    // Its complaints about a container's limits are no test's business.
    if (const int devNull = ::open("/dev/null", O_WRONLY); devNull >= 0) ::dup2(devNull, STDERR_FILENO);
    ::dup2(pipeFds[1], STDOUT_FILENO);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address=1", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  std::FILE* out = ::fdopen(pipeFds[0], "r");
  char address[1024] = {};
  const bool read = out != nullptr && std::fgets(address, sizeof address, out) != nullptr;
  if (out != nullptr) std::fclose(out);
  if (pid < 0) return 0;
  if (!read) {  // 127: no dbus-daemon to run
    int status = 0;
    ::waitpid(pid, &status, 0);
    g_busInstalled = !(WIFEXITED(status) && WEXITSTATUS(status) == 127);
    return 0;
  }
  g_busAddress = QString::fromLocal8Bit(address).trimmed();
  return pid;
}

}  // namespace
}  // namespace vantrel::test

int main(int argc, char** argv) {
  bool listing = false;
  for (int i = 1; i < argc; ++i) listing = listing || std::strncmp(argv[i], "--gtest_list_tests", 18) == 0;
  const pid_t bus = listing ? 0 : vantrel::test::StartPrivateBus();
  if (bus > 0) qputenv("DBUS_SESSION_BUS_ADDRESS", vantrel::test::g_busAddress.toLocal8Bit());
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  int rc = 0;
  {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    rc = RUN_ALL_TESTS();
  }
  if (bus > 0) {
    ::kill(bus, SIGTERM);
    ::waitpid(bus, nullptr, 0);
  }
  return rc;
}
