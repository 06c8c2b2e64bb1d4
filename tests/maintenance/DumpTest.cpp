// NOR and NAND dumps and the partial erase, pressed as an operator would,
// against the handset simulator.
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "jobs/ControlIds.h"
#include "link/ResultCodes.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "tests/maintenance/MaintenanceFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;

constexpr const char* kFilter = "All Files (*.*)|*.*|All Files (*.*)|*.*||";

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t from, size_t length) {
  return std::vector<uint8_t>(v.begin() + static_cast<long>(from), v.begin() + static_cast<long>(from + length));
}

int CountOf(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + what.size())) ++n;
  return n;
}

// A file-size limit for this process while it lives: writes past it fail
// with EFBIG, as on a full disk, instead of raising SIGXFSZ.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = saved_;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
};

class DumpTest : public MaintenanceTest {
 protected:
  // A connected handset with a megabyte of NAND at 0x600000 (returned), which
  // falls silent at its third read-back block, after sending two.
  std::vector<uint8_t> ConnectSilentAfterTwoBlocks() {
    StartSim();
    Connect();
    const auto nand = Seed(FlashPart::Nand, 0x600000, 0x100000);
    sim::Fault silence;
    EXPECT_TRUE(sim::Fault::Parse("silence:dump-block:3", &silence, nullptr));
    Sim().AddFault(silence);
    return nand;
  }
};

TEST_F(DumpTest, NandDumpsWriteExactlyTheInclusiveRange) {
  StartSim();
  Connect();
  const auto nand = Seed(FlashPart::Nand, 0, 0xCE0000);
  const auto vlf = Seed(FlashPart::Nand, 0x5000000, 0x1000, 2);

  // The Rsrc1 preset.
  size_t mark = con.Count();
  NandDump(DumpArea{0, 0xABFFFF, 0}, dumps + "/rsrc1.dmp");
  EXPECT_EQ(SaveProposalsSince(mark), std::vector<std::string>{"nanddump0x0_0xac0000.dmp"});
  EXPECT_EQ(con.CallsSince(mark)[0].type, CallType::Busy);
  for (const auto& c : con.CallsSince(mark)) {
    if (c.type == CallType::SaveDialog) {
      EXPECT_EQ(c.caption, kFilter);
    }
  }
  EXPECT_EQ(ReadFile(dumps + "/rsrc1.dmp"), Slice(nand, 0, 0xAC0000));
  EXPECT_EQ(Job().expectedTicks.load(), 86);
  EXPECT_EQ(Job().progressTicks.load(), 86);
  EXPECT_EQ(con.ControlText(ctl::kFileName), "nanddump0x0_0xac0000.dmp");
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"DUMP Complete | NOTICE"});
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find("\n  * NAND Flash DUMP\n    Open Comport\t\t\t\t> > > OKOK\n    Now DUMP start!!\n"),
            std::string::npos)
      << log;
  EXPECT_EQ(log.find("Set Target Phone BaudRate"), std::string::npos);
  EXPECT_NE(log.find("\n\n      DUMP  Completed!!!\n"), std::string::npos);
  EXPECT_EQ(CountOf(log, "   Dump   >>>   OK"), 86);
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(Job().loaderState.load(), 2);

  // The hidden Rsrc2 preset, into a file that exists already (truncated).
  {
    std::ofstream old(dumps + "/rsrc2.dmp", std::ios::binary);
    old << std::string(0x300000, 'x');
  }
  mark = con.Count();
  NandDump(DumpArea{0xAC0000, 0xCBFFFF, 0}, dumps + "/rsrc2.dmp");
  EXPECT_EQ(SaveProposalsSince(mark), std::vector<std::string>{"nanddump0xac0000_0xcc0000.dmp"});
  EXPECT_EQ(ReadFile(dumps + "/rsrc2.dmp"), Slice(nand, 0xAC0000, 0x200000));
  EXPECT_EQ(Job().progressTicks.load(), 16);
  EXPECT_EQ(Job().expectedTicks.load(), 16);

  // Hand-typed: two bytes at an odd address, and a range across a block edge.
  NandDump(DumpArea{0x20011, 0x20012, 0}, dumps + "/two.dmp");
  EXPECT_EQ(ReadFile(dumps + "/two.dmp"), Slice(nand, 0x20011, 2));
  NandDump(DumpArea{0x1FFF0, 0x6000F, 0}, dumps + "/edge.dmp");
  EXPECT_EQ(ReadFile(dumps + "/edge.dmp"), Slice(nand, 0x1FFF0, 0x40020));
  EXPECT_EQ(Job().progressTicks.load(), Job().expectedTicks.load());

  // The file-system area keeps its own name; one byte later it is numbered.
  mark = con.Count();
  NandDump(DumpArea{0x5000000, 0x5000FFF, 0}, dumps + "/vlf.dmp");
  NandDump(DumpArea{0x5000001, 0x5000FFF, 0}, dumps + "/vlf1.dmp");
  EXPECT_EQ(SaveProposalsSince(mark),
            (std::vector<std::string>{"vlf_area_dump.dmp", "nanddump0x5000001_0x5001000.dmp"}));
  EXPECT_EQ(ReadFile(dumps + "/vlf.dmp"), vlf);
  EXPECT_EQ(ReadFile(dumps + "/vlf1.dmp"), Slice(vlf, 1, 0xFFF));
  EXPECT_EQ(rec.m_dumpFile, nullptr);
  EXPECT_EQ(rec.m_pLink, nullptr);
}

