// Faults outside the line: the port held by another program, the image file
// changed between choosing it and DOWNLOAD, and a dump onto a full disk.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "jobs/DownloadChecks.h"
#include "link/ResultCodes.h"
#include "tests/robustness/FaultMatrix.h"

namespace vantrel::test {
namespace {

constexpr uint32_t kBlock = 0x20000;
constexpr uint32_t kImgsetAt = 0x4A0000;

class FilesAndPort : public FaultMatrix {
 protected:
  // Another program takes the device and keeps it until Release().
  void HoldPort() {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const std::string device = Sim().DevicePath();
    holder_ = ::fork();
    ASSERT_GE(holder_, 0);
    if (holder_ == 0) {
      // Only calls that are safe after fork() in a threaded process.
      const int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY);
      char ok = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 ? '1' : '0';
      if (::write(ready[1], &ok, 1) != 1) ::_exit(1);
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char ok = 0;
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    ::close(ready[0]);
    ASSERT_EQ(ok, '1') << "the other program could not take " << device;
  }
  void Release() {
    if (holder_ <= 0) return;
    ::kill(holder_, SIGKILL);
    ::waitpid(holder_, nullptr, 0);
    holder_ = -1;
  }
  void TearDown() override {
    Release();
    FaultMatrix::TearDown();
  }

  std::vector<uint8_t> RecordFileBytes(uint32_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out;
    for (uint32_t w : {address, static_cast<uint32_t>(data.size())}) {
      for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(w >> (8 * i)));
    }
    out.insert(out.end(), data.begin(), data.end());
    return out;
  }

