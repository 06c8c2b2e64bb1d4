// The line and the handset misbehaving under START, DOWNLOAD and NAND Dump:
// hang-ups, silence at each stage, stray bytes, resend storms, a flash part
// the tool does not know, and the two ends at different rates.
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "jobs/ControlIds.h"
#include "jobs/DownloadChecks.h"
#include "link/ComLink.h"
#include "link/ResultCodes.h"
#include "link/Timing.h"
#include "protocol/LoaderCommands.h"
#include "tests/robustness/FaultMatrix.h"
#include "tests/support/ResultNumbers.h"

namespace vantrel::test {
namespace {

constexpr uint32_t kBlock = 0x20000;
constexpr uint32_t kImgsetAt = 0x4A0000;

std::string ImageSetError(Result rc) { return std::string("Error flashing image set : ") + ResultText(rc) + "\n"; }
// The dump job words every failure of the read-back this way.
std::string DumpError(Result rc) { return std::string("Error flashing erase : ") + ResultText(rc) + "\n"; }

class LineFaults : public FaultMatrix {
 protected:
  // An image set of two whole blocks and a short one.
  std::string ThreeBlockImage() {
    image_ = Pattern(kBlock * 2 + 100, 11);
    return WriteRecordFile("imgset.img", {{kImgsetAt, image_}});
  }

  void ExpectFailedDownload(const std::string& message) {
    EXPECT_EQ(Messages(), std::vector<std::string>{message}) << con.Dump();
    const std::string log = con.Log();
    EXPECT_NE(log.find("\n      Download  Failed"), std::string::npos) << log;
    EXPECT_EQ(log.find("Completed"), std::string::npos) << log;
    EXPECT_EQ(con.LastState(), "Ready");
  }

  // A dump of three blocks from `kDumpFrom` into dump.dmp; the flash there
  // holds a pattern first.
  static constexpr uint32_t kDumpFrom = 0x100000;
  std::string PressDump() {
    flash_ = Pattern(kBlock * 3, 21);
    Sim().WriteNand(kDumpFrom, flash_);
    const std::string path = dir + "/dump.dmp";
    con.QueueNandDumpArea(DumpArea{kDumpFrom, kDumpFrom + kBlock * 3 - 1, 0});
    con.QueueSaveFile(path);
    Press([](OperationControl& c) { c.OnNandDump(); });
    return path;
  }
  // The partial dump beside `path` holds exactly the first `blocks` blocks of the flash.
  void ExpectDumpKept(const std::string& path, size_t blocks) {
    const std::vector<uint8_t> got = ReadFile(path + ".partial");
    ASSERT_EQ(got.size(), blocks * kBlock);
    EXPECT_TRUE(std::equal(got.begin(), got.end(), flash_.begin())) << "the dump file differs from the flash";
  }