TEST_F(DumpTest, NandDumpAtTheRaisedRateReturnsTheHandsetToTheBaseRate) {
  StartSim();
  Connect();
  const auto nand = Seed(FlashPart::Nand, 0x400000, 0x60000);
  rec.m_nBaudRate = 2;  // 921K
  const size_t mark = con.Count();
  NandDump(DumpArea{0x400000, 0x45FFFF, 0}, dumps + "/fast.dmp");
  EXPECT_EQ(ReadFile(dumps + "/fast.dmp"), nand);
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find("> > > OK\n    Set Target Phone BaudRate\t\t> > > OK"), std::string::npos) << log;
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"DUMP Complete | NOTICE"});
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
  // And the next job finds the handset where it expects it.
  rec.m_nBaudRate = 0;
  NandDump(DumpArea{0x400000, 0x40FFFF, 0}, dumps + "/slow.dmp");
  EXPECT_EQ(ReadFile(dumps + "/slow.dmp"), Slice(nand, 0, 0x10000));

  // A dump that fails at the raised rate still leaves the handset where the
  // next job can reach it.
  sim::Fault refuse;
  refuse.kind = sim::Fault::Kind::RefuseAddress;
  Sim().AddFault(refuse);
  rec.m_nBaudRate = 2;
  const size_t refusedMark = con.Count();
  NandDump(DumpArea{0x400000, 0x40FFFF, 0}, dumps + "/refused.dmp");
  EXPECT_EQ(con.LogSince(refusedMark).find("Completed"), std::string::npos);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

TEST_F(DumpTest, NandDumpOverUsbOpensItsOwnLink) {
  auto options = sim::TestOptions();
  options.usb = true;
  StartSim(options);
  rec.m_nCommType = 1;
  Connect();
  const auto nand = Seed(FlashPart::Nand, 0x2000000, 0x50000);
  const size_t mark = con.Count();
  NandDump(DumpArea{0x2000000, 0x204FFFF, 0}, dumps + "/usb.dmp");
  EXPECT_EQ(ReadFile(dumps + "/usb.dmp"), nand);
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find("\n    Open Comport\t\t\t\t> > > OK\n    Now DUMP start!!\n"), std::string::npos) << log;
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"DUMP Complete | NOTICE"});
  EXPECT_EQ(rec.m_pLink, nullptr);
}

