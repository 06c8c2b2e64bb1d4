// vantrel-station against several handset simulators at once, and the
// station log that every run leaves behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <numeric>

#include "SimSession.h"
#include "cli/PortAdvice.h"
#include "history/History.h"
#include "link/SerialDevice.h"
#include "payloads/Payloads.h"
#include "tests/support/JsonSchema.h"

namespace vantrel::cli {
namespace {

const char* const kStation = VANTREL_STATION_PROGRAM;

class Station : public CliSession {
 protected:
  // Ports COM7.. as `--port` options, then the operations for every worker
  // (no real time for pauses unless the handsets pace their lines; the
  // workers follow the simulators, as in tests/cli/SimSession.h).
  static std::vector<std::string> Args(std::initializer_list<int> coms, std::initializer_list<std::string> cli,
                                       bool paced = false) {
    std::vector<std::string> args;
    for (int c : coms) args.insert(args.end(), {"--port", "COM" + std::to_string(c)});
    args.insert(args.end(), {"--", "--follow-simulator"});
    if (!paced) args.insert(args.end(), {"--pause-scale", "0", "--poll-scale", "0.2"});
    args.insert(args.end(), cli);
    return args;
  }

  // A worker that is a shell script, to misbehave on purpose.
  std::string Script(const std::string& name, const std::string& body) {
    const std::string path = Scratch(name);
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
    return path;
  }

