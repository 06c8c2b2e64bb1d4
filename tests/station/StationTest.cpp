// vantrel-station against several handset simulators at once, and the
// station log that every run leaves behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <numeric>

#include "SimSession.h"
#include "cli/PortAdvice.h"
#include "history/History.h"
#include "link/SerialDevice.h"
#include "tests/support/JsonSchema.h"

namespace vantrel::cli {
namespace {

const char* const kStation = VANTREL_STATION_PROGRAM;

class Station : public CliSession {
 protected:
  // Ports COM7.. as `--port` options, then the operations for every worker
  // (quick pauses unless the handsets pace their lines).
  static std::vector<std::string> Args(std::initializer_list<int> coms, std::initializer_list<std::string> cli,
                                       bool paced = false) {
    std::vector<std::string> args;
    for (int c : coms) args.insert(args.end(), {"--port", "COM" + std::to_string(c)});
    args.push_back("--");
    if (!paced) args.insert(args.end(), {"--pause-scale", "0.1", "--poll-scale", "0.2"});
    args.insert(args.end(), cli);
    return args;
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

TEST(StationLog, SurvivesAWriterKilledInTheMiddleOfItsRecords) {
  vantrel::test::ScratchConfig scratch;
  const std::string path = history::HistoryPath();
  for (int i = 0; i < 3; ++i) ASSERT_EQ(history::AppendRecord({{"port", "COM1"}, {"n", i}}, path), 0);

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

  ASSERT_EQ(history::AppendRecord({{"port", "COM4"}}, path), 0);
  history::Contents log = history::ReadRecords(path);
  EXPECT_GE(log.damaged, 1);  // the torn line (and the killed writer's, if the kill cut its write short)
  EXPECT_LE(log.damaged, 2);
  ASSERT_GE(log.records.size(), 6u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(log.records[static_cast<size_t>(i)]["n"], i);
  for (size_t i = 3; i + 1 < log.records.size(); ++i) EXPECT_EQ(log.records[i]["reason"], big);
  EXPECT_EQ(log.records.back()["port"], "COM4");
}

}  // namespace
}  // namespace vantrel::cli
