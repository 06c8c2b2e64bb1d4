// Complete sessions of the real vantrel-cli program against the handset
// simulator: connect, download, dump back and compare; a handset that gives
// up; --verify catching a bit the flash stored wrongly; two handsets at once.
#include "SimSession.h"
#include "tests/support/JsonSchema.h"

namespace vantrel::cli {
namespace {

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

  // Every event is one the schema of the event stream describes.
  const nlohmann::json schema = vantrel::test::EventSchema();
  std::stringstream lines(r.out);
  for (std::string line; std::getline(lines, line);)
    EXPECT_EQ(vantrel::test::SchemaViolation(schema, nlohmann::json::parse(line)), "") << line;

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

TEST_F(CliSession, HandsetOnUsb) {
  sim::Options o;
  o.usb = true;
  START_SIM_OR_SKIP_WITH(sim, 7, o);
  auto recs = DemoRecords(6);
  std::string img = Scratch("demo.img");
  WriteRecordFile(img, recs);
  std::string dump = Scratch("usb.dmp");
  CliResult r = RunCli(Cli(7, {"--usb", "--rate", "921K", "--verify", "connect", "download", "imgset", img,
                               "nand-dump", "4A0000", "4BFFFF", dump}));
  ASSERT_EQ(r.status, kExitOk) << r.err << r.out;
  EXPECT_TRUE(ReadAll(dump) == recs[0].data);
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

TEST_F(CliSession, DumpOntoAFullDiskIsAFileFailure) {
  START_SIM_OR_SKIP(sim, 7);
  const std::string dump = Scratch("full.dmp");
  // The disk holds 0x30000 bytes: the first block of two, and half the next.
  std::vector<std::string> args = {"-c", "trap '' XFSZ; ulimit -f 384; exec \"$0\" \"$@\"", test::CliProgram()};
  for (const std::string& a : Cli(7, {"connect", "nand-dump", "4A0000", "4DFFFF", dump})) args.push_back(a);
  CliResult r = CliProcess("/bin/sh", args).Finish();
  EXPECT_EQ(r.status, kExitFile) << r.err;
  EXPECT_NE(r.err.find("FAILED (file): Error writing dump file : File too large"), std::string::npos) << r.err;
  EXPECT_GE(ReadAll(dump + ".partial").size(), 0x20000u);
  sim->ClearViolations();  // the read-back was left half-way
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
