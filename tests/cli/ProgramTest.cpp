// The real vantrel-cli program, spawned as a process, on the paths that need
// no handset: arguments, exit statuses, JSON on standard output, a silent
// line, a refused confirmation, one process per port, Ctrl-C.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "CliProcess.h"
#include "JsonCheck.h"
#include "cli/ExitStatus.h"
#include "link/ComNames.h"
#include "payloads/Payloads.h"
#include "tests/support/PtyPair.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::cli {
namespace {

using test::CliProcess;
using test::CliResult;
using test::RunCli;

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  for (std::string l; std::getline(ss, l);) out.push_back(l);
  return out;
}

// Every line on standard output is one JSON object; returns them parsed.
std::vector<test::JsonLine> JsonEvents(const std::string& out) {
  std::vector<test::JsonLine> events;
  for (const std::string& line : Lines(out)) {
    test::JsonLine j;
    EXPECT_TRUE(j.Parse(line)) << "not one JSON object: " << line;
    events.push_back(j);
  }
  return events;
}

class CliProgram : public ::testing::Test {
 protected:
  // Fast protocol timing, but idle budgets long enough for a loaded machine.
  std::vector<std::string> Fast() { return {"--pause-scale", "0", "--poll-scale", "0.1"}; }
  std::string Scratch(const std::string& name) { return config_.Root() + "/" + name; }
  vantrel::test::ScratchConfig config_;
};

TEST_F(CliProgram, BadArgumentsAreRefusedWithStatusTwo) {
  CliResult r = RunCli({"connect"});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_NE(r.err.find("give the port with --port"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("--help"), std::string::npos);
  EXPECT_EQ(r.out, "");

  r = RunCli({"--json", "-p", "COM1", "download", "imgset"});
  EXPECT_EQ(r.status, kExitUsage);
  auto events = JsonEvents(r.out);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].Get("event"), "exit");
  EXPECT_EQ(events[0].Get("status"), "2");
  EXPECT_NE(events[0].Get("reason").find("needs a FILE"), std::string::npos);

  r = RunCli({"-p", "LPT1", "connect"});
  EXPECT_EQ(r.status, kExitUsage);
  EXPECT_NE(r.err.find("COM1..COM50"), std::string::npos) << r.err;

  r = RunCli({"--help"});
  EXPECT_EQ(r.status, kExitOk);
  EXPECT_NE(r.out.find("Usage: vantrel-cli"), std::string::npos);
}