  pid_t holder_ = -1;
};

TEST_F(FilesAndPort, PortHeldByAnotherProgramAtStart) {
  StartHandset();
  HoldPort();
  Press([](OperationControl& c) { c.OnStart(); });
  EXPECT_EQ(rec.m_nConnectResult, -1);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Comm Error"});
  // The log says who holds the port, not just that it failed.
  const std::string log = con.Log();
  EXPECT_NE(log.find(" Fail\n"), std::string::npos) << log;
  // (Which process it names is the link's best guess: here the simulator in
  // this very process keeps the line open too.)
  EXPECT_NE(log.find("busy, held by process "), std::string::npos) << log;
  EXPECT_EQ(con.LastState(), "Disconnected");
  Release();
  ExpectStartWorksAgain();
}

TEST_F(FilesAndPort, PortTakenBetweenStartAndDownload) {
  StartHandset();
  Connect();
  const std::string path = WriteRecordFile("imgset.img", {{kImgsetAt, Pattern(kBlock, 3)}});
  HoldPort();
  con.Clear();
  PressDownloadImgset(path);
  const std::string log = con.Log();
  EXPECT_NE(log.find("\n    Open Comport\t\t\t\t> > > FAIL"), std::string::npos) << log;
  EXPECT_NE(log.find("busy, held by process "), std::string::npos) << log;
  EXPECT_EQ(log.find("Completed"), std::string::npos);
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_FALSE(rec.m_pLink);
  // No box said so, yet the download failed, on the port, for the link's reason.
  const OperationOutcome outcome = control->LastOutcome();
  EXPECT_EQ(outcome.failure, FailureKind::Port);
  EXPECT_NE(FailureReason(outcome).find("busy, held by process "), std::string::npos) << FailureReason(outcome);
  Release();
  // The loader still runs: the same DOWNLOAD works now, without a new START.
  con.Clear();
  PressDownloadImgset(path);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Download Finished"}) << con.Dump();
  ExpectStartWorksAgain();
}

// The operator chose the file (its name, size and checksum are shown), then
// it changed on disk before DOWNLOAD was pressed.
class ChangedImage : public FilesAndPort {
 protected:
  void SetUp() override {
    FilesAndPort::SetUp();
    StartHandset();
    Connect();
    chosen_ = Pattern(kBlock * 3, 4);
    path_ = WriteFile("imgset.img", RecordFileBytes(kImgsetAt, chosen_));
    con.Clear();
  }
  std::vector<uint8_t> chosen_;
  std::string path_;
};

TEST_F(ChangedImage, TruncatedInTheMiddleOfARecordIsRefused) {
  const std::vector<uint8_t> whole = ReadFile(path_);
  WriteFile("imgset.img", std::vector<uint8_t>(whole.begin(), whole.begin() + 8 + kBlock + kBlock / 2));
  PressDownloadImgset(path_);
  // The file is checked as DOWNLOAD is pressed: nothing of it is sent.
  EXPECT_EQ(Messages(), std::vector<std::string>{"Image file format error\r\n" + path_ +
                                                 "\r\nThe record at offset 0 (0x0) claims 393216 bytes; the file holds "
                                                 "196608 after its header."})
      << con.Dump();
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_FALSE(NandHolds(kImgsetAt, std::vector<uint8_t>(chosen_.begin(), chosen_.begin() + kBlock)));
  EXPECT_TRUE(Sim().Violations().empty()) << "nothing may reach the handset";
  ExpectStartWorksAgain();
}

TEST_F(ChangedImage, EmptiedOrRemoved) {
  WriteFile("imgset.img", {});
  PressDownloadImgset(path_);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Check the file location", "Verify a path of Imgset file"}))
      << con.Dump();
  EXPECT_EQ(con.LastState(), "Ready");
  ::unlink(path_.c_str());
  con.Clear();
  PressDownloadImgset(path_);
  EXPECT_EQ(Messages(), (std::vector<std::string>{"Check the file location", "Verify a path of Imgset file"}));
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_TRUE(Sim().Violations().empty()) << "nothing may reach the handset";
  ExpectStartWorksAgain();
}

TEST_F(ChangedImage, ReplacedByAnotherImageSetWritesWhatIsThereNow) {
  const std::vector<uint8_t> other = Pattern(kBlock + 77, 5);
  WriteFile("imgset.img", RecordFileBytes(kImgsetAt + kBlock * 4, other));
  PressDownloadImgset(path_);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Download Finished"}) << con.Dump();
  EXPECT_EQ(con.ControlText(1103), std::to_string(8 + other.size()) + " bytes");
  EXPECT_TRUE(NandHolds(kImgsetAt + kBlock * 4, other));
}

TEST_F(ChangedImage, ReplacedByAFileThatIsNoImageSet) {
  WriteFile("imgset.img", Pattern(5000, 9));
  PressDownloadImgset(path_);
  ASSERT_EQ(Messages().size(), 1u) << con.Dump();
  EXPECT_EQ(Messages()[0].rfind("Image file format error\r\n" + path_ + "\r\n", 0), 0u) << Messages()[0];
  EXPECT_EQ(con.LastState(), "Ready");
  ExpectStartWorksAgain();
}

TEST_F(ChangedImage, ReplacedByAFileAboveTheLimit) {
  const int fd = ::open(path_.c_str(), O_WRONLY | O_TRUNC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(kImgsetMaxBytes) + 1), 0);
  ::close(fd);
  PressDownloadImgset(path_);
  EXPECT_EQ(Messages(), std::vector<std::string>{"File size error"}) << con.Dump();
  EXPECT_EQ(con.LastState(), "Ready");
  EXPECT_EQ(con.Log().find("Open Comport"), std::string::npos) << "nothing may start";
}

