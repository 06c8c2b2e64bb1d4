// Port advice: the ModemManager note, the group hint and one process per port.
#include <grp.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "cli/PortAdvice.h"
#include "link/DeviceGroup.h"

namespace vantrel {
namespace {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir() {
    char tmpl[] = "/tmp/vantrel-cli-test-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~ScratchDir() {
    std::error_code ec;
    fs::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(CliPortAdvice, ModemManagerIsFoundByItsProcessName) {
  ScratchDir proc;
  fs::create_directories(proc.path() + "/17");
  fs::create_directories(proc.path() + "/self");
  std::ofstream(proc.path() + "/17/comm") << "bash\n";
  EXPECT_FALSE(ModemManagerRunning(proc.path()));
  fs::create_directories(proc.path() + "/4242");
  std::ofstream(proc.path() + "/4242/comm") << "ModemManager\n";
  EXPECT_TRUE(ModemManagerRunning(proc.path()));
  EXPECT_FALSE(ModemManagerRunning(proc.path() + "/absent"));
}

TEST(CliPortAdvice, NoteOnlyForModemClassDevicesWhileModemManagerRuns) {
  ScratchDir dir;
  std::ofstream(dir.path() + "/ttyACM0") << "";
  std::ofstream(dir.path() + "/ttyUSB0") << "";
  // The tool's COM links lead to the device: the note follows them.
  fs::create_symlink(dir.path() + "/ttyACM0", dir.path() + "/COM7");
  EXPECT_NE(ModemManagerNote(dir.path() + "/COM7", true).find("ttyACM0"), std::string::npos);
  EXPECT_NE(ModemManagerNote(dir.path() + "/ttyACM0", true).find("udev rule"), std::string::npos);
  EXPECT_EQ(ModemManagerNote(dir.path() + "/ttyACM0", false), "");
  EXPECT_EQ(ModemManagerNote(dir.path() + "/ttyUSB0", true), "");
}

TEST(CliPortAdvice, GroupHintWhenTheDeviceMayNotBeOpened) {
  ScratchDir dir;
  std::string dev = dir.path() + "/ttyUSB0";
  std::ofstream(dev) << "";
  EXPECT_EQ(PermissionHint(dir.path() + "/missing"), "");
  chmod(dev.c_str(), 0600);
  EXPECT_EQ(PermissionHint(dev), "");  // our own file
  if (geteuid() == 0) GTEST_SKIP() << "root may open anything";
  chmod(dev.c_str(), 0000);
  EXPECT_NE(PermissionHint(dev).find("you may not open"), std::string::npos);
}

TEST(CliPortAdvice, OneProcessPerPort) {
  ScratchDir dir;
  std::string dev = dir.path() + "/pts9";
  std::ofstream(dev) << "";
  fs::create_symlink(dev, dir.path() + "/COM3");
  std::string why;
  auto first = PortLock::Acquire(dev, &why, dir.path());
  ASSERT_TRUE(first) << why;
  // The same device under its COM link is the same port.
  auto second = PortLock::Acquire(dir.path() + "/COM3", &why, dir.path());
  EXPECT_FALSE(second);
  EXPECT_NE(why.find("in use by another vantrel-cli (pid " + std::to_string(getpid()) + ")"), std::string::npos)
      << why;
  EXPECT_NE(why.find("one process per port"), std::string::npos);
  // Another device is another port.
  std::ofstream(dir.path() + "/pts10") << "";
  EXPECT_TRUE(PortLock::Acquire(dir.path() + "/pts10", &why, dir.path()));
  first.reset();
  EXPECT_TRUE(PortLock::Acquire(dir.path() + "/COM3", &why, dir.path()));
}

// Joining a device's group hands out everything the group owns: only a
// group meant for serial ports is ever named, and only for a character device.
TEST(CliPortAdvice, OnlySerialPortGroupsAreNamed) {
  struct stat uart {};
  const bool haveUart = stat("/dev/ttyS0", &uart) == 0 && S_ISCHR(uart.st_mode);
  const struct {
    const char* group;
    mode_t type;
    bool named;
  } cases[] = {{"dialout", S_IFCHR, true}, {"uucp", S_IFCHR, true},    {"plugdev", S_IFCHR, true},
               {"shadow", S_IFCHR, false}, {"kmem", S_IFCHR, false},   {"disk", S_IFCHR, false},
               {"root", S_IFCHR, false},   {"dialout", S_IFREG, false}};  // a COM link to a file
  for (const auto& c : cases) {
    const group* g = getgrnam(c.group);
    if (g == nullptr) continue;
    SCOPED_TRACE(c.group);
    struct stat st {};
    st.st_mode = c.type | 0660;
    st.st_gid = g->gr_gid;
    const bool uartGroup = haveUart && uart.st_gid == g->gr_gid && g->gr_gid != 0 && c.type == S_IFCHR;
    EXPECT_EQ(JoinableGroup(st), c.named || uartGroup ? c.group : "");
  }
}

// The lock folder is writable by every user: what stands at the lock path may
// have been planted there.
TEST(CliPortAdvice, TheLockFileTouchesNothingButItselfAndGoesAway) {
  ScratchDir dir;
  std::string dev = dir.path() + "/pts9", why;
  std::ofstream(dev) << "";
  std::string lockPath = PortLock::Acquire(dev, &why, dir.path())->Path();
  EXPECT_FALSE(fs::exists(lockPath)) << "the lock file outlived its lock";

  // A link planted at the lock path is not followed: its target keeps its
  // bytes and its mode, and a lock held on it does not make the port busy.
  std::string victim = dir.path() + "/victim";
  std::ofstream(victim) << "secret";
  chmod(victim.c_str(), 0600);
  fs::create_symlink(victim, lockPath);
  const int held = open(victim.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  auto lock = PortLock::Acquire(dev, &why, dir.path());
  close(held);
  ASSERT_TRUE(lock) << why;
  EXPECT_NE(why.find("cannot use the lock file"), std::string::npos) << why;
  EXPECT_EQ(fs::file_size(victim), 6u);
  EXPECT_EQ(fs::status(victim).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  lock.reset();
  EXPECT_TRUE(fs::is_symlink(lockPath));  // not ours to remove
  fs::remove(lockPath);

  // What the holder's file says reaches the terminal escaped.
  lock = PortLock::Acquire(dev, &why, dir.path());
  std::ofstream(lockPath) << "\033]0;owned\007";
  EXPECT_FALSE(PortLock::Acquire(dev, &why, dir.path()));
  EXPECT_EQ(why.find('\033'), std::string::npos) << why;
  EXPECT_NE(why.find("(pid \\x1B]0;owned\\x07)"), std::string::npos) << why;
}

}  // namespace
}  // namespace vantrel
