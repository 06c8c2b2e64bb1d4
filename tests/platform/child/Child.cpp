// A child for the process tests, the same on both platforms:
//   platform_child args A B ...   each argument on a line of its own
//   platform_child spew N CODE    N bytes on standard output in lines, a line
//                                 on standard error, exit status CODE
//   platform_child wait           "ready", then waits to be stopped
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/Host.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = vantrel::platform::ProgramArguments(argc, argv);
  const std::string mode = args.empty() ? "" : args[0];
  if (mode == "args") {
    for (size_t i = 1; i < args.size(); ++i) std::printf("%s\n", args[i].c_str());
    return 0;
  }
  if (mode == "spew" && argc == 4) {
    const std::string line(99, 'x');
    for (long left = std::atol(argv[2]); left > 0; left -= 100) std::printf("%s\n", line.c_str());
    std::fprintf(stderr, "done\n");
    return std::atoi(argv[3]);
  }
  if (mode == "wait") {
    std::printf("ready\n");
    std::fflush(stdout);
    for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  return 2;
}
