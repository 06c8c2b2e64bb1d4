// Complete sessions of the real vantrel-cli program against the handset
// simulator: connect, download, dump back and compare; a handset that gives
// up; --verify catching a bit the flash stored wrongly; two handsets at once.
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
#include "tests/support/ScratchConfig.h"

namespace vantrel::cli {
namespace {

using test::CliProcess;
using test::CliResult;
using test::RunCli;

struct Record {
  uint32_t address;
  std::vector<uint8_t> data;
};

// An image-set record file: what the image-set download sends is its first
// three records (head and two middle records).
std::vector<Record> DemoRecords(uint32_t seed) {
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

void WriteRecordFile(const std::string& path, const std::vector<Record>& recs) {
  std::ofstream f(path, std::ios::binary);
  for (const auto& r : recs) {
    uint32_t words[2] = {r.address, static_cast<uint32_t>(r.data.size())};
    for (uint32_t w : words)
      for (int i = 0; i < 4; ++i) f.put(static_cast<char>((w >> (8 * i)) & 0xFF));
    f.write(reinterpret_cast<const char*>(r.data.data()), static_cast<std::streamsize>(r.data.size()));
  }
}

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

std::vector<test::JsonLine> Events(const std::string& out) {
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
  sim::Simulator* StartSim(int com) {
    sim::Options o;
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
      s->Stop();
    }
  }

  // Protocol pauses at a hundredth (rate changes need a moment on the line),
  // idle budgets at a fifth: quick, yet safe on a loaded machine.
  std::vector<std::string> Cli(int com, std::initializer_list<std::string> more) {
    std::vector<std::string> args = {"--pause-scale", "0.01", "--poll-scale", "0.2", "-p", "COM" + std::to_string(com)};
    args.insert(args.end(), more);
    return args;
  }

  std::string Scratch(const std::string& name) { return config_.Root() + "/" + name; }

  vantrel::test::ScratchConfig config_;
  std::vector<std::unique_ptr<sim::Simulator>> sims_;
};

#define START_SIM_OR_SKIP(var, com)                                   \
  sim::Simulator* var = StartSim(com);                                \
  if (var == nullptr) GTEST_SKIP() << "the handset simulator is not built yet"

TEST_F(CliSession, ConnectDownloadDumpBackAndCompare) {
  START_SIM_OR_SKIP(sim, 7);
  auto recs = DemoRecords(1);
  std::string img = Scratch("demo.img");
  WriteRecordFile(img, recs);
  std::string dump = Scratch("back.dmp");
  CliResult r = RunCli(Cli(7, {"--rate", "921K", "--json", "--verify", "connect", "download", "imgset", img,
                               "nand-dump", "4A0000", "502FFF", dump}));
  ASSERT_EQ(r.status, kExitOk) << r.err << r.out;

  // The dump holds the records at their addresses and erased flash between.
  std::vector<uint8_t> expected(0x503000 - 0x4A0000, 0xFF);
  for (const auto& rec : recs) std::copy(rec.data.begin(), rec.data.end(), expected.begin() + (rec.address - 0x4A0000));
  EXPECT_TRUE(ReadAll(dump) == expected);
  EXPECT_TRUE(sim->ReadNand(0x4C0000, 0x6000) == recs[1].data);

  auto events = Events(r.out);
  int ok = 0;
  bool verified = false, progress = false;
  for (const auto& e : events) {
    if (e.Get("event") == "operation" && e.Get("phase") == "end" && e.Get("ok") == "true") ++ok;
    if (e.Get("event") == "verify") verified = e.Get("match") == "true" && e.Get("bytes") == std::to_string(0x29000);
    if (e.Get("event") == "progress") progress = true;
  }
  EXPECT_EQ(ok, 3);
  EXPECT_TRUE(verified) << r.out;
  EXPECT_TRUE(progress);
  EXPECT_EQ(events.back().Get("status"), "0");
}

TEST_F(CliSession, HandsetThatGivesUpFailsTheRunWithItsReason) {
  START_SIM_OR_SKIP(sim, 7);
  sim::Fault f;
  f.kind = sim::Fault::Kind::Failed;
  f.occurrence = 2;
  sim->AddFault(f);
  std::string img = Scratch("demo.img");
  WriteRecordFile(img, DemoRecords(2));
  CliResult r = RunCli(Cli(7, {"connect", "download", "imgset", img, "nand-dump", "4A0000", "4BFFFF"}));
  EXPECT_EQ(r.status, kExitHandset) << r.err;
  EXPECT_NE(r.err.find("[2/3] download imgset " + img + ": FAILED (handset): Error flashing image set"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(r.err.find("[3/3]"), std::string::npos);  // the run stops at the failure
}

TEST_F(CliSession, VerifyCatchesABitTheFlashStoredWrongly) {
  START_SIM_OR_SKIP(sim, 7);
  sim::Fault f;
  f.kind = sim::Fault::Kind::FlipBit;
  f.part = sim::FlashPart::Nand;
  f.address = 0x4C0123;
  f.bit = 3;
  sim->AddFault(f);
  std::string img = Scratch("demo.img");
  WriteRecordFile(img, DemoRecords(3));
  CliResult r = RunCli(Cli(7, {"--json", "--verify", "connect", "download", "imgset", img}));
  EXPECT_EQ(r.status, kExitVerify) << r.err;
  bool named = false;
  for (const auto& e : Events(r.out))
    if (e.Get("event") == "verify") named = e.Get("match") == "false" && e.Get("first_difference") == "0x4C0123";
  EXPECT_TRUE(named) << r.out;

  // Without --verify the transfer's own checks pass: only a read-back sees it.
  sim->PowerOff();  // the operator switches the handset off before the next connect
  CliResult plain = RunCli(Cli(7, {"connect", "download", "imgset", img}));
  EXPECT_EQ(plain.status, kExitOk) << plain.err;
}

TEST_F(CliSession, TwoHandsetsAtOnce) {
  START_SIM_OR_SKIP(a, 7);
  sim::Simulator* b = StartSim(8);
  ASSERT_NE(b, nullptr);
  auto recsA = DemoRecords(4), recsB = DemoRecords(5);
  std::string imgA = Scratch("a.img"), imgB = Scratch("b.img");
  WriteRecordFile(imgA, recsA);
  WriteRecordFile(imgB, recsB);
  CliProcess pa(test::CliProgram(), Cli(7, {"--rate", "460K", "--verify", "connect", "download", "imgset", imgA}));
  CliProcess pb(test::CliProgram(), Cli(8, {"--rate", "921K", "--verify", "connect", "download", "imgset", imgB}));
  CliResult ra = pa.Finish();
  CliResult rb = pb.Finish();
  EXPECT_EQ(ra.status, kExitOk) << ra.err;
  EXPECT_EQ(rb.status, kExitOk) << rb.err;
  EXPECT_TRUE(a->ReadNand(0x4A0000, 0x20000) == recsA[0].data);
  EXPECT_TRUE(b->ReadNand(0x4A0000, 0x20000) == recsB[0].data);
}

}  // namespace
}  // namespace vantrel::cli
