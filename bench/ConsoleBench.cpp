// vantrel-bench-console: the window's message log and its start-up, on the
// offscreen platform.
//
//   log       time to append one line to the log when it holds 1,000 lines
//             and when it holds 200,000 (the append and the event processing
//             that shows it)
//   start-up  from starting vantrel-downloader to its window shown, as the
//             program measures it (--measure-startup) and from outside
#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "console/CDownloaderDlg.h"
#include "bench/Figures.h"
#include "console/IniSettings.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kLogRatioTarget = 2.0;
constexpr double kLogLineTargetMs = 2.0;
constexpr double kStartupTargetMs = 500.0;
constexpr int kSamples = 300;

using vantrel::bench::Median;
using vantrel::bench::Verdict;

// The block line the download writes most often, alternating with its
// coloured checksum part, as a job produces them.
void AppendBlockLine(vantrel::CDownloaderDlg& w, int i) {
  char address[64];
  std::snprintf(address, sizeof address, "    0 x %X\t Download   131072 bytes\t. . . .  ", 0x4A0000 + i * 0x20000);
  w.AppendLogPlain(address);
  w.AppendLogPlain(" checksum : ");
  w.AppendLog("0x5A\n", vantrel::LogKind::Red);
}

// Fills the log up to `lines` lines (in large pieces: filling is not what is measured).
void FillTo(vantrel::CDownloaderDlg& w, int lines) {
  const int have = w.LogView()->document()->blockCount();
  std::string chunk;
  for (int i = have; i < lines; ++i) {
    chunk += "    0 x 4A0000\t Download   131072 bytes\t. . . .   checksum : 0x5A\n";
    if ((i + 1) % 1000 == 0 || i + 1 == lines) {
      w.AppendLogPlain(chunk);
      chunk.clear();
      QCoreApplication::processEvents();
    }
  }
}

// Median milliseconds to append one block line and show it.
double AppendOneLineMs(vantrel::CDownloaderDlg& w) {
  std::vector<double> ms;
  for (int i = 0; i < kSamples; ++i) {
    const Clock::time_point t0 = Clock::now();
    AppendBlockLine(w, i);
    QCoreApplication::processEvents();
    ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  return Median(ms);
}

int LogBench() {
  vantrel::IniSettings settings(vantrel::IniSettings::DefaultPath());
  vantrel::CDownloaderDlg window(&settings);
  window.show();
  QCoreApplication::processEvents();
  window.LogView()->clear();
  FillTo(window, 1000);
  const double small = AppendOneLineMs(window);
  const int smallLines = window.LogView()->document()->blockCount();
  FillTo(window, 200000);
  const double large = AppendOneLineMs(window);
  const int largeLines = window.LogView()->document()->blockCount();
  const double ratio = small > 0 ? large / small : 0;
  std::printf("\n== Message log (offscreen): one block line appended and shown, median of %d\n", kSamples);
  std::printf("   log of %6d lines    %8.3f ms\n", smallLines, small);
  std::printf("   log of %6d lines    %8.3f ms   (target < %.0f ms: %s)\n", largeLines, large, kLogLineTargetMs,
              Verdict(large < kLogLineTargetMs));
  std::printf("   ratio                  %8.2f      (target <= %.0f: %s)\n", ratio, kLogRatioTarget,
              Verdict(ratio <= kLogRatioTarget));
  std::fflush(stdout);
  return 0;
}

std::string DownloaderProgram() {
  if (const char* env = std::getenv("VANTREL_DOWNLOADER"); env != nullptr && *env != '\0') return env;
  char self[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  std::string dir(self, n > 0 ? static_cast<size_t>(n) : 0);
  dir = dir.substr(0, dir.rfind('/'));
  dir = dir.substr(0, dir.rfind('/'));
  return dir + "/console/vantrel-downloader";
}

// One start of the program: milliseconds as it measured them, and from the
// fork until its line arrived. False when it did not run.
bool StartOnce(const std::string& program, double* insideMs, double* outsideMs) {
  int out[2];
  if (::pipe(out) != 0) return false;
  const Clock::time_point t0 = Clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    ::execl(program.c_str(), program.c_str(), "--measure-startup", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string text;
  char buf[256];
  double outside = -1;
  for (;;) {
    const ssize_t n = ::read(out[0], buf, sizeof buf);
    if (n <= 0) break;
    text.append(buf, static_cast<size_t>(n));
    if (outside < 0 && text.find('\n') != std::string::npos) {
      outside = std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
    }
  }
  ::close(out[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  const size_t at = text.find("startup_ms=");
  if (at == std::string::npos || outside < 0) return false;
  *insideMs = std::strtod(text.c_str() + at + 11, nullptr);
  *outsideMs = outside;
  return true;
}

int StartupBench() {
  const std::string program = DownloaderProgram();
  std::vector<double> inside;
  std::vector<double> outside;
  double in = 0;
  double outMs = 0;
  if (!StartOnce(program, &in, &outMs)) {  // warms the file cache; not counted
    std::fprintf(stderr, "vantrel-bench-console: %s --measure-startup did not run\n", program.c_str());
    return 1;
  }
  for (int i = 0; i < 7; ++i) {
    if (!StartOnce(program, &in, &outMs)) return 1;
    inside.push_back(in);
    outside.push_back(outMs);
  }
  const double o = Median(outside);
  std::printf("\n== Window start-up (offscreen), median of %zu starts\n", outside.size());
  std::printf("   from exec to the window shown   %7.1f ms   (target < %.0f ms: %s)\n", o, kStartupTargetMs,
              Verdict(o < kStartupTargetMs));
  std::printf("   from main() to the window shown %7.1f ms\n", Median(inside));
  std::fflush(stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The window reads and writes its settings: never the operator's own.
  char scratch[] = "/tmp/vantrel-bench-console-XXXXXX";
  if (::mkdtemp(scratch) == nullptr) return 1;
  ::setenv("XDG_CONFIG_HOME", scratch, 1);
  if (std::getenv("XDG_RUNTIME_DIR") == nullptr) ::setenv("XDG_RUNTIME_DIR", scratch, 1);
  int rc = 0;
  {
    QApplication app(argc, argv);
    rc |= LogBench();
  }
  rc |= StartupBench();
  std::error_code ec;
  std::filesystem::remove_all(scratch, ec);
  return rc;
}