  static std::map<std::string, nlohmann::json> LastRecordByPort() {
    std::map<std::string, nlohmann::json> byPort;
    for (const auto& r : history::ReadRecords().records) byPort[r["port"].get<std::string>()] = r;
    return byPort;
  }
};

TEST_F(Station, OneHandsetFinishesWhileOneFallsSilentAndOneStoresABadByte) {
  START_SIM_OR_SKIP(good, 7);
  sim::Fault silent;
  ASSERT_TRUE(sim::Fault::Parse("silence:sector-ok:2", &silent, nullptr));
  StartSim(8)->AddFault(silent);
  sim::Fault flip;
  ASSERT_TRUE(sim::Fault::Parse("flip:nand:0x4C0123:3", &flip, nullptr));
  StartSim(9)->AddFault(flip);
  auto recs = DemoRecords(7);
  std::string img = Scratch("demo.img");
  WriteRecordFile(img, recs);

  CliProcess station(kStation, Args({7, 8, 9}, {"--verify", "connect", "download", "imgset", img}));
  CliResult r = station.Finish();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_TRUE(good->ReadNand(0x4C0000, 0x6000) == recs[1].data);
  EXPECT_NE(r.out.find("vantrel-station: 1 of 3 handsets succeeded"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("COM8 FAILED (handset): download imgset " + img + ": Error flashing image set"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("COM9 FAILED (verify): download imgset " + img + ": verify: flash differs from the file "
                       "at address 0x4C0123"), std::string::npos) << r.out;

  // Each worker left its record: the image with its size and byte sum, the
  // flash ID the loader reported, and the outcome.
  auto byPort = LastRecordByPort();
  ASSERT_EQ(byPort.size(), 3u);
  const auto& file = byPort["COM7"]["operations"][1]["files"][0];
  const std::vector<uint8_t> bytes = ReadAll(img);
  char hex[16];
  std::snprintf(hex, sizeof hex, "0x%08X", std::accumulate(bytes.begin(), bytes.end(), 0u));
  EXPECT_EQ(file["path"], img);
  EXPECT_EQ(file["size"], bytes.size());
  EXPECT_EQ(file["checksum"], hex);
  EXPECT_EQ(byPort["COM7"]["flash_id"], "0xB1");
  EXPECT_EQ(byPort["COM7"]["result"], "ok");
  EXPECT_EQ(byPort["COM8"]["result"], "handset");
  EXPECT_EQ(byPort["COM9"]["result"], "verify");

  CliResult csv = RunCli({"history", "--failed", "--csv"});
  ASSERT_EQ(csv.status, kExitOk) << csv.err;
  EXPECT_EQ(std::count(csv.out.begin(), csv.out.end(), '\n'), 3) << csv.out;  // the header and two failures
  EXPECT_NE(csv.out.find(",COM8,"), std::string::npos);
  EXPECT_NE(csv.out.find(",COM9,"), std::string::npos);
}

TEST_F(Station, OneFailedPortOfTwoFailsTheRun) {
  START_SIM_OR_SKIP(good, 7);
  sim::Fault silent;
  ASSERT_TRUE(sim::Fault::Parse("silence:start-signal", &silent, nullptr));
  StartSim(8)->AddFault(silent);
  CliResult r = CliProcess(kStation, Args({7, 8}, {"connect"})).Finish();
  EXPECT_EQ(r.status, 1) << r.out << r.err;
  EXPECT_NE(r.out.find("vantrel-station: 1 of 2 handsets succeeded"), std::string::npos) << r.out;
}

TEST_F(Station, CtrlCCancelsEveryWorkerAndReleasesEveryPort) {
  sim::Options paced;
  paced.pacing = true;  // the download lasts long enough to be interrupted
  START_SIM_OR_SKIP_WITH(a, 7, paced);
  sim::Simulator* b = StartSim(8, paced);
  std::string img = Scratch("demo.img");
  WriteRecordFile(img, DemoRecords(8));

  CliProcess station(kStation, [&] {
    auto args = Args({7, 8}, {"--rate", "921K", "connect", "download", "imgset", img}, true);
    args.insert(args.begin(), "--json");
    return args;
  }());
  // Both handsets are in the middle of the download.
  auto downloading = [](const CliResult& r, const std::string& port) {
    std::stringstream ss(r.out);
    for (std::string line; std::getline(ss, line);) {
      auto e = nlohmann::json::parse(line, nullptr, false);
      if (e.is_object() && e["event"] == "progress" && e["port"] == port && e["bytes"].get<int64_t>() > 0x8000)
        return true;
    }
    return false;
  };
  ASSERT_TRUE(station.WaitUntil([&](const CliResult& r) { return downloading(r, "COM7") && downloading(r, "COM8"); },
                                120000));
  station.Signal(SIGINT);
  CliResult r = station.Finish();
  EXPECT_EQ(r.status, kExitInterrupted) << r.out << r.err;
  // The merged stream is the one the schema describes, the station's own events included.
  const nlohmann::json schema = vantrel::test::EventSchema();
  std::stringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(vantrel::test::SchemaViolation(schema, nlohmann::json::parse(line)), "") << line;
  auto summary = nlohmann::json::parse(r.out.substr(r.out.rfind('\n', r.out.size() - 2) + 1));
  EXPECT_EQ(summary["event"], "summary");
  ASSERT_EQ(summary["failures"].size(), 2u) << summary.dump();
  for (const auto& f : summary["failures"]) EXPECT_EQ(f["failure"], "interrupted");
  auto byPort = LastRecordByPort();
  EXPECT_EQ(byPort["COM7"]["result"], "interrupted");
  EXPECT_EQ(byPort["COM8"]["result"], "interrupted");

  // Nothing holds either port: neither the one-process-per-port lock nor the line.
  for (sim::Simulator* s : {a, b}) {
    std::string why;
    EXPECT_NE(PortLock::Acquire(s->DevicePath(), &why), nullptr) << why;
    std::unique_ptr<SerialDevice> line = MakePosixSerial();
    EXPECT_EQ(line->Open(s->DevicePath(), &why), 0) << why;
    line->Close();
    // The host gives the port its own settings back as it lets go; the tail
    // of the abandoned block that the pseudo-terminal still held then reaches
    // the simulated handset at the restored rate. A real line's purge
    // discards that tail, so it is no fault of the host's.
    std::vector<std::string> rest;
    for (const std::string& v : s->Violations())
      if (v.find("rate mismatch") == std::string::npos) rest.push_back(v);
    EXPECT_TRUE(rest.empty()) << rest.front();
    s->ClearViolations();
  }
}

// The station's reader of its workers' output, against workers that
// misbehave on purpose: every line arrives whichever pipe closes first, an
// endless line costs its bytes once and is dropped, a success counts only
// when the worker reported it, no line is nested too deep to print, and the
// record of a lost run names the payload folder the workers were given.
TEST_F(Station, ReadsEveryWorkerLineAndTrustsOnlyAReportedSuccess) {
  const std::string exitOk = R"('{"event":"exit","status":0,"failure":"","succeeded":1,"count":1}')";
  const std::string payloads = Scratch("payloads");
  std::filesystem::create_directories(payloads);
  for (const PayloadSpec& spec : kPayloadCatalogue) {
    const Payload& p = BuiltInPayload(spec.id);
    std::ofstream(payloads + "/" + spec.file, std::ios::binary).write(reinterpret_cast<const char*>(p.data), p.size);
  }
  struct Case {
    const char* what;
    std::string body;  // of the worker's script
    int status;        // the station's
    std::string failure;
    int droppedLines;
    int logEvents;
  };
  const Case cases[] = {
      {"many lines, standard error closing first",
       R"(yes '{"event":"log","kind":"plain","text":"a line of the log"}' | head -n 20000; echo )" + exitOk, 0, "", 0,
       20000},
      {"a 3 MiB line", "head -c 3145728 /dev/zero | tr '\\0' x; echo; echo " + exitOk, 0, "", 1, 0},
      {"no exit event", R"(echo "$@")", 1, "failure", 0, 0},
      {"nested 100000 deep",
       R"(d=$(printf '%100000s' '' | tr ' ' '['); e=$(printf '%100000s' '' | tr ' ' ']'); )"
       R"(echo "{\"event\":\"note\",\"deep\":$d$e}"; echo )" + exitOk,
       0, "", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    vantrel::test::RemoveTree(history::HistoryPath());
    CliResult r = CliProcess(kStation, {"--json", "--cli", Script("worker.sh", c.body), "--port", "COM7", "--",
                                        "--payload-dir", payloads, "connect"})
                      .Finish(60000);
    ASSERT_EQ(r.status, c.status) << r.err;
    int logs = 0;
    nlohmann::json worker;
    std::stringstream out(r.out);
    for (std::string line; std::getline(out, line);) {
      const nlohmann::json e = nlohmann::json::parse(line);
      logs += e["event"] == "log";
      if (e["event"] == "worker") worker = e;
    }
    EXPECT_EQ(logs, c.logEvents);
    EXPECT_EQ(worker.value("failure", "?"), c.failure);
    EXPECT_EQ(worker.value("dropped_lines", 0), c.droppedLines);
    const history::Contents log = history::ReadRecords();
    if (c.failure.empty()) {
      EXPECT_TRUE(log.records.empty());  // a worker that finished writes its own record
    } else {
      ASSERT_EQ(log.records.size(), 1u);
      EXPECT_EQ(log.records[0]["payload_set"], payloads);
    }
  }
}

// Text from outside (a file name, a stored reason, a link's target) reaches
// the terminal escaped, in every program: no control sequence, and no line
// that the text itself began.
TEST_F(Station, OutsideTextReachesTheTerminalEscaped) {
  const std::string forged = "x\x1B]0;pwned\a\nfake: OK";
  std::ofstream(Scratch(forged)) << "abc";
  ASSERT_FALSE(history::AppendRecord({{"port", "COM1"}, {"result", "handset"}, {"reason", forged}}));
  std::filesystem::create_directories(config_.Folder());
  std::filesystem::create_symlink("/dev/" + forged, config_.Folder() + "/COM5");
  const std::vector<std::vector<std::string>> runs = {
      {test::CliProgram(), "info", Scratch(forged)},
      {test::CliProgram(), "history"},
      {test::CliProgram(), "--list-ports"},
      {kStation, "--port", "COM7", "--", "info", Scratch(forged)},
  };
  for (const auto& run : runs) {
    SCOPED_TRACE(run[1]);
    CliResult r = CliProcess(run[0], std::vector<std::string>(run.begin() + 1, run.end())).Finish(60000);
    const std::string shown = r.out + r.err;
    EXPECT_NE(shown.find("x\\x1B]0;pwned\\x07\\x0Afake: OK"), std::string::npos) << shown;
    EXPECT_EQ(shown.find_first_of("\x1B\a"), std::string::npos) << shown;
    EXPECT_EQ(shown.find("\nfake: OK"), std::string::npos) << shown;
  }
}

TEST(StationLog, SurvivesAWriterKilledInTheMiddleOfItsRecords) {
  vantrel::test::ScratchConfig scratch;
  const std::string path = history::HistoryPath();
  for (int i = 0; i < 3; ++i) ASSERT_FALSE(history::AppendRecord({{"port", "COM1"}, {"n", i}}, path));

  // A worker appending large records is killed at an arbitrary moment.
  const std::string big(1 << 20, 'x');
  const pid_t pid = fork();
  if (pid == 0) {
    for (;;) (void)history::AppendRecord({{"port", "COM2"}, {"reason", big}}, path);
  }
  struct stat st {};
  for (int i = 0; i < 3000 && (::stat(path.c_str(), &st) != 0 || st.st_size < (6 << 20)); ++i) ::usleep(10000);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
  // And a power cut tore the last line: half a record, no line break.
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_EQ(::write(fd, "{\"port\":\"COM3\",\"rea", 19), 19);
  ::close(fd);

  ASSERT_FALSE(history::AppendRecord({{"port", "COM4"}}, path));
  history::Contents log = history::ReadRecords(path);
  EXPECT_GE(log.damaged, 1);  // the torn line (and the killed writer's, if the kill cut its write short)
  EXPECT_LE(log.damaged, 2);
  ASSERT_GE(log.records.size(), 6u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(log.records[static_cast<size_t>(i)]["n"], i);
  for (size_t i = 3; i + 1 < log.records.size(); ++i) EXPECT_EQ(log.records[i]["reason"], big);
  EXPECT_EQ(log.records.back()["port"], "COM4");
}

// A spreadsheet runs a cell that begins like a formula: every such cell of
// the export is set off as text, and the quoting still holds.
TEST(StationLog, CsvCellsNeverStartAFormula) {
  const std::pair<std::string, std::string> cases[] = {
      {"+1+cmd|calc.img", "'+1+cmd|calc.img"}, {"@SUM(1+1).img", "'@SUM(1+1).img"}, {"=2+3", "'=2+3"},
      {"-2+3", "'-2+3"}, {"\tx", "'\tx"}, {"\rx", "\"'\rx\""}, {"a,\"b\"", "\"a,\"\"b\"\"\""},
      {"plain.img", "plain.img"}};
  for (const auto& [reason, cell] : cases) {
    const std::string row = history::CsvRow({{"port", "COM1"}, {"result", "file"}, {"reason", reason}});
    EXPECT_NE(row.find(",file," + cell + ","), std::string::npos) << row;
  }
}

// Only a regular file is read or written at the log's path: a link there is
// not followed, a FIFO holds nothing up, and the operator is told what stands
// there.
TEST(StationLog, OnlyARegularFileIsReadOrWrittenThere) {
  vantrel::test::ScratchConfig scratch;
  namespace fs = std::filesystem;
  const std::string path = history::HistoryPath(), elsewhere = scratch.Root() + "/elsewhere";
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(elsewhere) << "kept\n";
  struct Case {
    const char* what;
    std::function<void()> make;
    platform::FileFault fault;
  };
  const Case cases[] = {
      {"a link", [&] { fs::create_symlink(elsewhere, path); }, platform::FileFault::Link},
      {"not a regular file", [&] { ::mkfifo(path.c_str(), 0600); }, platform::FileFault::NotRegular},
      {"a folder", [&] { fs::create_directory(path); }, platform::FileFault::Folder},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    fs::remove_all(path);
    c.make();
    // Longer than a pipe holds: a FIFO without a reader would take it for good.
    EXPECT_EQ(history::AppendRecord({{"reason", std::string(100000, 'x')}}).fault, c.fault);
    CliResult r = RunCli({"history"}, 20000);
    EXPECT_EQ(r.status, kExitFile);
    EXPECT_NE(r.err.find("cannot read " + path + ": " + c.what), std::string::npos) << r.err;
  }
  EXPECT_EQ(ReadAll(elsewhere), std::vector<uint8_t>({'k', 'e', 'p', 't', '\n'}));
}

}  // namespace
}  // namespace vantrel::cli