TEST_F(DumpTest, PartialEraseLeavesErasedBytesOverTheRangeOnly) {
  StartSim();
  Connect();
  const auto before = Seed(FlashPart::Nand, 0x100000, 0x100000);
  const size_t mark = con.Count();
  // TO is the first byte of a block: the byte at TO belongs to the range, so
  // the handset (which erases whole blocks) must erase that block too.
  NandDump(DumpArea{0x140000, 0x180000, 1}, std::nullopt);
  EXPECT_TRUE(SaveProposalsSince(mark).empty());
  EXPECT_EQ(Sim().ReadNand(0x140000, 0x60000), std::vector<uint8_t>(0x60000, 0xFF));
  EXPECT_EQ(Sim().ReadNand(0x100000, 0x40000), Slice(before, 0, 0x40000));
  EXPECT_EQ(Sim().ReadNand(0x1A0000, 0x60000), Slice(before, 0xA0000, 0x60000));
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find("\n  * NAND Flash partial erase\n    Open Comport"), std::string::npos) << log;
  EXPECT_NE(log.find("\n    Now Partial erase start!!\n---"), std::string::npos);
  EXPECT_NE(log.find("\n\n      DUMP  Completed!!!\n"), std::string::npos);
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"DUMP Complete | NOTICE"});
  EXPECT_EQ(Job().progressTicks.load(), 0);
  EXPECT_EQ(con.LastState(), "Ready");
}

TEST_F(DumpTest, NorDumpsWriteExactlyTheHalfOpenRange) {
  StartSim();
  Connect();  // the NAND loader runs: the NOR dump has it give way first
  const auto boot = Seed(FlashPart::Nor, 0, 0x10000);
  const auto dsp = Seed(FlashPart::Nor, 0x1F00000, 0x20000, 2);
  const auto top = Seed(FlashPart::Nor, 0x1FC0000, 0x40000, 3);

  size_t mark = con.Count();
  NorDump(DumpArea{0, 0xFFFF, 0}, dumps + "/boot.dmp");
  EXPECT_EQ(SaveProposalsSince(mark), std::vector<std::string>{"nordump0x0_0xffff.dmp"});
  EXPECT_EQ(ReadFile(dumps + "/boot.dmp"), Slice(boot, 0, 0xFFFF));
  EXPECT_EQ(MessagesSince(mark), std::vector<std::string>{"DUMP complete | NOTICE"});
  std::string log = con.LogSince(mark);
  const size_t reconnect = log.find("\n   * Reconnecting (Flash Driver Change)");
  const size_t loader = log.find("\n\n  * NOR Flash Driver Download");
  const size_t dump = log.find("\n  * NOR Flash DUMP\n    Open Comport\t\t\t\t> > > OKOK\n    Now DUMP start!!\n");
  EXPECT_LT(reconnect, loader) << log;
  EXPECT_LT(loader, dump) << log;
  EXPECT_NE(dump, std::string::npos) << log;
  EXPECT_EQ(Job().loaderState.load(), 1);
  EXPECT_EQ(con.ControlText(ctl::kFileName), "nordump0x0_0xffff.dmp");

  // With the NOR loader running there is nothing to upload.
  mark = con.Count();
  NorDump(DumpArea{0x1F00000, 0x1F1FFFF, 0}, dumps + "/dsp.dmp");
  EXPECT_EQ(ReadFile(dumps + "/dsp.dmp"), Slice(dsp, 0, 0x1FFFF));
  EXPECT_EQ(con.LogSince(mark).find("NOR Flash Driver Download"), std::string::npos);
  EXPECT_EQ(Job().expectedTicks.load(), 1);
  EXPECT_EQ(Job().progressTicks.load(), 1);

  // Hand-typed to the last byte the dump can read: one main block and four
  // small top blocks.
  NorDump(DumpArea{0x1FC0000, 0x1FFFFFF, 0}, dumps + "/top.dmp");
  EXPECT_EQ(ReadFile(dumps + "/top.dmp"), Slice(top, 0, 0x3FFFF));
  EXPECT_EQ(Job().expectedTicks.load(), 5);
  EXPECT_EQ(Job().progressTicks.load(), 5);
  NorDump(DumpArea{0x1FFFFFE, 0x1FFFFFF, 0}, dumps + "/one.dmp");
  EXPECT_EQ(ReadFile(dumps + "/one.dmp"), Slice(top, 0x3FFFE, 1));
  EXPECT_EQ(rec.m_pLink, nullptr);
  EXPECT_EQ(rec.m_dumpFile, nullptr);
}

