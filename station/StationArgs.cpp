#include "station/StationArgs.h"

#include <algorithm>
#include <cstdlib>

#include "cli/Args.h"
#include "cli/Runner.h"
#include "link/PortList.h"
#include "platform/Process.h"

namespace vantrel::station {

namespace {

constexpr int kMaxRepeat = 1000000;

}  // namespace

std::string StationUsage() {
  return R"(Usage: vantrel-station [options] (--port COMn... | --all-ports) -- CLI-ARGUMENTS

Runs the same vantrel-cli operations on several handsets at once, each port in
its own vantrel-cli worker process, so that a handset that hangs or a worker
that crashes never holds up the others. Example:

  vantrel-station --port COM3 --port COM4 -- --rate 921K --verify connect download imgset a.img

Options:
  -p, --port COMn      a port to run on (repeatable); a device path works too
  --all-ports          every COM name that leads to a device now (a link in the
                       settings folder, or a USB serial adapter)
  --json               the workers' JSON events, merged, each with "port", "run"
                       and "t" (seconds since the station started), and the
                       station's own events (station, prompt, worker, summary)
  --repeat N           run the operations N times on each port, one run after
                       the other (each run is a new worker; default 1)
  --cli PROGRAM        the vantrel-cli to run (default: the one beside this
                       program; also VANTREL_CLI)
  -h, --help           this text
  -V, --version        the version

Everything after "--" goes to vantrel-cli as it is (see vantrel-cli --help),
except --port, which the station gives each worker. Workers cannot ask
questions: give --yes for operations that erase.

On a terminal the table (port, device, phase, percentage, bytes per second,
time left, result) is redrawn in place; otherwise one line is printed per
change. The phase is the worker's (connecting, loader-upload, download and
its item, erase, format, dump, verify). "Switch the handset on" (or "off and
on") shows on the row of the port that waits for its handset; the other ports
carry on meanwhile.

Ctrl-C (or SIGTERM) cancels every worker the way vantrel-cli's own Ctrl-C does
and waits for them, so that every port is released and no run that was cut
short counts as done; a second Ctrl-C stops the workers at once.

Every run appends its record to the station log (vantrel-cli history).

Exit status: 0 every run on every port succeeded; 1 some run failed (the
summary names each failure and its reason); 2 bad arguments; 130 interrupted.
)";
}

StationParse ParseStationArguments(const std::vector<std::string>& args) {
  StationParse r;
  StationOptions& o = r.options;
  auto fail = [&r](const std::string& error) {
    r.ok = false;
    r.error = error;
    return r;
  };
  size_t i = 0;
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--") {
      ++i;
      break;
    }
    if (a == "--port" || a == "-p") {
      if (!hasValue) return fail("option " + a + " needs a value");
      o.ports.push_back(args[++i]);
    } else if (a == "--all-ports") {
      o.allPorts = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--repeat") {
      if (!hasValue) return fail("option --repeat needs a value");
      const std::string& v = args[++i];
      char* end = nullptr;
      const long n = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || n < 1 || n > kMaxRepeat) return fail("--repeat takes a count from 1");
      o.repeat = static_cast<int>(n);
    } else if (a == "--cli") {
      if (!hasValue) return fail("option --cli needs a value");
      o.cliProgram = args[++i];
    } else if (a == "--help" || a == "-h") {
      o.help = true;
    } else if (a == "--version" || a == "-V") {
      o.version = true;
    } else {
      return fail("unknown option " + a + " (the operations come after \"--\")");
    }
  }
  if (o.help || o.version) {
    r.ok = true;
    return r;
  }
  o.cliArgs.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (o.allPorts) {
    for (const std::string& p : MappedPorts())
      if (std::find(o.ports.begin(), o.ports.end(), p) == o.ports.end()) o.ports.push_back(p);
    if (o.ports.empty()) return fail("--all-ports: no COM name leads to a device");
  }
  if (o.ports.empty()) return fail("give the ports with --port COMn (repeatable) or --all-ports");
  // Two workers on one line would fight over it; the second would only fail.
  std::vector<std::string> devices;
  for (std::string& p : o.ports) {
    cli::PortChoice choice;
    std::string error;
    if (!cli::ChoosePort(p, choice, error)) return fail(error);
    if (!choice.overridden) p = choice.comName;
    if (std::find(devices.begin(), devices.end(), choice.device) != devices.end())
      return fail("port " + p + " is given twice");
    devices.push_back(choice.device);
  }
  if (o.cliArgs.empty()) return fail("give the vantrel-cli operations after \"--\"");
  for (const std::string& a : o.cliArgs) {
    if (a == "--" ) break;
    if (a == "-p" || a == "--port" || a.rfind("--port=", 0) == 0)
      return fail("the station gives each worker its port: put --port before \"--\"");
  }
  std::vector<std::string> probe = o.cliArgs;
  probe.insert(probe.begin(), {"--port", o.ports.front()});
  cli::ParseResult cli = cli::ParseArguments(probe);
  if (!cli.ok) return fail("vantrel-cli arguments: " + cli.error);
  if (cli.options.help || cli.options.version) return fail("vantrel-cli arguments: give operations, not --help");
  o.payloadDir = cli.options.payloadDir;
  r.ok = true;
  return r;
}

std::vector<std::string> MappedPorts() {
  std::vector<std::string> ports;
  for (const ComEntry& com : BuildPortTable(MakeSystemPortLister()->List()).coms)
    if (com.present) ports.push_back(com.Name());
  return ports;
}

std::string WorkerProgram(const std::string& configured) {
  if (!configured.empty()) return configured;
  if (const char* env = std::getenv("VANTREL_CLI"); env != nullptr && *env != '\0') return env;
  const std::string here = platform::OwnFolder();
  for (const std::string& folder : {here, here + "/../cli"})
    if (std::string program = platform::ProgramIn(folder, "vantrel-cli"); !program.empty()) return program;
  return "vantrel-cli";
}

}  // namespace vantrel::station
