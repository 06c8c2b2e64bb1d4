// vantrel-bench-station: the station with many handsets at once, and a soak.
//
// Scale: 1, 2, 4, 8, 16 and 32 simulated handsets pacing their lines at
// 921600 bit/s, each downloading the same image set at the same time through
// vantrel-station. Each download's line efficiency (the image's line time
// over the download's measured time) is set against the one a handset alone
// gets; the host CPU is the user and system time of the station and its
// workers over the elapsed time, per handset. The simulators run as separate
// processes and are not counted; their own CPU is shown, since simulators that
// cannot pace their lines make every handset slower.
//
// Soak: N connect + download + verify cycles on one handset in one station
// run; the station's resident memory and open descriptors after each cycle.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bench/Figures.h"
#include "bench/ImageSet.h"
#include "bench/SimProcess.h"

namespace vantrel::bench {
namespace {

constexpr int kFirstCom = 11;
constexpr int kMaxHandsets = 50 - kFirstCom + 1;  // COM11 to COM50
constexpr double kRate = 921600;
constexpr double kRatioTarget = 0.99;
// Host CPU per handset: 1 % of a core up to 8 handsets, 0.5 % for a
// production line's gang of 16 and more.
constexpr int kGangHandsets = 16;
double CpuPerHandsetTarget(int handsets) { return handsets >= kGangHandsets ? 0.005 : 0.01; }
constexpr double kFlatTarget = 0.05;
constexpr int kSoakFrom = 10;
// The simulator switches the handset off and on once the line has been quiet
// this long: longer than any pause of a run at a tenth of its length, so
// every cycle's connect hears a fresh BOOT byte.
constexpr int kSoakQuietMs = 700;

struct Options {
  std::vector<int> scale = {1, 2, 4, 8, 16, 32};
  uint32_t imageBytes = 2u << 20;
  int soak = 200;
  uint32_t soakBytes = 1u << 20;
  std::string sim, station;
};

struct StationRun {
  int status = -1;
  double wall = 0;
  double cpu = 0;
  std::vector<nlohmann::json> events;
};

double Seconds(const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) * 1e-6; }

// Runs the station to its end; the CPU time comes from wait4, which counts
// the station and every worker it waited for.
StationRun RunStation(const std::string& program, const std::vector<std::string>& args) {
  StationRun run;
  int out[2];
  if (::pipe(out) != 0) return run;
  std::vector<char*> argv = {const_cast<char*>(program.c_str())};
  for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  const auto t0 = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buf[65536];
  for (ssize_t n; (n = ::read(out[0], buf, sizeof buf)) != 0;) {
    if (n > 0) text.append(buf, static_cast<size_t>(n));
  }
  ::close(out[0]);
  int status = 0;
  rusage ru{};
  ::wait4(pid, &status, 0, &ru);
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  run.cpu = Seconds(ru.ru_utime) + Seconds(ru.ru_stime);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
    auto e = nlohmann::json::parse(text.substr(start, nl - start), nullptr, false);
    if (e.is_object()) run.events.push_back(std::move(e));
  }
  return run;
}

bool StartSims(const Options& o, int count, std::vector<std::string> extra, std::vector<std::unique_ptr<SimProcess>>& sims) {
  for (int k = 0; k < count; ++k) {
    std::vector<std::string> args = {"--com", std::to_string(kFirstCom + k)};
    args.insert(args.end(), extra.begin(), extra.end());
    auto sim = std::make_unique<SimProcess>();
    std::string error;
    if (!sim->Start(o.sim, args, &error)) {
      std::fprintf(stderr, "vantrel-bench-station: %s\n", error.c_str());
      return false;
    }
    sims.push_back(std::move(sim));
  }
  return true;
}

std::vector<std::string> PortArgs(int count) {
  std::vector<std::string> args = {"--json"};
  for (int k = 0; k < count; ++k) args.insert(args.end(), {"--port", "COM" + std::to_string(kFirstCom + k)});
  return args;
}

struct ScaleRow {
  int handsets = 0;
  bool ok = false;
  double slowest = 0, fastest = 0;  // download seconds
  double worstEfficiency = 0;
  double cpuPerHandset = 0;
  double simCpu = 0;  // the simulators together, in cores
};