  std::vector<uint8_t> image_;
  std::vector<uint8_t> flash_;
};

TEST_F(LineFaults, HangUpMidDownload) {
  StartHandset();
  Connect();
  const std::string path = ThreeBlockImage();
  AddFault("hangup:2");
  con.Clear();
  PressDownloadImgset(path);
  ExpectFailedDownload(ImageSetError(Result::ComPort));
  // What the handset confirmed before the cable went stays written.
  EXPECT_TRUE(NandHolds(kImgsetAt, std::vector<uint8_t>(image_.begin(), image_.begin() + kBlock)));
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, HangUpMidDumpKeepsTheBlocksThatArrived) {
  StartHandset();
  Connect();
  AddFault("hangup:2");
  con.Clear();
  const std::string path = PressDump();
  EXPECT_EQ(Messages(), std::vector<std::string>{DumpError(Result::ComPort)}) << con.Dump();
  EXPECT_EQ(con.Log().find("Completed"), std::string::npos);
  ExpectDumpKept(path, 1);
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, HangUpMidLoaderUpload) {
  StartHandset();
  AddFault("hangup-upload:3");  // the NAND flash loader, after the two set-up programs
  Press([](OperationControl& c) { c.OnStart(); });
  EXPECT_TRUE(Sim().WaitForTranscript("fault hangup-upload:3 fires", 0));
  EXPECT_NE(rec.m_nConnectResult, 0);
  EXPECT_EQ(Messages(), (std::vector<std::string>{ResultText(Result::ComPort), "Comm Error"})) << con.Dump();
  const std::string log = con.Log();
  EXPECT_NE(log.find("Turn On/Off the target phone!!!"), std::string::npos) << log;
  EXPECT_NE(log.find("Loader download fail!"), std::string::npos) << log;
  EXPECT_EQ(con.LastState(), "Disconnected");
  EXPECT_EQ(Job().loaderState.load(), kLoaderNone);
  ExpectStartWorksAgain();
}

// Silence from one answer on, stage by stage. Every case ends within its
// idle budget with the text of a handset that does not answer.
struct Silence {
  const char* fault;
  enum Op { Start, Download, Dump, EraseAll, PartialErase } op;
  const char* message;  // the one message box
  const char* logPiece;
};

std::string OpName(Silence::Op op) {
  switch (op) {
    case Silence::Start: return "Start";
    case Silence::Download: return "Download";
    case Silence::Dump: return "Dump";
    case Silence::EraseAll: return "EraseAll";
    case Silence::PartialErase: return "PartialErase";
  }
  return "";
}

// A failing case names its stage and fault in words.
void PrintTo(const Silence& s, std::ostream* os) { *os << OpName(s.op) << " with the fault " << s.fault; }

class SilentHandset : public LineFaults, public ::testing::WithParamInterface<Silence> {};

TEST_P(SilentHandset, EndsWithinTheIdleBudgetAndStartWorksAgain) {
  const Silence& s = GetParam();
  StartHandset();
  if (s.op != Silence::Start) Connect();
  std::string path;
  if (s.op == Silence::Download) path = ThreeBlockImage();
  AddFault(s.fault);
  con.Clear();
  switch (s.op) {
    case Silence::Start: Press([](OperationControl& c) { c.OnStart(); }); break;
    case Silence::Download: PressDownloadImgset(path); break;
    case Silence::Dump: PressDump(); break;
    case Silence::EraseAll:
    case Silence::PartialErase:
      // The erase budgets are 30 s and more: run them out faster still.
      timing::SetPollScale(0.02);
      if (s.op == Silence::EraseAll) {
        Press([](OperationControl& c) { c.OnNandEraseAll(); });
      } else {
        con.QueueNandDumpArea(DumpArea{kDumpFrom, kDumpFrom + kBlock * 3 - 1, 1});
        Press([](OperationControl& c) { c.OnNandDump(); });
      }
      timing::SetPollScale(0.1);
      break;
  }
  EXPECT_EQ(Messages(), std::vector<std::string>{s.message}) << con.Dump();
  EXPECT_NE(con.Log().find(s.logPiece), std::string::npos) << con.Dump();
  EXPECT_EQ(con.Log().find("Completed"), std::string::npos);
  EXPECT_EQ(con.Log().find("OK\n", con.Log().find("erasing")), std::string::npos) << con.Dump();
  ExpectStartWorksAgain();
}

const std::string kNoAnswer = ImageSetError(Result::NoResponse);
const std::string kNoDumpAnswer = DumpError(Result::NoResponse);

INSTANTIATE_TEST_SUITE_P(
    EachStage, SilentHandset,
    ::testing::Values(
        Silence{"silence:boot", Silence::Start, "Timeout : No Response at the target phone",
                "(Check Comport connection & Bootloader existence)"},
        Silence{"silence:start-signal", Silence::Start, "Timeout : No Response at the target phone", "Timeout\n"},
        Silence{"silence:image-ok", Silence::Download, kNoAnswer.c_str(), " Not response at the target phone\n"},
        Silence{"silence:block-request:2", Silence::Download, kNoAnswer.c_str(), " Not response at the target phone\n"},
        Silence{"silence:echo:2", Silence::Download, kNoAnswer.c_str(), " Not response at the target phone\n"},
        Silence{"silence:sector-ok:2", Silence::Download, kNoAnswer.c_str(), " Not response at the target phone\n"},
        Silence{"silence:finished", Silence::Download, kNoAnswer.c_str(), " Not response at the target phone\n"},
        Silence{"silence:image-ok", Silence::Dump, kNoDumpAnswer.c_str(), " -  Fail!!!!!!!!"},
        Silence{"silence:dump-block:2", Silence::Dump, kNoDumpAnswer.c_str(), " -  Fail!!!!!!!!"},
        // An erase that the loader never reports done is no finished erase.
        Silence{"silence:erase-done", Silence::EraseAll, kNoDumpAnswer.c_str(), "Fail"},
        Silence{"silence:erase-done", Silence::PartialErase, kNoDumpAnswer.c_str(), " -  Fail!!!!!!!!"}),
    [](const ::testing::TestParamInfo<Silence>& info) {
      std::string name = OpName(info.param.op) + "_" + info.param.fault;
      for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
      }
      return name;
    });

TEST_F(LineFaults, SilentLoaderDoesNotPassForTheHandsetBefore) {
  // A first handset leaves its flash type behind; the next one's loader
  // never answers the flash-type query.
  StartHandset();
  Connect();
  EXPECT_EQ(con.IndicatorText(1119), "ECB1");
  SwitchOff();
  AddFault("silence:flash-type");
  con.Clear();
  Press([](OperationControl& c) { c.OnStart(); });
  const std::string log = con.Log();
  EXPECT_NE(log.find("device_id=0 FAIL\n"), std::string::npos) << log;
  EXPECT_EQ(log.find("     Flash Type Checking\t\t\t> > > OK"), std::string::npos) << log;
  EXPECT_TRUE(con.Calls(CallType::LinkIndicator).empty() && con.ControlText(1119).empty())
      << "no flash type may be shown for a loader that did not name one";
  EXPECT_TRUE(StartPossible());
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, FlashPartTheToolDoesNotKnow) {
  sim::Options o = sim::TestOptions();
  o.nandDeviceId = 0x00;
  StartHandset(o);
  Press([](OperationControl& c) { c.OnStart(); });
  // Logged as a failed type check; the loader runs and the console is ready.
  EXPECT_NE(con.Log().find("device_id=0 FAIL\n"), std::string::npos) << con.Dump();
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_TRUE(con.ControlText(1119).empty());
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, StrayBytesBeforeTheBootByteAreSkipped) {
  StartHandset();
  AddFault("stray:boot:00,13,7F,FF");
  Connect();
  EXPECT_TRUE(Messages().empty()) << con.Dump();
}

TEST_F(LineFaults, GarbageInPlaceOfAnAnswerEndsTheDownload) {
  StartHandset();
  Connect();
  const std::string path = ThreeBlockImage();
  AddFault("stray:sector-ok:13,5A,00");
  con.Clear();
  PressDownloadImgset(path);
  ExpectFailedDownload(ImageSetError(Result::Internal));
  EXPECT_NE(con.Log().find(" Invalid ACK received\n"), std::string::npos);
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, GarbageInTheDumpIsNotStoredAsFlash) {
  StartHandset();
  Connect();
  AddFault("stray:dump-block:13,5A,00,7E:2");
  con.Clear();
  const std::string path = PressDump();
  ASSERT_EQ(Messages().size(), 1u) << con.Dump();
  EXPECT_EQ(con.Log().find("Completed"), std::string::npos) << con.Dump();
  // Whatever the partial holds is flash as it is: never the stray bytes.
  EXPECT_FALSE(std::filesystem::exists(path));
  const std::vector<uint8_t> got = ReadFile(path + ".partial");
  EXPECT_LE(got.size(), flash_.size());
  EXPECT_TRUE(std::equal(got.begin(), got.end(), flash_.begin())) << "the dump file holds bytes the flash does not";
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, ResendStormIsRiddenOut) {
  StartHandset();
  Connect();
  const std::string path = ThreeBlockImage();
  // Block 1 is asked for again ten times, and block 3 once more.
  for (int k = 1; k <= 10; ++k) AddFault("resend:" + std::to_string(k));
  AddFault("resend:13");
  con.Clear();
  PressDownloadImgset(path);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Download Finished"}) << con.Dump();
  const std::string log = con.Log();
  size_t resends = 0;
  for (size_t at = log.find(" Fail -> Resend data"); at != std::string::npos; at = log.find(" Fail -> Resend data", at + 1)) {
    ++resends;
  }
  EXPECT_EQ(resends, 11u);
  EXPECT_TRUE(NandHolds(kImgsetAt, image_));
  EXPECT_EQ(con.LastState(), "Ready");
}

TEST_F(LineFaults, ChecksumStormEndsAfterFourFailedSends) {
  StartHandset();
  Connect();
  const std::string path = ThreeBlockImage();
  for (int k = 1; k <= 8; ++k) AddFault("bad-echo:" + std::to_string(k));
  con.Clear();
  PressDownloadImgset(path);
  ExpectFailedDownload(ImageSetError(Result::Error));
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, HandsetLeftAtTheRaisedRate) {
  // A tool that died after raising the rate leaves the loader at 921600 bit/s
  // while the next job opens the port at 115200.
  StartHandset();
  Connect();
  LinkPtr link = OpenLink("COM7", kBaud115200);
  ASSERT_TRUE(link);
  TargetSession other;
  ASSERT_EQ(TOOL_SetTargetBaud(other, *link, kBaud921600, 1), 0);
  SetHostBaud(*link, kBaud921600);
  CloseLink(link);
  ASSERT_EQ(Sim().HandsetRate(), 921600u);

  rec.m_nBaudRate = 0;  // the operator works at 115K now
  const std::string path = ThreeBlockImage();
  con.Clear();
  PressDownloadImgset(path);
  ExpectFailedDownload(ImageSetError(Result::NoResponse));
  ExpectStartWorksAgain();
}

TEST_F(LineFaults, HandsetRestartsInMidDownload) {
  // The handset drops back to its boot ROM at 115200 bit/s while the host
  // goes on at 921600.
  StartHandset();
  Connect();
  const std::string path = ThreeBlockImage();
  con.SetHook([&](const ConsoleCall& c) {
    if (c.type == CallType::ProgressPos && c.value > 0 && c.value < 50) Sim().PowerCycle();
  });
  con.Clear();
  PressDownloadImgset(path);
  con.SetHook(nullptr);
  ASSERT_EQ(Messages().size(), 1u) << con.Dump();
  EXPECT_EQ(Messages()[0].rfind("Error flashing image set : ", 0), 0u) << Messages()[0];
  EXPECT_EQ(con.LastState(), "Ready");
  ExpectStartWorksAgain();
}

}  // namespace
}  // namespace vantrel::test
