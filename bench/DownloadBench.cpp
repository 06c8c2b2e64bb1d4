// vantrel-bench: download efficiency, host CPU and answer turnaround of an
// image-set download against the simulator pacing at the line rate.
//
// The tool's side runs in this process (the operation buttons, the jobs and
// the link, as the window drives them); the simulator runs as its own
// process, so that the CPU time measured here is the tool's alone.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/Figures.h"
#include "bench/ImageSet.h"
#include "bench/LineMeter.h"
#include "bench/QuietConsole.h"
#include "bench/SimProcess.h"
#include "jobs/DownloadChecks.h"
#include "jobs/JobState.h"
#include "jobs/Jobs.h"
#include "link/Timing.h"
#include "link/Trace.h"
#include "maintenance/OperationControl.h"

namespace vantrel::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kComNumber = 7;
constexpr uint32_t kBlockBytes = 0x20000;
constexpr double kEfficiencyTarget = 0.97;
constexpr double kCpuTarget = 0.03;
constexpr double kTurnaroundTargetMs = 1.0;

struct Options {
  std::vector<uint32_t> rates;
  uint32_t imageBytes = 8u << 20;
  std::string simProgram;
  bool keep = false;
};

void Usage() {
  std::puts(
      "Usage: vantrel-bench [--rate 115200|460800|921600]... [--quick] [--mib N] [--sim PROGRAM]\n"
      "\n"
      "Downloads an image set (default 8 MiB, three records, 0x20000-byte blocks) into\n"
      "the handset simulator, which paces the line at its rate, and prints:\n"
      "  efficiency   lower bound / measured time; the lower bound is the line time of\n"
      "               every byte both ways (10 bit times each) plus the protocol's pauses\n"
      "  host CPU     user + system time of this process (the tool) / elapsed time\n"
      "  turnaround   from the handset's answer to the tool's next byte, as the\n"
      "               simulator saw it\n"
      "Rates default to 115200 and 921600. --quick uses a 2 MiB image set.");
}

bool ParseArgs(int argc, char** argv, Options* o) {
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    const char* v = i + 1 < argc ? argv[i + 1] : nullptr;
    if (a == "--help" || a == "-h") {
      Usage();
      std::exit(0);
    } else if (a == "--rate" && v != nullptr) {
      o->rates.push_back(static_cast<uint32_t>(std::strtoul(v, nullptr, 10)));
      ++i;
    } else if (a == "--quick") {
      o->imageBytes = 2u << 20;
    } else if (a == "--mib" && v != nullptr) {
      o->imageBytes = static_cast<uint32_t>(std::strtoul(v, nullptr, 10)) << 20;
      ++i;
    } else if (a == "--sim" && v != nullptr) {
      o->simProgram = v;
      ++i;
    } else if (a == "--keep") {
      o->keep = true;
    } else {
      std::fprintf(stderr, "vantrel-bench: unknown argument %s (see --help)\n", a.c_str());
      return false;
    }
  }
  if (o->rates.empty()) o->rates = {115200, 921600};
  for (uint32_t r : o->rates) {
    if (r != 115200 && r != 460800 && r != 921600) {
      std::fprintf(stderr, "vantrel-bench: rate %u is not one the operator can choose\n", r);
      return false;
    }
  }
  if (o->imageBytes < (2u << 20) || o->imageBytes % (16 * kBlockBytes) != 0) {
    std::fprintf(stderr, "vantrel-bench: the image set must be a multiple of 2 MiB\n");
    return false;
  }
  if (o->simProgram.empty()) o->simProgram = DefaultSimProgram();
  return true;
}

double CpuSeconds(double* user, double* system) {
  rusage ru{};
  ::getrusage(RUSAGE_SELF, &ru);
  *user = static_cast<double>(ru.ru_utime.tv_sec) + static_cast<double>(ru.ru_utime.tv_usec) * 1e-6;
  *system = static_cast<double>(ru.ru_stime.tv_sec) + static_cast<double>(ru.ru_stime.tv_usec) * 1e-6;
  return *user + *system;
}

