// Child processes and the wait over their pipes, on both platforms, against
// the small child program built beside this one (child/Child.cpp).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Process.h"

namespace vantrel::platform {
namespace {

using std::chrono::milliseconds;

std::string ChildProgram() { return ProgramIn(OwnFolder(), "platform_child"); }

struct Ran {
  std::string out, err;
  ChildExit end;
};

// Reads both pipes through the watch until they close, then waits.
Ran Drain(ChildProcess& child, ChildWatch& watch) {
  Ran r;
  while (child.Open(ChildPipe::Out) || child.Open(ChildPipe::Err))
    for (const auto& [i, pipe] : watch.Wait({&child}, milliseconds(-1)))
      child.Read(pipe, pipe == ChildPipe::Out ? r.out : r.err);
  r.end = child.Wait();
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t from = 0;
  for (size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
    std::string line = text.substr(from, nl - from);
    if (!line.empty() && line.back() == '\r') line.pop_back();  // a Windows program's text mode
    lines.push_back(line);
  }
  return lines;
}

TEST(ChildProcess, ArgumentsArriveAsGivenAndBothPipesArriveWhole) {
  ASSERT_FALSE(ChildProgram().empty()) << "no platform_child beside the test in " << OwnFolder();
  // Spaces, quotes and backslashes survive the Windows command line, and so
  // does text outside any one code page.
  const std::vector<std::string> args = {"args",       "plain",    "", "two words", "a\"quote",
                                         "trailing\\", "x\\\\\"y", "\\\\", "Прошивка-ü-日本.img"};
  ChildWatch watch;
  ChildProcess child;
  std::string error;
  ASSERT_TRUE(child.Start(ChildProgram(), args, watch, &error)) << error;
  const Ran echoed = Drain(child, watch);
  EXPECT_EQ(Lines(echoed.out), std::vector<std::string>(args.begin() + 1, args.end()));
  EXPECT_TRUE(echoed.end.exited);
  EXPECT_EQ(echoed.end.status, 0);

  // More than the pipe and the reader's buffer hold: nothing is lost while
  // the child waits for room, and its status comes back.
  ASSERT_TRUE(child.Start(ChildProgram(), {"spew", "1200000", "7"}, watch, &error)) << error;
  const Ran spewed = Drain(child, watch);
  EXPECT_EQ(Lines(spewed.out).size(), 12000u);
  EXPECT_EQ(Lines(spewed.err), std::vector<std::string>{"done"});
  EXPECT_TRUE(spewed.end.exited);
  EXPECT_EQ(spewed.end.status, 7);
}

TEST(ChildProcess, AMissingProgramFailsToStartAndAKilledOneSaysSo) {
  ChildWatch watch;
  ChildProcess missing;
  std::string error;
  EXPECT_FALSE(missing.Start(OwnFolder() + "/no-such-program", {}, watch, &error));
  EXPECT_NE(error.find("no-such-program"), std::string::npos) << error;
  EXPECT_FALSE(missing.Running());

  ChildProcess child;
  ASSERT_TRUE(child.Start(ChildProgram(), {"wait"}, watch, &error)) << error;
  std::string out;
  while (out.find("ready") == std::string::npos)
    for (const auto& [i, pipe] : watch.Wait({&child}, milliseconds(-1))) child.Read(pipe, out);
  child.Kill();
  const Ran r = Drain(child, watch);
  EXPECT_FALSE(r.end.exited);
  EXPECT_EQ(r.end.status, 128 + 9);
  EXPECT_FALSE(r.end.cause.empty());
}

TEST(ChildWatch, WakeEndsAWaitAndATimeOutReturnsNothing) {
  ChildWatch watch;
  watch.Wake();
  EXPECT_TRUE(watch.Wait({nullptr}, milliseconds(-1)).empty());  // returns at once: woken before
  EXPECT_TRUE(watch.Wait({}, milliseconds(1)).empty());
}

}  // namespace
}  // namespace vantrel::platform