ScaleRow RunScale(const Options& o, int handsets, const std::string& image) {
  ScaleRow row;
  row.handsets = handsets;
  std::vector<std::unique_ptr<SimProcess>> sims;
  if (!StartSims(o, handsets, {"--pace", "--block-size", "0x20000"}, sims)) return row;
  std::vector<std::string> args = PortArgs(handsets);
  args.insert(args.end(), {"--", "--rate", "921K", "connect", "download", "imgset", image});
  double simCpu0 = 0;
  for (const auto& sim : sims) simCpu0 += sim->CpuSeconds();
  StationRun run = RunStation(o.station, args);
  for (const auto& sim : sims) row.simCpu += sim->CpuSeconds();
  row.simCpu = (row.simCpu - simCpu0) / std::max(run.wall, 1e-9);
  std::map<std::string, double> begin;
  std::vector<double> durations;
  bool allOk = run.status == 0;
  for (const auto& e : run.events) {
    if (e.value("event", "") != "operation" || e.value("op", "").rfind("download", 0) != 0) continue;
    const std::string port = e.value("port", "");
    if (e.value("phase", "") == "begin") begin[port] = e.value("t", 0.0);
    else if (e.value("ok", false)) durations.push_back(e.value("t", 0.0) - begin[port]);
    else allOk = false;
  }
  if (!allOk || static_cast<int>(durations.size()) != handsets) {
    std::fprintf(stderr, "vantrel-bench-station: %d handsets: the station ended with status %d\n", handsets, run.status);
    for (const auto& e : run.events)
      if (e.value("event", "") == "summary") std::fprintf(stderr, "  %s\n", e.dump().c_str());
    return row;
  }
  std::sort(durations.begin(), durations.end());
  row.fastest = durations.front();
  row.slowest = durations.back();
  row.worstEfficiency = static_cast<double>(o.imageBytes) * 10 / kRate / row.slowest;
  row.cpuPerHandset = run.cpu / run.wall / handsets;
  row.ok = true;
  return row;
}

int Scale(const Options& o, const std::string& scratch) {
  const std::string image = scratch + "/imgset.img";
  if (!WriteImageSet(image, Layout(o.imageBytes))) return 1;
  std::printf("\n== Station scale at 921600 bit/s: %u bytes per handset, every handset at once\n", o.imageBytes);
  std::fflush(stdout);
  std::vector<ScaleRow> rows;
  for (int n : o.scale) {
    rows.push_back(RunScale(o, n, image));
    std::printf("   %d handset%s done\n", n, n == 1 ? "" : "s");
    std::fflush(stdout);
  }
  const double alone = rows.front().handsets == 1 && rows.front().ok ? rows.front().worstEfficiency : 0;
  std::printf("\n| handsets | download time (fastest .. slowest) | line efficiency (worst) | vs one alone | "
              "host CPU per handset | simulators' CPU (not counted) |\n|---|---|---|---|---|---|\n");
  int failures = 0;
  for (const ScaleRow& r : rows) {
    if (!r.ok) {
      std::printf("| %d | FAILED | | | | |\n", r.handsets);
      ++failures;
      continue;
    }
    const double ratio = alone > 0 ? r.worstEfficiency / alone : 0;
    std::printf("| %d | %.2f .. %.2f s | %.4f | %.4f (%s) | %.2f %% (%s) | %.0f %% of a core |\n", r.handsets,
                r.fastest, r.slowest, r.worstEfficiency, ratio, Verdict(ratio >= kRatioTarget), r.cpuPerHandset * 100,
                Verdict(r.cpuPerHandset <= CpuPerHandsetTarget(r.handsets)), r.simCpu * 100);
  }
  std::printf("targets: at least %.2f of one handset's efficiency; at most %.1f %% of one core per handset "
              "(%.1f %% from %d handsets on)\n",
              kRatioTarget, CpuPerHandsetTarget(1) * 100, CpuPerHandsetTarget(kGangHandsets) * 100, kGangHandsets);
  return failures;
}