TEST_F(DumpTest, RefusalsComeBeforeAnyFileOrPortWork) {
  // No handset at all: nothing below may reach for the port.
  struct Case {
    const char* name;
    bool nor;
    std::optional<DumpArea> area;
    std::optional<std::string> path;
    std::vector<std::string> boxes;
  };
  const std::string missingDir = dumps + "/no/such/folder/x.dmp";
  const std::string fifo = Config().Root() + "/dump.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::vector<Case> cases = {
      {"NOR dialog cancelled", true, std::nullopt, std::nullopt, {}},
      {"NAND dialog cancelled", false, std::nullopt, std::nullopt, {}},
      {"NOR untouched dialog", true, DumpArea{0, 0, 0}, std::nullopt, {"Dump range invalid | Error"}},
      {"NOR past the part", true, DumpArea{0x1FFFFFE, 0x2000000, 0}, std::nullopt, {"Dump range invalid | Error"}},
      {"NOR empty", true, DumpArea{0x100, 0x100, 0}, std::nullopt, {"Dump range invalid | Error"}},
      {"NAND past the part", false, DumpArea{0, 0x8000000, 0}, std::nullopt, {"Dump range invalid | Error"}},
      {"NAND reversed erase", false, DumpArea{0x40000, 0x20000, 1}, std::nullopt, {"Dump range invalid | Error"}},
      {"NOR save cancelled", true, DumpArea{0, 1, 0}, std::nullopt, {"File select canceled | Error"}},
      {"NAND save cancelled", false, DumpArea{0, 1, 0}, std::nullopt, {"File select canceled | Error"}},
      {"NOR file not created", true, DumpArea{0, 1, 0}, missingDir,
       {"Internal Error! (file creation) | VANTREL Downloader"}},
      {"NAND file not created", false, DumpArea{0, 1, 0}, missingDir,
       {"Internal Error! (file creation) | VANTREL Downloader"}},
      // Opening a FIFO would wait for a reader.
      {"NAND onto a FIFO", false, DumpArea{0, 1, 0}, fifo, {"Internal Error! (file creation) | VANTREL Downloader"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Job().loaderState = 2;
    const size_t mark = con.Count();
    if (c.nor) {
      NorDump(c.area, c.path);
    } else {
      NandDump(c.area, c.path);
    }
    EXPECT_EQ(MessagesSince(mark), c.boxes);
    EXPECT_EQ(con.LogSince(mark), "");
    EXPECT_EQ(con.LastState(), "Ready");
    EXPECT_EQ(Job().loaderState.load(), 2);
    EXPECT_EQ(rec.m_dumpFile, nullptr);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dumps));
  EXPECT_TRUE(std::filesystem::is_fifo(fifo));
}

