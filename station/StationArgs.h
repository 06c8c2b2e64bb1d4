#pragma once
// Command line of vantrel-station: which ports, how the progress is shown,
// and the vantrel-cli arguments that every port runs.
#include <string>
#include <vector>

namespace vantrel::station {

struct StationOptions {
  std::vector<std::string> ports;    // "COM3", in the order given
  bool allPorts = false;
  bool json = false;
  int repeat = 1;                    // runs per port, one after another
  std::string cliProgram;            // empty: the vantrel-cli beside this program
  std::vector<std::string> cliArgs;  // after "--"
  std::string payloadDir;            // the workers' --payload-dir, if any
  bool help = false;
  bool version = false;
};

struct StationParse {
  bool ok = false;
  std::string error;
  StationOptions options;
};

// Checks the vantrel-cli part too, with the CLI's own parser, so that a
// mistyped operation is said once instead of by every worker.
StationParse ParseStationArguments(const std::vector<std::string>& args);

// COM names that lead to a device now: a serial device the system lists, or
// a link in the settings folder whose target exists. The placeholder ttyS
// nodes without hardware behind them do not count.
std::vector<std::string> MappedPorts();

// The worker program: `configured` when given, else vantrel-cli beside this
// program (or in the build tree's cli/ folder).
std::string WorkerProgram(const std::string& configured);

std::string StationUsage();

}  // namespace vantrel::station