int Soak(const Options& o, const std::string& scratch) {
  const std::string image = scratch + "/soak.img";
  if (!WriteImageSet(image, Layout(o.soakBytes))) return 1;
  std::printf("\n== Station soak: %d connect + download + verify cycles (%u bytes) on one handset, one station run\n",
              o.soak, o.soakBytes);
  std::fflush(stdout);
  std::vector<std::unique_ptr<SimProcess>> sims;
  if (!StartSims(o, 1, {"--time-scale", "0", "--power-cycle-when-quiet", std::to_string(kSoakQuietMs)}, sims))
    return 1;
  std::vector<std::string> args = PortArgs(1);
  args.insert(args.end(), {"--repeat", std::to_string(o.soak), "--", "--pause-scale", "0.1", "--verify", "connect",
                           "download", "imgset", image});
  StationRun run = RunStation(o.station, args);
  std::vector<long> rss, fds;
  int failed = 0;
  for (const auto& e : run.events) {
    if (e.value("event", "") != "worker") continue;
    if (e.value("status", -1) != 0) {
      ++failed;
      std::printf("   run %d failed: %s\n", e.value("run", 0), e.value("reason", "").c_str());
    }
    rss.push_back(e.value("station_rss_kb", 0L));
    fds.push_back(e.value("station_fds", 0L));
  }
  const int cycles = static_cast<int>(rss.size());
  if (cycles < kSoakFrom) {
    std::printf("   only %d cycles ran (station status %d)\n", cycles, run.status);
    return 1;
  }
  auto change = [&](const std::vector<long>& v) {
    const long base = v[kSoakFrom - 1];
    const long high = *std::max_element(v.begin() + kSoakFrom - 1, v.end());
    const long low = *std::min_element(v.begin() + kSoakFrom - 1, v.end());
    return std::max(high - base, base - low) / static_cast<double>(std::max(base, 1L));
  };
  const double rssChange = change(rss), fdChange = change(fds);
  std::printf("   cycles               %d in %.1f s (%.2f s each), %d failed (target 0: %s)\n", cycles, run.wall,
              run.wall / cycles, failed, Verdict(failed == 0 && cycles == o.soak));
  std::printf("   station RSS          %ld kB at cycle %d, %ld kB at cycle %d, largest drift %.1f %% (target <= %.0f %%: %s)\n",
              rss[kSoakFrom - 1], kSoakFrom, rss.back(), cycles, rssChange * 100, kFlatTarget * 100,
              Verdict(rssChange <= kFlatTarget));
  std::printf("   station open fds     %ld at cycle %d, %ld at cycle %d, largest drift %.1f %% (target <= %.0f %%: %s)\n",
              fds[kSoakFrom - 1], kSoakFrom, fds.back(), cycles, fdChange * 100, kFlatTarget * 100,
              Verdict(fdChange <= kFlatTarget));
  std::printf("   host CPU             %.2f s for the station and its workers\n", run.cpu);
  return failed == 0 && cycles == o.soak ? 0 : 1;
}

std::string Beside(const std::string& folder, const std::string& name) {
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir = n > 0 ? std::string(self, static_cast<size_t>(n)) : "./x";
  dir = dir.substr(0, dir.rfind('/'));  // <build>/bench
  dir = dir.substr(0, dir.rfind('/'));  // <build>
  return dir + "/" + folder + "/" + name;
}

}  // namespace
}  // namespace vantrel::bench

int main(int argc, char** argv) {
  using namespace vantrel::bench;
  Options o;
  o.sim = DefaultSimProgram();
  o.station = Beside("station", "vantrel-station");
  bool scale = true, soak = true;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--quick") {
      o.scale = {1, 2, 4};
      o.imageBytes = 1u << 20;
      o.soak = 30;
    } else if (a == "--handsets" && v != nullptr) {
      // "1,16,32": the counts to run (the first is the one the others are set against).
      o.scale.clear();
      for (const char* p = v; *p != '\0';) {
        char* end = nullptr;
        const long n = std::strtol(p, &end, 10);
        if (end == p || n < 1 || n > kMaxHandsets) break;
        o.scale.push_back(static_cast<int>(n));
        p = *end == ',' ? end + 1 : end;
      }
      ++i;
    } else if (a == "--scale-only") {
      soak = false;
    } else if (a == "--soak-only") {
      scale = false;
    } else if (a == "--soak" && v != nullptr) {
      o.soak = std::max(kSoakFrom, std::atoi(v));
      ++i;
    } else if (a == "--mib" && v != nullptr) {
      o.imageBytes = static_cast<uint32_t>(std::strtoul(v, nullptr, 10)) << 20;
      ++i;
    } else {
      std::puts("Usage: vantrel-bench-station [--quick] [--scale-only | --soak-only] [--handsets 1,16,32]\n"
                "                             [--soak CYCLES] [--mib N]\n"
                "Scale: 1, 2, 4, 8, 16, 32 handsets at 921600 bit/s at once (2 MiB each); soak: 200 cycles.");
      return a == "--help" ? 0 : 2;
    }
  }
  char tmpl[] = "/tmp/vantrel-bench-station-XXXXXX";
  const char* scratch = ::mkdtemp(tmpl);
  if (scratch == nullptr) return 1;
  // The simulators' COM links and the runs' station log stay in the scratch folder.
  ::setenv("XDG_CONFIG_HOME", scratch, 1);
  ::setenv("XDG_DATA_HOME", scratch, 1);
  int failures = 0;
  if (scale) failures += Scale(o, scratch);
  if (soak) failures += Soak(o, scratch);
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return failures == 0 ? 0 : 1;
}
