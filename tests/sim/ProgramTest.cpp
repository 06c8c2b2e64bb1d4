// The vantrel-sim program: its options, its announcement, power by signal.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "tests/sim/SimHost.h"
#include "tests/support/FastTiming.h"
#include "tests/support/ScratchConfig.h"

extern char** environ;

namespace vantrel::sim {
namespace {

using namespace vantrel::sim::test;

struct Program {
  pid_t pid = -1;
  std::FILE* out = nullptr;

  bool Start(std::vector<std::string> args) {
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    args.insert(args.begin(), VANTREL_SIM_PROGRAM);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int rc = posix_spawn(&pid, VANTREL_SIM_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    out = ::fdopen(pipeFds[0], "r");
    return rc == 0;
  }
  std::string Line() {
    char buf[256] = {};
    if (out == nullptr || std::fgets(buf, sizeof buf, out) == nullptr) return {};
    return buf;
  }
  int Stop(int sig = SIGTERM) {
    int status = -1;
    if (pid > 0) {
      ::kill(pid, sig);
      ::waitpid(pid, &status, 0);
      pid = -1;
    }
    if (out) std::fclose(out);
    out = nullptr;
    return status;
  }
  ~Program() { Stop(SIGKILL); }
};

TEST(SimProgram, HelpNamesEveryOption) {
  Program p;
  ASSERT_TRUE(p.Start({"--help"}));
  std::string text, line;
  while (!(line = p.Line()).empty()) text += line;
  int status = -1;
  ::waitpid(p.pid, &status, 0);
  p.pid = -1;
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (const char* opt : {"--com", "--state-dir", "--usb", "--boot-byte", "--nand-id", "--nor-id", "--block-size",
                          "--pace", "--fallback-on-quiet", "--fallback-quiet-ms", "--time-scale", "--raw-address",
                          "--raw-length", "--no-auto-power", "--power-on-delay", "--power-cycle-when-quiet",
                          "--control", "--fault", "--transcript", "--verbose", "SIGUSR1", "SIGUSR2"}) {
    EXPECT_NE(text.find(opt), std::string::npos) << opt;
  }
}

TEST(SimProgram, RefusesUnknownOptionsAndBadFaults) {
  for (std::vector<std::string> args : {std::vector<std::string>{"--bogus"}, {"--fault", "resend:0"}, {"--com", "51"}}) {
    Program p;
    ASSERT_TRUE(p.Start(args));
    int status = -1;
    ::waitpid(p.pid, &status, 0);
    p.pid = -1;
    EXPECT_EQ(WEXITSTATUS(status), 2) << args[0];
  }
}

TEST(SimProgram, ServesACommandSwitchesPowerBySignalAndEndsOnTerm) {
  vantrel::test::ScratchConfig config;
  vantrel::test::FastTimingScope timing;
  Program p;
  ASSERT_TRUE(p.Start({"--com", "9", "--time-scale", "0"}));
  const std::string first = p.Line();
  ASSERT_EQ(first.rfind("COM9 -> /dev/pts/", 0), 0u) << first;
  Host h("COM9");
  h.Open();
  EXPECT_EQ(h.RecvByte(), 0xA5);
  h.Send(0xB9);
  EXPECT_EQ(h.RecvByte(), 0xB9);
  ::kill(p.pid, SIGUSR1);  // off and on again: a new BOOT byte
  EXPECT_EQ(h.RecvByte(), 0xA5);
  h.Close();
  const int status = p.Stop(SIGTERM);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
}  // namespace vantrel::sim