int64_t MonotonicNs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// The simulator's turnaround samples ("<monotonic ns> <turnaround ns>" per
// line) that fall into [from, to].
std::vector<double> TurnaroundsMs(const std::string& path, int64_t from, int64_t to) {
  std::vector<double> out;
  std::ifstream in(path);
  long long at = 0;
  long long ns = 0;
  while (in >> at >> ns) {
    if (at >= from && at <= to) out.push_back(static_cast<double>(ns) * 1e-6);
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string MakeScratch() {
  char tmpl[] = "/tmp/vantrel-bench-XXXXXX";
  const char* dir = ::mkdtemp(tmpl);
  return dir == nullptr ? std::string() : std::string(dir);
}

int SelectionForRate(uint32_t rate) {
  for (int i = 0; i < 3; ++i) {
    if (BaudCodeToRate(OperatorBaudCode(i)) == rate) return i;
  }
  return -1;
}

struct Figures {
  bool ok = false;
  double efficiency = 0;
  double cpu = 0;
  double turnaroundMedianMs = 0;
};

Figures RunDownload(const Options& opt, uint32_t rate, const std::string& scratch) {
  Figures fig;
  const std::vector<Record> records = Layout(opt.imageBytes);
  const std::string image = scratch + "/imgset.img";
  const std::string turnFile = scratch + "/turnaround-" + std::to_string(rate) + ".txt";
  if (!WriteImageSet(image, records)) {
    std::fprintf(stderr, "vantrel-bench: cannot write %s\n", image.c_str());
    return fig;
  }
  std::printf("\n== Image-set download at %u bit/s: %u bytes in %zu records, blocks of 0x%X bytes\n", rate,
              opt.imageBytes, records.size(), kBlockBytes);
  std::fflush(stdout);

  SimProcess sim;
  std::string error;
  std::vector<std::string> simArgs = {"--com", std::to_string(kComNumber), "--pace", "--block-size",
                                      std::to_string(kBlockBytes), "--turnaround-file", turnFile};
  if (opt.keep) {
    simArgs.push_back("--transcript");
    simArgs.push_back(scratch + "/transcript-" + std::to_string(rate) + ".txt");
  }
  if (!sim.Start(opt.simProgram, simArgs, &error)) {
    std::fprintf(stderr, "vantrel-bench: %s\n", error.c_str());
    return fig;
  }

  LineTally tally;
  InstallLineMeter(&tally);
  timing::SetPauseScale(1.0);
  timing::SetPollScale(1.0);

  QuietConsole con;
  OperationRecord rec;
  rec.m_nComPort = kComNumber - 1;
  rec.m_nCommType = 0;
  rec.m_nBaudRate = SelectionForRate(rate);
  rec.m_strToday = TodayDigits();
  rec.m_nDownloadItem = kItemImgset;
  rec.m_strImageFileName = image;
  {
    OperationControl control(rec, con, nullptr);

    std::printf("   connecting (START) ...\n");
    std::fflush(stdout);
    control.OnStart();
    control.WaitForJob();
    if (rec.m_nConnectResult != 0 || control.Context().job.loaderState != kLoaderNand) {
      std::fprintf(stderr, "vantrel-bench: connect failed\n%s\n", con.LogTail(12).c_str());
      UninstallLineMeter();
      return fig;
    }

    std::printf("   downloading (DOWNLOAD) ...\n");
    std::fflush(stdout);
    tally.Reset();
    timing::ClearRecording();
    timing::StartRecording();
    double user0 = 0;
    double sys0 = 0;
    const double cpu0 = CpuSeconds(&user0, &sys0);
    const int64_t mono0 = MonotonicNs();
    const Clock::time_point t0 = Clock::now();
    control.OnDownload();
    control.WaitForJob();
    const Clock::time_point t1 = Clock::now();
    const int64_t mono1 = MonotonicNs();
    double user1 = 0;
    double sys1 = 0;
    const double cpu1 = CpuSeconds(&user1, &sys1);
    timing::StopRecording();

    if (!control.LastOutcome().Succeeded()) {
      std::fprintf(stderr, "vantrel-bench: the download did not complete\n%s\n", con.LogTail(12).c_str());
      UninstallLineMeter();
      return fig;
    }

    double pausesMs = 0;
    size_t pauseCount = 0;
    for (const auto& p : timing::RecordedPauses()) {
      pausesMs += p.ms;
      ++pauseCount;
    }
    const double measured = std::chrono::duration<double>(t1 - t0).count();
    const double line = static_cast<double>(tally.lineNs.load()) * 1e-9;
    const double bound = line + pausesMs * 1e-3;
    fig.efficiency = bound / measured;
    fig.cpu = (cpu1 - cpu0) / measured;

    sim.Stop();
    const std::vector<double> turns = TurnaroundsMs(turnFile, mono0, mono1);
    fig.turnaroundMedianMs = Quantile(turns, 0.5);

    std::printf("   measured time        %9.3f s\n", measured);
    std::printf("   line time            %9.3f s   (%llu bytes to the handset, %llu from it)\n", line,
                static_cast<unsigned long long>(tally.bytesOut.load()),
                static_cast<unsigned long long>(tally.bytesIn.load()));
    std::printf("   protocol pauses      %9.3f s   (%zu pauses)\n", pausesMs * 1e-3, pauseCount);
    std::printf("   lower bound          %9.3f s\n", bound);
    std::printf("   efficiency           %9.4f     (target >= %.2f: %s)\n", fig.efficiency, kEfficiencyTarget,
                Verdict(fig.efficiency >= kEfficiencyTarget));
    std::printf("   host CPU             %9.3f %%   of one core: user %.3f s + system %.3f s over %.1f s "
                "(target <= %.0f %%: %s)\n",
                fig.cpu * 100, user1 - user0, sys1 - sys0, measured, kCpuTarget * 100, Verdict(fig.cpu <= kCpuTarget));
    if (turns.empty()) {
      std::printf("   answer turnaround    no samples (the simulator records none)\n");
    } else {
      std::printf("   answer turnaround    median %.3f ms, p90 %.3f ms, max %.3f ms over %zu answers "
                  "(target median < %.0f ms: %s)\n",
                  fig.turnaroundMedianMs, Quantile(turns, 0.9), turns.back(), turns.size(), kTurnaroundTargetMs,
                  Verdict(fig.turnaroundMedianMs < kTurnaroundTargetMs));
    }
    if (!sim.StdErr().empty()) std::printf("   simulator said: %s\n", sim.StdErr().c_str());
    std::fflush(stdout);
    fig.ok = true;
  }
  UninstallLineMeter();
  return fig;
}

}  // namespace
}  // namespace vantrel::bench

int main(int argc, char** argv) {
  using namespace vantrel::bench;
  Options opt;
  if (!ParseArgs(argc, argv, &opt)) return 2;
  const std::string scratch = MakeScratch();
  if (scratch.empty()) {
    std::perror("vantrel-bench: mkdtemp");
    return 1;
  }
  // The simulator maps COM7 in this settings folder; the operator's own is never touched.
  ::setenv("XDG_CONFIG_HOME", scratch.c_str(), 1);
  // Developer traces would cost a write to standard error per protocol byte.
  vantrel::MuteTraces();
  int failures = 0;
  for (uint32_t rate : opt.rates) {
    const Figures f = RunDownload(opt, rate, scratch);
    if (!f.ok) ++failures;
  }
  if (opt.keep) {
    std::printf("\nfiles kept in %s\n", scratch.c_str());
  } else {
    std::error_code ec;
    std::filesystem::remove_all(scratch, ec);
  }
  return failures == 0 ? 0 : 1;
}