TEST_F(CliProgram, InfoPrintsSizeAndChecksum) {
  std::string file = Scratch("three.bin");
  std::ofstream(file, std::ios::binary) << std::string("\x01\x02\xFF", 3);
  CliResult r = RunCli({"info", file});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_EQ(r.out, file + "\nFile size : 3 byte\nChecksum : 0x102\n");

  r = RunCli({"--json", "info", file, "info", Scratch("missing.bin")});
  EXPECT_EQ(r.status, kExitFile);
  auto events = JsonEvents(r.out);
  ASSERT_GE(events.size(), 6u);
  EXPECT_EQ(events[0].Get("event"), "start");
  EXPECT_EQ(events[2].Get("event"), "info");
  EXPECT_EQ(events[2].Get("size"), "3");
  EXPECT_EQ(events[2].Get("checksum"), "0x102");
  EXPECT_EQ(events.back().Get("event"), "exit");
  EXPECT_EQ(events.back().Get("succeeded"), "1");
  EXPECT_EQ(events.back().Get("failure"), "file");

  // Past 4 GiB the real size (a sparse file: its holes add nothing), and a
  // FIFO is refused at once instead of blocking the open.
  std::string big = Scratch("big.bin");
  { std::ofstream(big, std::ios::binary) << std::string("\x01\x02\xFF", 3); }
  ASSERT_EQ(::truncate(big.c_str(), (off_t{1} << 32) + 3), 0);
  { std::fstream(big, std::ios::binary | std::ios::in | std::ios::out | std::ios::ate) << '\x05'; }
  std::string fifo = Scratch("info.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  r = RunCli({"info", big, "info", fifo}, 60000);
  EXPECT_FALSE(r.timedOut);
  EXPECT_EQ(r.status, kExitFile);
  EXPECT_NE(r.out.find(big + "\nFile size : 4294967300 byte\nChecksum : 0x107\n"), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("cannot read " + fifo + ": it is not a regular file"), std::string::npos) << r.err;
}

// The machine's own ports vary; a name linked in the settings folder, as the
// simulator links itself, is always listed with its target.
TEST_F(CliProgram, ListPortsShowsLinkedNamesAsTextAndJson) {
  vantrel::test::PtyPair line;
  ASSERT_EQ(0, vantrel::MapComPort(7, line.SlavePath()));
  CliResult r = RunCli({"--list-ports"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  EXPECT_NE(r.out.find("COM7  " + line.SlavePath() + "  pseudo-terminal\n"), std::string::npos) << r.out;

  r = RunCli({"--list-ports", "--json"});
  EXPECT_EQ(r.status, kExitOk) << r.err;
  int com7 = 0;
  for (const test::JsonLine& e : JsonEvents(r.out)) {
    EXPECT_EQ(e.Get("event"), "port");
    if (e.Get("com") != "COM7") continue;
    ++com7;
    EXPECT_EQ(e.Get("path"), line.SlavePath());
    EXPECT_EQ(e.Get("present"), "true");
    EXPECT_EQ(e.Get("linked"), "true");
  }
  EXPECT_EQ(com7, 1) << r.out;
}

TEST_F(CliProgram, APortThatDoesNotExistIsAPortFailure) {
  CliResult r = RunCli({"-p", Scratch("ttyUSB9"), "connect"});
  EXPECT_EQ(r.status, kExitPort);
  EXPECT_NE(r.err.find("cannot be opened"), std::string::npos) << r.err;
}

TEST_F(CliProgram, SilentHandsetTimesOutAndStandardOutputStaysPureJson) {
  vantrel::test::PtyPair pty;
  auto args = Fast();
  for (const char* a : {"--json", "-p", pty.SlavePath().c_str(), "connect"}) args.push_back(a);
  CliResult r = RunCli(args);
  EXPECT_EQ(r.status, kExitHandset) << r.err;
  auto events = JsonEvents(r.out);  // the link's open marks must not reach it
  bool timeoutBox = false;
  for (const auto& e : events) {
    if (e.Get("event") == "message" && e.Get("caption") == "Failure")
      timeoutBox = e.Get("text") == "Timeout : No Response at the target phone";
  }
  EXPECT_TRUE(timeoutBox) << r.out;
  ASSERT_GE(events.size(), 2u);
  const auto& end = events[events.size() - 2];
  EXPECT_EQ(end.Get("event"), "operation");
  EXPECT_EQ(end.Get("ok"), "false");
  EXPECT_EQ(end.Get("failure"), "handset");
  EXPECT_EQ(end.Get("reason"), "Timeout : No Response at the target phone");
}

TEST_F(CliProgram, AReaderThatGoesAwayDoesNotStopTheRun) {
  vantrel::test::PtyPair pty;
  auto args = Fast();
  for (const char* a : {"--json", "-p", pty.SlavePath().c_str(), "connect"}) args.push_back(a);
  CliProcess p(test::CliProgram(), args);
  p.CloseOutput();  // the line controller closes its end of the pipe at once
  CliResult r = p.Finish();
  // Not killed by SIGPIPE: the connect ran to its own end (no handset here).
  EXPECT_EQ(r.status, kExitHandset) << r.err;
}

TEST_F(CliProgram, TextLogHasNoColoursWhenNotATerminal) {
  vantrel::test::PtyPair pty;
  auto args = Fast();
  for (const char* a : {"-p", pty.SlavePath().c_str(), "connect"}) args.push_back(a);
  CliResult r = RunCli(args);
  EXPECT_EQ(r.status, kExitHandset);
  if (BuiltInPayloadsAreStandIns()) {
    EXPECT_EQ(r.out.rfind(std::string(kStandInPayloadsNotice) + "\n", 0), 0u) << r.out;
  }
  EXPECT_NE(r.out.find("  * Connecting to target phone"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("Listen for the BOOT signal\t\t\t> > > FAIL"), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\033'), std::string::npos);
  EXPECT_NE(r.err.find("Failure: Timeout : No Response at the target phone"), std::string::npos) << r.err;

  args.push_back("--color=always");
  r = RunCli(args);
  EXPECT_NE(r.out.find("\n\033[31m  * Connecting to target phone\033[0m"), std::string::npos) << r.out;
}

// A partly filled payload folder: the first line says why, and the run ends
// before the port is touched.
TEST_F(CliProgram, RefusedPayloadFolderEndsTheRunBeforeThePort) {
  vantrel::test::PtyPair pty;
  std::ofstream(Scratch("boot2.img")) << "short";
  CliResult r = RunCli({"--payload-dir", config_.Root(), "-p", pty.SlavePath(), "connect"});
  EXPECT_EQ(r.status, kExitFile);
  const std::string first = Lines(r.out).empty() ? "" : Lines(r.out)[0];
  EXPECT_EQ(first.rfind("handset payloads refused: missing in " + config_.Root() + ": sdraminit.img (2656 bytes)", 0), 0u)
      << r.out;
  EXPECT_NE(first.find(Scratch("boot2.img") + ": 5 bytes, 190380 expected"), std::string::npos) << first;
  EXPECT_EQ(r.out.find("Connecting"), std::string::npos) << r.out;
}

TEST_F(CliProgram, RefusedConfirmationTouchesNothing) {
  vantrel::test::PtyPair pty;
  auto args = Fast();
  for (const char* a : {"-p", pty.SlavePath().c_str(), "erase", "all"}) args.push_back(a);
  CliResult r = RunCli(args);  // standard input is not a terminal, no --yes
  EXPECT_EQ(r.status, kExitNotConfirmed) << r.err;
  EXPECT_NE(r.err.find("give --yes"), std::string::npos) << r.err;

  // The NOR row writes below an address with low bits set: the address it
  // will use is shown and asked for, and one it cannot reduce is refused.
  std::ofstream(Scratch("nor.img")) << "image";
  args = Fast();
  for (const char* a : {"-p", pty.SlavePath().c_str(), "download", "nor"}) args.push_back(a);
  args.push_back(Scratch("nor.img"));
  args.push_back("20003");
  r = RunCli(args);
  EXPECT_EQ(r.status, kExitNotConfirmed) << r.err;
  EXPECT_NE(r.err.find("written into NOR at 0x1F403 (0x20003 less its low 7 bits x 1024)"), std::string::npos)
      << r.err;
  args.back() = "7F";
  r = RunCli(args);
  EXPECT_EQ(r.status, kExitUsage) << r.err;
  EXPECT_NE(r.err.find("falls below 0"), std::string::npos) << r.err;
  EXPECT_TRUE(pty.Drain(100).empty());
}

TEST_F(CliProgram, InputProblemsStopBeforeTheHandset) {
  vantrel::test::PtyPair pty;
  auto args = Fast();
  for (const char* a : {"-p", pty.SlavePath().c_str(), "download", "imgset"}) args.push_back(a);
  args.push_back(Scratch("none.img"));
  CliResult r = RunCli(args);
  EXPECT_EQ(r.status, kExitFile);
  EXPECT_NE(r.err.find("none.img: No such file or directory"), std::string::npos) << r.err;

  // A record file without a complete record, or whose records hold no data
  // byte at all, names the file and why.
  const std::pair<std::string, const char*> badRecords[] = {
      {std::string("\x01\x02\x03\x04\x05", 5), "It holds no complete record: 5 bytes at offset 0 (0x0)."},
      {std::string("\x00\x00\x4A\x00\x00\x00\x00\x00", 8),
       "Its records hold no data bytes: there is nothing to write."}};
  for (const auto& [bytes, why] : badRecords) {
    args.back() = Scratch("bad.img");
    std::ofstream(args.back(), std::ios::binary) << bytes;
    r = RunCli(args);
    EXPECT_EQ(r.status, kExitFile) << r.err;
    EXPECT_NE(r.err.find("FAILED (file): Image file format error"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(args.back()), std::string::npos);
    EXPECT_NE(r.err.find(why), std::string::npos) << r.err;
  }

  // A dump onto a link whose target is missing asks as for an existing file;
  // refused, it creates nothing.
  const std::string target = Scratch("target.dmp");
  const std::string link = Scratch("link.dmp");
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  args = Fast();
  for (const char* a : {"-p", pty.SlavePath().c_str(), "nand-dump", "0", "FFFF"}) args.push_back(a);
  args.push_back(link);
  r = RunCli(args);
  EXPECT_EQ(r.status, kExitNotConfirmed) << r.err;
  EXPECT_NE(r.err.find(link + " exists and was not overwritten"), std::string::npos) << r.err;
  EXPECT_FALSE(std::ifstream(target).good());

  // A dump range the job refuses is a bad argument.
  args = Fast();
  for (const char* a : {"-p", pty.SlavePath().c_str(), "nand-dump", "0", "8000000"}) args.push_back(a);
  args.push_back(Scratch("x.dmp"));
  r = RunCli(args);
  EXPECT_EQ(r.status, kExitUsage) << r.err;
  EXPECT_NE(r.err.find("Error: Dump range invalid"), std::string::npos) << r.err;
  EXPECT_TRUE(pty.Drain(100).empty());
}

// An image that cannot be read (a link to itself: not even root reads it),
// named for a chain: a file failure before the port is touched.
TEST_F(CliProgram, UnreadableChainImageIsAFileFailure) {
  vantrel::test::PtyPair pty;
  const std::string loop = Scratch("loop.img");
  ASSERT_EQ(::symlink(loop.c_str(), loop.c_str()), 0);
  auto args = Fast();
  for (const char* option : {"--imgset", "--rsrc1", "--rsrc2", "--fs"}) args.insert(args.end(), {option, loop});
  args.insert(args.end(), {"-p", pty.SlavePath(), "download", "all"});
  CliResult r = RunCli(args);
  EXPECT_EQ(r.status, kExitFile) << r.err;
  EXPECT_NE(r.err.find("cannot use the image set file " + loop), std::string::npos) << r.err;
  EXPECT_TRUE(pty.Drain(50).empty());
}

TEST_F(CliProgram, SecondProcessOnTheSamePortIsRefused) {
  vantrel::test::PtyPair pty;
  // The first one listens for the BOOT byte for a good while.
  CliProcess first(test::CliProgram(), {"--poll-scale", "1", "-p", pty.SlavePath(), "connect"});
  ASSERT_TRUE(first.WaitForErr("[1/1] connect", 20000));
  CliResult second = RunCli({"-p", pty.SlavePath(), "connect"});
  EXPECT_EQ(second.status, kExitPort);
  EXPECT_NE(second.err.find("in use by another vantrel-cli (pid " + std::to_string(first.Pid()) + ")"),
            std::string::npos)
      << second.err;
  // Ctrl-C cancels the first one's job, as the window's Cancel does.
  first.Signal(SIGINT);
  CliResult r = first.Finish(20000);
  EXPECT_EQ(r.status, kExitInterrupted) << r.err;
  EXPECT_NE(r.out.find("CANCELED"), std::string::npos) << r.out;
  EXPECT_FALSE(r.timedOut);
}

}  // namespace
}  // namespace vantrel::cli
