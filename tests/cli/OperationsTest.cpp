// Every operation the window offers, run by the real vantrel-cli program
// against the handset simulator, several in one process so that the loader
// left running by one serves the next.
#include "SimSession.h"

namespace vantrel::cli {
namespace {

std::vector<uint8_t> Flat(const std::vector<Record>& recs, size_t index) { return recs[index].data; }

class CliOperations : public CliSession {
 protected:
  void SetUp() override {
    imgset = MakeRecords({{0x4A0000, 0x20000}, {0x4C0000, 0x4000}, {0x4E0000, 0x2000}}, 11);
    calset = MakeRecords({{0x240000, 0x3000}, {0x260000, 0x1000}}, 12);  // the first record is the calset
    rsrc1 = MakeRecords({{0x2000000, 0x6000}}, 13);
    rsrc2 = MakeRecords({{0x4600000, 0x5000}}, 14);
    fs = MakeRecords({{0, 0x7000}}, 15)[0].data;  // a file-system image is one stream
    nand = MakeRecords({{0, 0x5000}}, 16)[0].data;
    nor = MakeRecords({{0, 0x3000}}, 17)[0].data;
    WriteRecordFile(Scratch("a.img"), imgset);
    WriteRecordFile(Scratch("a_calset.img"), calset);
    WriteRecordFile(Scratch("a.rc1"), rsrc1);
    WriteRecordFile(Scratch("a.rc2"), rsrc2);
    WriteRaw(Scratch("a.vlf"), fs);
    WriteRaw(Scratch("manual.img"), nand);
    WriteRaw(Scratch("nor.img"), nor);
  }

  // Runs and insists on success, showing what the program said otherwise.
  CliResult Ok(int com, std::vector<std::string> args) {
    std::vector<std::string> all = Cli(com, {"--yes"});
    all.insert(all.end(), args.begin(), args.end());
    CliResult r = RunCli(all);
    EXPECT_EQ(r.status, kExitOk) << r.err << "\n--- log:\n" << r.out;
    return r;
  }