TEST_F(DumpTest, FullDiskFailsTheDumpAndKeepsBothTheOldFileAndWhatWasWritten) {
  StartSim();
  Connect();
  const auto nand = Seed(FlashPart::Nand, 0, 0x100000);
  const std::string path = dumps + "/full.dmp";
  const std::vector<uint8_t> older = {'o', 'l', 'd'};
  std::ofstream(path, std::ios::binary) << "old";
  const size_t mark = con.Count();
  const rlim_t limit = 0x40000 + 1000;  // two blocks and a bit of the third
  {
    FileSizeLimit full(limit);
    NandDump(DumpArea{0, 0xFFFFF, 0}, path);
  }
  const auto boxes = MessagesSince(mark);
  ASSERT_EQ(boxes.size(), 1u) << con.Dump();
  EXPECT_EQ(boxes[0], "Error writing dump file : File too large\n" + path +
                          ".partial\nThe dump stopped after 262144 of 1048576 bytes.\n | VANTREL Downloader");
  EXPECT_EQ(Job().outcome.Snapshot().failure, FailureKind::File);  // the disk's failure, not the handset's
  const std::string log = con.LogSince(mark);
  EXPECT_NE(log.find("\r\n\r\n -  Fail!!!!!!!!"), std::string::npos);
  EXPECT_EQ(log.find("Completed"), std::string::npos);
  EXPECT_EQ(ReadFile(path), older);
  const auto partial = ReadFile(path + ".partial");
  EXPECT_GE(partial.size(), 0x40000u);
  EXPECT_LE(partial.size(), limit);
  EXPECT_EQ(partial, Slice(nand, 0, partial.size()));
  EXPECT_EQ(Job().loaderState.load(), 2);
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(rec.m_dumpFile, nullptr);
  EXPECT_EQ(rec.m_pLink, nullptr);
  TakeViolations();  // the handset was left in the middle of its read-back

  // A whole dump replaces the old file and leaves the earlier partial alone.
  Sim().PowerCycle();
  Connect();
  NandDump(DumpArea{0, 0xFFFFF, 0}, path);
  EXPECT_EQ(ReadFile(path), nand);
  EXPECT_EQ(ReadFile(path + ".partial"), partial);
  EXPECT_FALSE(std::filesystem::exists(path + ".partial-2"));
}

TEST_F(DumpTest, SilentHandsetFailsTheDumpAfterTheBlocksItSent) {
  const auto nand = ConnectSilentAfterTwoBlocks();
  const size_t mark = con.Count();
  NandDump(DumpArea{0x600000, 0x6FFFFF, 0}, dumps + "/silent.dmp");
  EXPECT_FALSE(std::filesystem::exists(dumps + "/silent.dmp"));
  EXPECT_EQ(MessagesSince(mark),
            std::vector<std::string>{"Error flashing erase : No respone at the target phone\n | VANTREL Downloader"});
  EXPECT_EQ(ReadFile(dumps + "/silent.dmp.partial"), Slice(nand, 0, 0x40000));
  EXPECT_EQ(Job().progressTicks.load(), 2);
  EXPECT_NE(con.LogSince(mark).find("\r\n\r\n -  Fail!!!!!!!!"), std::string::npos);
  EXPECT_EQ(con.LastState(), "Ready");
  TakeViolations();
}

TEST_F(DumpTest, CancelInTheMiddleLeavesTheBlocksReceivedAndFreesThePort) {
  const auto nand = ConnectSilentAfterTwoBlocks();
  // A long idle budget: the job is still waiting when Cancel comes.
  timing::SetPollScale(1.0);
  con.QueueNandDumpArea(DumpArea{0x600000, 0x6FFFFF, 0});
  con.QueueSaveFile(dumps + "/cancelled.dmp");
  op->OnNandDump();
  // Each block reaches the disk as it arrives: wait for the second, after
  // which the handset says nothing more.
  const std::string path = dumps + "/cancelled.dmp.partial";
  for (int i = 0; i < 2000 && !(std::filesystem::exists(path) && std::filesystem::file_size(path) == 0x40000); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  ASSERT_EQ(std::filesystem::file_size(path), 0x40000u) << con.Dump();
  op->OnCancel();
  const size_t mark = con.Count();
  op->WaitForJob();
  EXPECT_EQ(con.CallsSince(mark).size(), 0u) << con.Dump();
  EXPECT_EQ(ReadFile(path), Slice(nand, 0, 0x40000));
  EXPECT_EQ(rec.m_dumpFile, nullptr);
  EXPECT_EQ(rec.m_pLink, nullptr);
  EXPECT_EQ(con.LastState(), "Disconnected");

  // The port was given back: a new connect after a power cycle works.
  timing::SetPollScale(kFastPollScale);
  Sim().ClearFaults();
  Sim().PowerCycle();
  rec.m_nCommType = 0;
  Connect();
  TakeViolations();
}

}  // namespace
}  // namespace vantrel::test
