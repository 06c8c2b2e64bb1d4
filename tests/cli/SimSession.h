#pragma once
// Shared by the session tests: demo image files, and a fixture that runs
// handset simulators for the spawned vantrel-cli and checks that they saw no
// protocol violation.
#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>

#include "CliProcess.h"
#include "JsonCheck.h"
#include "cli/ExitStatus.h"
#include "sim/Simulator.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/ScratchConfig.h"

namespace vantrel::cli {

using test::CliProcess;
using test::CliResult;
using test::RunCli;

using Record = vantrel::test::ImageRecord;

// An image-set record file: what the image-set download sends is its first
// three records (head and two middle records).
inline std::vector<Record> DemoRecords(uint32_t seed) {
  std::vector<Record> recs = {{0x4A0000, std::vector<uint8_t>(0x20000)},
                              {0x4C0000, std::vector<uint8_t>(0x6000)},
                              {0x500000, std::vector<uint8_t>(0x3000)}};
  uint32_t s = seed;
  for (auto& r : recs)
    for (auto& b : r.data) {
      s = s * 1103515245u + 12345u;
      b = static_cast<uint8_t>(s >> 16);
    }
  return recs;
}

// Records of the given addresses and lengths with pseudo-random data.
inline std::vector<Record> MakeRecords(std::initializer_list<std::pair<uint32_t, uint32_t>> layout, uint32_t seed) {
  std::vector<Record> recs;
  uint32_t s = seed * 2654435761u + 1;
  for (auto [address, length] : layout) {
    Record r{address, std::vector<uint8_t>(length)};
    for (auto& b : r.data) {
      s = s * 1103515245u + 12345u;
      b = static_cast<uint8_t>(s >> 16);
    }
    recs.push_back(std::move(r));
  }
  return recs;
}

inline void WriteRaw(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline void WriteRecordFile(const std::string& path, const std::vector<Record>& recs) {
  WriteRaw(path, vantrel::test::RecordFileBytes(recs));
}

inline std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline std::vector<test::JsonLine> Events(const std::string& out) {
  std::vector<test::JsonLine> events;
  std::stringstream ss(out);
  for (std::string line; std::getline(ss, line);) {
    test::JsonLine j;
    EXPECT_TRUE(j.Parse(line)) << line;
    events.push_back(j);
  }
  return events;
}

class CliSession : public ::testing::Test {
 protected:
  // Starts a simulator on COM<n>; skips the test while the simulator is not built.
  sim::Simulator* StartSim(int com, sim::Options o = {}) {
    o.comNumber = com;
    o.timeScale = 0.0;
    auto s = std::make_unique<sim::Simulator>(o);
    std::string error;
    int rc = s->Start(&error);
    if (rc == ENOSYS) return nullptr;
    EXPECT_EQ(rc, 0) << error;
    sims_.push_back(std::move(s));
    return sims_.back().get();
  }

  void TearDown() override {
    for (auto& s : sims_) {
      std::string text;
      for (const auto& v : s->Violations()) text += "  " + v + "\n";
      EXPECT_TRUE(text.empty()) << s->ComName() << ": protocol violations:\n" << text;
      if (HasFailure()) {
        // What the handset saw is half of any failure of a session.
        std::string transcript;
        for (const auto& line : s->Transcript()) transcript += line + "\n";
        ADD_FAILURE() << s->ComName() << ": the handset's transcript:\n" << transcript;
      }
      s->Stop();
    }
  }

  // No real time for pauses and idle budgets at a fifth, following the
  // simulator (link/SimulatedLine.h): each pause lasts until the handset has
  // taken in what it was sent, and a budget counts only while it waits, so a
  // loaded machine changes nothing but the time the test takes.
  std::vector<std::string> Cli(int com, std::initializer_list<std::string> more) {
    std::vector<std::string> args = {"--pause-scale", "0",  "--poll-scale", "0.2", "--follow-simulator",
                                     "-p",            "COM" + std::to_string(com)};
    args.insert(args.end(), more);
    return args;
  }

  std::string Scratch(const std::string& name) { return config_.Root() + "/" + name; }

  vantrel::test::ScratchConfig config_;
  std::vector<std::unique_ptr<sim::Simulator>> sims_;
};

#define START_SIM_OR_SKIP_WITH(var, com, options)                     \
  sim::Simulator* var = StartSim(com, options);                       \
  if (var == nullptr) GTEST_SKIP() << "the handset simulator is not built yet"
#define START_SIM_OR_SKIP(var, com) START_SIM_OR_SKIP_WITH(var, com, sim::Options{})

}  // namespace vantrel::cli