  std::vector<Record> imgset, calset, rsrc1, rsrc2;
  std::vector<uint8_t> fs, nand, nor;
};

TEST_F(CliOperations, EveryNandItemAndMaintenanceInOneProcess) {
  START_SIM_OR_SKIP(sim, 7);
  const std::string d1 = Scratch("manual.dmp"), d2 = Scratch("erased.dmp");
  CliResult r = Ok(7, {"--verify", "connect",
                       "download", "imgset", Scratch("a.img"),
                       "download", "calset", Scratch("a_calset.img"),
                       "download", "rsrc1", Scratch("a.rc1"),
                       "download", "rsrc2", Scratch("a.rc2"),
                       "download", "nand", Scratch("manual.img"), "100000",
                       "nand-dump", "100000", "104FFF", d1,
                       "nand-erase", "100000", "11FFFF",
                       "nand-dump", "100000", "100FFF", d2});
  EXPECT_TRUE(ReadAll(d1) == nand);
  EXPECT_TRUE(ReadAll(d2) == std::vector<uint8_t>(0x1000, 0xFF));
  // Every download was read back and found equal.
  size_t verified = 0;
  for (size_t at = 0; (at = r.err.find("all equal to the file", at)) != std::string::npos; ++at) ++verified;
  EXPECT_EQ(verified, 5u) << r.err;

  // A second process finds the NAND loader still running: no connect needed.
  r = Ok(7, {"--verify", "download", "fs", Scratch("a.vlf"),
             "erase", "boot",
             "vlf-format",
             "pzl-format",
             "raw-readback",
             "erase", "all",
             "disconnect"});
  EXPECT_NE(r.err.find("[7/7] disconnect: OK"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("all equal to the file"), std::string::npos) << r.err;
  // The last erase leaves the whole NAND erased.
  EXPECT_TRUE(sim->ReadNand(0x4A0000, 0x100) == std::vector<uint8_t>(0x100, 0xFF));
}

TEST_F(CliOperations, NorOperationsAfterTheNandLoader) {
  START_SIM_OR_SKIP(sim, 7);
  const std::string d = Scratch("nor.dmp");
  sim->WriteNor(0x1F00000, std::vector<uint8_t>(0x100, 0x5A));
  Ok(7, {"--verify", "connect",
         "nor-dump", "1F00000", "1F00100", d,
         "download", "nor", Scratch("nor.img"), "1FE0003",
         "nor-format"});
  EXPECT_TRUE(ReadAll(d) == std::vector<uint8_t>(0x100, 0x5A));
  // The NOR row's rule: less the low 7 bits times 1024.
  EXPECT_TRUE(sim->ReadNor(0x1FDF403, 0x3000) == nor);
}

TEST_F(CliOperations, TheNandChains) {
  START_SIM_OR_SKIP(sim, 7);
  Ok(7, {"--imgset", Scratch("a.img"), "--calset", Scratch("a_calset.img"), "--rsrc1", Scratch("a.rc1"),
         "--rsrc2", Scratch("a.rc2"), "--fs", Scratch("a.vlf"), "--with-calset", "--verify",
         "connect", "download", "all", "download", "rsrc1-fs"});
  EXPECT_TRUE(sim->ReadNand(0x4A0000, 0x20000) == Flat(imgset, 0));
  EXPECT_TRUE(sim->ReadNand(0x240000, 0x3000) == Flat(calset, 0));
  EXPECT_TRUE(sim->ReadNand(0x2000000, 0x6000) == Flat(rsrc1, 0));
  EXPECT_TRUE(sim->ReadNand(0x4600000, 0x5000) == Flat(rsrc2, 0));
  EXPECT_TRUE(sim->ReadNand(0x5000000, 0x7000) == fs);
}

TEST_F(CliOperations, AutoAllWritesTheImageSetIntoNorAndTheRestIntoNand) {
  START_SIM_OR_SKIP(sim, 7);
  Ok(7, {"--imgset", Scratch("a.img"), "--calset", Scratch("a_calset.img"), "--rsrc1", Scratch("a.rc1"),
         "--rsrc2", Scratch("a.rc2"), "--fs", Scratch("a.vlf"), "--calset-default", "auto-all"});
  EXPECT_TRUE(sim->ReadNor(0x4A0000, 0x20000) == Flat(imgset, 0));
  EXPECT_TRUE(sim->ReadNand(0x2000000, 0x6000) == Flat(rsrc1, 0));
  EXPECT_TRUE(sim->ReadNand(0x5000000, 0x7000) == fs);
}

TEST_F(CliOperations, FileSystemItemWritesItsImage) {
  START_SIM_OR_SKIP(sim, 7);
  Ok(7, {"--verify", "connect", "download", "fs", Scratch("a.vlf")});
  EXPECT_TRUE(sim->ReadNand(0x5000000, 0x7000) == fs);
}

TEST_F(CliOperations, Bootloader) {
  START_SIM_OR_SKIP(sim, 7);
  CliResult r = Ok(7, {"bootloader"});
  EXPECT_NE(r.out.find("Boot2 Download"), std::string::npos) << r.out;
  // Over USB the window refuses it, and so does the command line.
  sim->PowerOff();
  CliResult usb = RunCli(Cli(7, {"--usb", "--yes", "bootloader"}));
  EXPECT_EQ(usb.status, kExitUsage) << usb.err;
  EXPECT_NE(usb.err.find("Only uart mode available!!!!"), std::string::npos) << usb.err;
}

TEST_F(CliOperations, EntireFlashImageOfTheWrongSizeIsAFileFailure) {
  START_SIM_OR_SKIP(sim, 7);
  CliResult r = RunCli(Cli(7, {"connect", "download", "entire", Scratch("manual.img")}));
  EXPECT_EQ(r.status, kExitFile) << r.err;
  EXPECT_NE(r.err.find("File size error"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace vantrel::cli