TEST_F(ChangedImage, TruncatedWhileTheDownloadRuns) {
  const std::vector<uint8_t> whole = ReadFile(path_);
  bool cut = false;
  con.SetHook([&](const ConsoleCall& c) {
    if (!cut && c.type == CallType::ProgressPos && c.value > 0) {
      cut = true;
      const int fd = ::open(path_.c_str(), O_WRONLY);
      if (fd >= 0) {
        if (::ftruncate(fd, 8 + kBlock + 100) != 0) std::perror("ftruncate");
        ::close(fd);
      }
    }
  });
  PressDownloadImgset(path_);
  con.SetHook(nullptr);
  ASSERT_TRUE(cut);
  EXPECT_EQ(Messages(), std::vector<std::string>{"Error flashing image set : " + std::string(ResultText(Result::Internal)) +
                                                 "\n"})
      << con.Dump();
  EXPECT_EQ(con.LastState(), "Ready");
  ExpectStartWorksAgain();
}

// The dump target on a full disk.
class FullDisk : public FilesAndPort {
 protected:
  static constexpr uint32_t kFrom = 0x100000;
  static constexpr uint32_t kLength = kBlock * 3;

  void PressDump(const std::string& path) {
    flash_ = Pattern(kLength, 21);
    Sim().WriteNand(kFrom, flash_);
    con.QueueNandDumpArea(DumpArea{kFrom, kFrom + kLength - 1, 0});
    con.QueueSaveFile(path);
    con.Clear();
    Press([](OperationControl& c) { c.OnNandDump(); });
  }
  // The message names the partial file that holds the blocks written.
  std::string Expected(const std::string& why, const std::string& path, uint32_t written) const {
    return "Error writing dump file : " + why + "\n" + path + ".partial\nThe dump stopped after " +
           std::to_string(written) + " of " + std::to_string(kLength) + " bytes.\n";
  }

  // In a child process: the files it writes may grow to one and a half
  // blocks (a disk that fills up in the middle of the second block; a limit
  // works for every user, where a full file system would need privileges).
  // Returns 0 when the operator was told what happened.
  int DumpWithTheDiskFillingUp(const std::string& path) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{kBlock + kBlock / 2, kBlock + kBlock / 2};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) return 10;
    StartHandset();
    Connect();
    if (rec.m_nConnectResult != 0) return 11;
    PressDump(path);
    const std::vector<std::string> want{Expected(std::strerror(EFBIG), path, kBlock)};
    if (Messages() != want) {
      std::fprintf(stderr, "unexpected messages:\n%s\n", con.Dump().c_str());
      return 12;
    }
    if (con.LastState() != "Ready" || con.Log().find("Completed") != std::string::npos) return 13;
    // And START still works on this console.
    SwitchOff();
    con.Clear();
    Connect();
    return rec.m_nConnectResult == 0 && con.LastState() == "Ready" ? 0 : 14;
  }

  std::vector<uint8_t> flash_;
};

TEST_F(FullDisk, DumpKeepsWhatFitAndSaysWhy) {
  GTEST_FLAG_SET(death_test_style, "fast");
  const std::string path = dir + "/dump.dmp";
  EXPECT_EXIT(std::_Exit(DumpWithTheDiskFillingUp(path)), ::testing::ExitedWithCode(0), "");
  // The child wrote into this process's scratch folder: the file holds the
  // first block whole and as much of the second as fitted, all of it flash.
  const std::vector<uint8_t> got = ReadFile(path + ".partial");
  const std::vector<uint8_t> flash = Pattern(kLength, 21);
  EXPECT_GE(got.size(), kBlock);
  EXPECT_LE(got.size(), kBlock + kBlock / 2);
  EXPECT_TRUE(std::equal(got.begin(), got.end(), flash.begin())) << "the dump file differs from the flash";
}

TEST_F(FullDisk, DumpOntoADeviceIsRefused) {
  StartHandset();
  Connect();
  // The dump never writes to a device: it would replace the name or take the bytes.
  PressDump("/dev/full");
  EXPECT_EQ(Messages(), std::vector<std::string>{"Internal Error! (file creation)"}) << con.Dump();
  EXPECT_EQ(con.LastState(), "Ready");
  ExpectStartWorksAgain();
}

}  // namespace
}  // namespace vantrel::test
