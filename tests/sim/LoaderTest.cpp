// The flash loaders' commands, image sessions, NOR download and read-back,
// driven with the byte sequences the host sends.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "protocol/Constants.h"
#include "tests/support/SimFixture.h"
#include "tests/sim/SimHost.h"
#include "tests/support/ResultNumbers.h"

namespace vantrel::sim {
namespace {

using namespace vantrel::sim::test;
namespace P = proto;

class LoaderTest : public SimTest {
 protected:
  Simulator& StartWith(uint32_t blockSize = 0x400, bool usb = false) {
    Options o = TestOptions();
    o.blockSize = blockSize;
    o.usb = usb;
    return StartSim(o);
  }
  void Load(Host& h, bool nand = true) {
    h.Open();
    if (!Sim().WaitForTranscript("power on", 2000)) FAIL() << "no power-on";
    h.Send(PayloadBytes(nand ? NandFlashLoaderImage() : NorFlashLoaderImage()));
    h.Send(Block(nand ? P::kCmdQueryFlashNand : P::kCmdQueryFlashNor, 0, 0));
    int b = h.RecvByte();
    while (b == 0xA5) b = h.RecvByte();  // the BOOT byte, unanswered
    ASSERT_EQ(b, nand ? 0xB1 : 0x10);
  }
  // One UART-form image session; returns the number of blocks.
  int UartSession(Host& h, uint32_t address, const Bytes& data, bool checked = true) {
    h.Send(Block(P::kCmdImageStart, address, static_cast<uint32_t>(data.size())));
    EXPECT_EQ(h.RecvByte(), 0x26);
    h.Send(0x2D);
    return SendAskedBlocks(h, data, checked ? BlockSum::Echoed : BlockSum::None);
  }
};

TEST_F(LoaderTest, SetTargetBaudExampleSwitchesTheLoader) {
  StartWith();
  Host h(Com());
  Load(h);
  // The example from the command table: 0x8B, direction 1.
  h.Send(Bytes{0xFF, 0xFF, 0x00, 0x16, 0x00, 0x00, 0x00, 0x8B, 0x00, 0x00, 0x00, 0x01, 0xFF, 0x00, 0xFF, 0x00});
  h.Rate(kBaud921600);
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(), 0xB1);
  EXPECT_EQ(Sim().HandsetRate(), 921600u);
  // The loader keeps the raised rate after the host closes the port.
  h.Close();
  h.Open();
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(1), -1);
  const auto v = TakeViolations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_NE(v[0].find("rate mismatch"), std::string::npos) << v[0];
  EXPECT_TRUE(Sim().WaitForTranscript("arrives corrupted", 1000));
}

TEST_F(LoaderTest, FallbackOnQuietReturnsTheLoaderToTheBaseRate) {
  Options o = TestOptions();
  o.fallbackOnQuiet = true;
  o.fallbackQuietMs = 20;
  o.timeScale = 1.0;
  o.programStartMs = 0;
  o.loaderBaudSwitchMs = 0;
  StartSim(o);
  Host h(Com());
  Load(h);
  h.Send(Block(P::kCmdSetTargetBaud, 0x8A, 1));
  h.Rate(kBaud460800);
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  ASSERT_EQ(h.RecvByte(), 0xB1);
  h.Close();
  ASSERT_TRUE(Sim().WaitForTranscript("falls back to 115200", 3000));
  h.Open();
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(), 0xB1);
}

TEST_F(LoaderTest, UartImageSessionWritesAtTheAnnouncedAddress) {
  StartWith(0x400);
  Host h(Com());
  Load(h);
  const Bytes data = Pattern(0x1234, 7);
  EXPECT_EQ(UartSession(h, 0x20000, data), 5);
  EXPECT_EQ(Sim().ReadNand(0x20000, static_cast<uint32_t>(data.size())), data);
  EXPECT_EQ(Sim().ReadNand(0x20000 + static_cast<uint32_t>(data.size()), 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
  // A second session on the same link.
  const Bytes more = Pattern(100, 8);
  EXPECT_EQ(UartSession(h, 0x7000000, more), 1);
  EXPECT_EQ(Sim().ReadNand(0x7000000, 100), more);
}

TEST_F(LoaderTest, UartImageSessionOnUsbLinkHasNoChecksumByte) {
  StartWith(0x400, true);
  Host h(Com());
  Load(h);
  const Bytes data = Pattern(0x900, 3);
  EXPECT_EQ(UartSession(h, 0x40000, data, false), 3);
  EXPECT_EQ(Sim().ReadNand(0x40000, 0x900), data);
}

TEST_F(LoaderTest, ResendBadEchoAndWrongChecksum) {
  StartWith(0x400);
  Sim().AddFault(F("resend:1"));
  Sim().AddFault(F("bad-echo:3"));
  Host h(Com());
  Load(h);
  const Bytes data = Pattern(0x800, 9);
  h.Send(Block(P::kCmdImageStart, 0x100000, 0x800));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  const Bytes first(data.begin(), data.begin() + 0x400);
  const Bytes second(data.begin() + 0x400, data.end());
  ASSERT_EQ(h.RecvByte(), 0x2E);
  ASSERT_EQ(BeWord(h.Recv(4)), 0x400u);
  h.Send(first);
  h.Send(Sum(first));
  EXPECT_EQ(h.RecvByte(), Sum(first));
  EXPECT_EQ(h.RecvByte(), 0x2A);  // block 1: FP_Resend (fault)
  h.Send(first);
  h.Send(static_cast<uint8_t>(Sum(first) + 1));  // the host's checksum is wrong
  EXPECT_EQ(h.RecvByte(), Sum(first));           // the handset echoes its own sum
  EXPECT_EQ(h.RecvByte(), 0x2A);
  h.Send(first);
  h.Send(Sum(first));
  EXPECT_EQ(h.RecvByte(), static_cast<uint8_t>(~Sum(first)));  // block 3: a wrong echo (fault)
  EXPECT_EQ(h.RecvByte(), 0x2A);
  h.Send(first);
  h.Send(Sum(first));
  EXPECT_EQ(h.RecvByte(), Sum(first));
  EXPECT_EQ(h.RecvByte(), 0x27);
  h.Send(0x2D);
  ASSERT_EQ(h.RecvByte(), 0x2E);
  ASSERT_EQ(BeWord(h.Recv(4)), 0x400u);
  h.Send(second);
  h.Send(Sum(second));
  EXPECT_EQ(h.RecvByte(), Sum(second));
  EXPECT_EQ(h.RecvByte(), 0x27);
  h.Send(0x2D);
  EXPECT_EQ(h.RecvByte(), 0x29);
  EXPECT_EQ(Sim().ReadNand(0x100000, 0x800), data);
  const auto v = TakeViolations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_NE(v[0].find("wrong checksum byte"), std::string::npos) << v[0];
}

TEST_F(LoaderTest, FailedAndRefusedSessions) {
  StartWith(0x400);
  Host h(Com());
  Load(h);
  h.Send(Block(P::kCmdImageStart, 0x8000000, 16));
  EXPECT_EQ(h.RecvByte(), 0x2B);  // beyond the NAND
  h.Send(Block(P::kCmdImageStart, 0x7FFFFF0, 32));
  EXPECT_EQ(h.RecvByte(), 0x2C);  // does not fit
  Sim().AddFault(F("refuse:1"));
  h.Send(Block(P::kCmdImageStart, 0, 16));
  EXPECT_EQ(h.RecvByte(), 0x2B);
  Sim().AddFault(F("failed:1"));
  h.Send(Block(P::kCmdImageStart, 0, 16));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  ASSERT_EQ(h.RecvByte(), 0x2E);
  ASSERT_EQ(BeWord(h.Recv(4)), 16u);
  const Bytes block = Pattern(16);
  h.Send(block);
  h.Send(Sum(block));
  EXPECT_EQ(h.RecvByte(), Sum(block));
  EXPECT_EQ(h.RecvByte(), 0x28);
  // The loader waits for the next command.
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(), 0xB1);
}

TEST_F(LoaderTest, VlfFlashStreamCarriesSpareBytesPerBlock) {
  StartWith(0x1000);
  Host h(Com());
  Load(h);
  // Two blocks of 0x1000 data bytes, each followed by 4096 spare bytes.
  const Bytes file = Pattern(2 * (0x1000 + 4096), 4);
  h.Send(Block(P::kCmdImageStart, P::kTypeVlfFlash, static_cast<uint32_t>(file.size())));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  Bytes kept;
  size_t at = 0;
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(h.RecvByte(), 0x2E);
    const uint32_t n = BeWord(h.Recv(4));
    ASSERT_EQ(n, 0x1000u);
    const Bytes part(file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(at + n + 4096));
    kept.insert(kept.end(), part.begin(), part.begin() + n);
    h.Send(part);
    h.Send(Sum(part));
    EXPECT_EQ(h.RecvByte(), Sum(part));
    EXPECT_EQ(h.RecvByte(), 0x27);
    h.Send(0x2D);
    at += n + 4096;
  }
  EXPECT_EQ(h.RecvByte(), 0x29);
  EXPECT_EQ(Sim().ReadNand(kNandVlfArea, 0x2000), kept);
}

TEST_F(LoaderTest, UsbImageSessionWithFrames) {
  StartWith(0x400, true);
  Host h(Com());
  Load(h);
  const Bytes data = Pattern(0x500, 5);
  h.Send(Frame(P::kFrameImageStart, Le(0x60000), Le(0x500)));
  uint8_t previous = 0;
  size_t at = 0;
  for (int i = 0; i < 2; ++i) {
    const Bytes f = h.Recv(16);
    ASSERT_EQ(f.size(), 16u);
    ASSERT_EQ(f[0], 0x26);
    const uint32_t n = f[4] | (f[5] << 8) | (f[6] << 16) | (uint32_t{f[7]} << 24);
    if (i > 0) {
      EXPECT_EQ(f[8], previous);
    }
    h.Send(Bytes{0x30, 0x00, 0x11, 0x22, 0, 0, 0, 0});
    const Bytes block(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    h.Send(block);
    previous = Sum(block);
    at += n;
  }
  const Bytes fin = h.Recv(16);
  ASSERT_EQ(fin.size(), 16u);
  EXPECT_EQ(fin[0], 0x29);
  EXPECT_EQ(fin[4], previous);
  EXPECT_EQ(Sim().ReadNand(0x60000, 0x500), data);
}

TEST_F(LoaderTest, NorDownloadFollowsSectorsAndEndsWithTrailer) {
  StartWith(0x20000);
  Host h(Com());
  Load(h, false);
  // From 0x1FD8000 the range crosses into the small top-boot sectors.
  const uint32_t address = 0x1FD8000;
  const Bytes data = Pattern(0x10000, 11);
  h.Send(Block(P::kCmdNorImageStart, address, 0x10000));
  std::vector<uint32_t> lengths;
  size_t at = 0;
  bool resent = false;
  for (;;) {
    const uint32_t n = BeWord(h.Recv(4));
    if (n == 0) {
      EXPECT_EQ(BeWord(h.Recv(4)), 0u);  // trailer: the range was written
      break;
    }
    lengths.push_back(n);
    const Bytes block(data.begin() + static_cast<long>(at), data.begin() + static_cast<long>(at + n));
    h.Send(block);
    if (!resent) {
      h.Send(static_cast<uint8_t>(Sum(block) ^ 0x10));  // wrong once: the same block is asked again
      EXPECT_EQ(h.RecvByte(), 0x2A);
      resent = true;
      continue;
    }
    h.Send(Sum(block));
    EXPECT_EQ(h.RecvByte(), 0x27);
    at += n;
  }
  EXPECT_EQ(lengths, (std::vector<uint32_t>{0x8000, 0x8000, 0x8000}));
  EXPECT_EQ(Sim().ReadNor(address, 0x10000), data);
  EXPECT_EQ(TakeViolations().size(), 1u);  // the wrong checksum byte
}

TEST_F(LoaderTest, NorDownloadRefusesARangeOutsideTheFlash) {
  StartWith();
  Host h(Com());
  Load(h, false);
  h.Send(Block(P::kCmdNorImageStart, 0x1FFFF00, 0x200));
  EXPECT_EQ(h.Recv(8), Cat({Be(0), Be(0x2C)}));
}

TEST_F(LoaderTest, ReadBackSendsBlocksAndWaitsForEachAcknowledgement) {
  StartWith(0x8000);
  const Bytes data = Pattern(0x9000, 13);
  Sim().WriteNand(0x5000000, data);
  Host h(Com());
  Load(h);
  h.Send(Block(P::kCmdNandDump, 0x5000000, 0x9000));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  Bytes got;
  for (;;) {
    const int op = h.RecvByte();
    if (op == 0x29) break;
    ASSERT_EQ(op, 0x2E);
    const uint32_t n = BeWord(h.Recv(4));
    const Bytes block = h.Recv(n);
    ASSERT_EQ(block.size(), n);
    EXPECT_EQ(h.RecvByte(), Sum(block));
    got.insert(got.end(), block.begin(), block.end());
    ASSERT_EQ(h.RecvByte(), 0x27);
    EXPECT_EQ(h.RecvByte(1), -1);  // nothing more until the acknowledgement
    h.Send(0x2D);
  }
  EXPECT_EQ(got, data);
}

TEST_F(LoaderTest, NorReadBackEndsBlocksAtSectorBoundaries) {
  StartWith(0x20000);
  Host h(Com());
  Load(h, false);
  h.Send(Block(P::kCmdNorDump, 0x1FDF000, 0x3000));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  std::vector<uint32_t> lengths;
  for (;;) {
    const int op = h.RecvByte();
    if (op == 0x29) break;
    ASSERT_EQ(op, 0x2E);
    const uint32_t n = BeWord(h.Recv(4));
    lengths.push_back(n);
    const Bytes block = h.Recv(n + 1);
    ASSERT_EQ(block.size(), n + 1);
    EXPECT_EQ(block.back(), 0xFF * n % 256);  // erased flash
    ASSERT_EQ(h.RecvByte(), 0x27);
    h.Send(0x2D);
  }
  EXPECT_EQ(lengths, (std::vector<uint32_t>{0x1000, 0x2000}));
}

TEST_F(LoaderTest, ReadBackWithoutAcknowledgementIsAViolation) {
  StartWith(0x400);
  Host h(Com());
  Load(h);
  h.Send(Block(P::kCmdNandDump, 0, 0x800));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  ASSERT_EQ(h.Recv(1 + 4 + 0x400 + 1 + 1).size(), 0x407u);
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));  // instead of 0x2D
  EXPECT_EQ(h.RecvByte(), 0xB1);               // taken as the next command
  const auto v = TakeViolations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_NE(v[0].find("missing acknowledgement"), std::string::npos) << v[0];
}

TEST_F(LoaderTest, EraseCommandsAnswerWithCompletionBytes) {
  StartWith();
  Sim().WriteNand(0, Bytes(16, 0x11));
  Sim().WriteNand(0x300000, Bytes(16, 0x22));
  Sim().WriteNand(0x5000000, Bytes(16, 0x33));
  Host h(Com());
  Load(h);
  h.Send(Block(P::kCmdPartialErase, 0x300008, 4));  // erases the whole block it touches
  EXPECT_EQ(h.Recv(2), (Bytes{0x46, 0xB9}));
  EXPECT_EQ(Sim().ReadNand(0x300000, 16), Bytes(16, 0xFF));
  EXPECT_EQ(Sim().ReadNand(0, 1), Bytes{0x11});
  h.Send(Block(P::kCmdEraseAll, 1, 0));  // bootloader area, no answer
  EXPECT_EQ(h.RecvByte(1), -1);
  EXPECT_EQ(Sim().ReadNand(0, 1), Bytes{0xFF});
  h.Send(Frame(P::kFrameVlfAreaFormat, Be(P::kCmdFormatVlfArea), Be(0)));
  EXPECT_EQ(h.RecvByte(1), -1);
  EXPECT_EQ(Sim().ReadNand(0x5000000, 1), Bytes{0xFF});
  Sim().WriteNand(0x7000000, Bytes(16, 0x44));
  h.Send(Frame(P::kFrameLoaderCommand, Be(P::kCmdEraseAll), Be(0)));
  EXPECT_EQ(h.Recv(2), (Bytes{0x46, 0xB9}));
  EXPECT_EQ(Sim().ReadNand(0x7000000, 1), Bytes{0xFF});
}

TEST_F(LoaderTest, NorVlfFormatReportsSectorsExceptForTheTwoKnownAreas) {
  StartWith();
  Sim().WriteNor(0x1E90000, Bytes(4, 0));
  Host h(Com());
  Load(h, false);
  h.Send(Block(P::kCmdFormatVlf, 0x1E90000, 0x20000));
  EXPECT_EQ(h.RecvByte(1), -1);
  EXPECT_EQ(Sim().ReadNor(0x1E90000, 4), Bytes(4, 0xFF));
  h.Send(Block(P::kCmdFormatVlf, 0x1000000, 0x20000));
  EXPECT_EQ(h.Recv(5), Cat({Be(0x20000), {0x27}}));
  EXPECT_EQ(h.RecvByte(1), -1);
}

TEST_F(LoaderTest, DownloadDateAndCommandsOfTheOtherLoader) {
  StartWith();
  Host h(Com());
  Load(h);
  h.Send(Frame(P::kFrameLoaderCommand, Be(P::kCmdDownloadDate), Be(0)));
  h.Send(Bytes{'2', '0', '2', '4', '0', '3', '0', '9'});
  ASSERT_TRUE(Sim().WaitForTranscript("download date \"20240309\"", 2000));
  EXPECT_EQ(Sim().LastDownloadDate(), "20240309");
  h.Send(Block(P::kCmdQueryFlashNor, 0, 0));  // the NOR query to the NAND loader
  EXPECT_EQ(h.RecvByte(1), -1);
  h.Send(Block(P::kCmdDownloadDate, 0, 0));
  h.Send(Bytes{'2', '0', '2', '4', '-', '3', '0', '9'});
  ASSERT_TRUE(Sim().WaitForTranscript("not eight digits", 2000));
  EXPECT_EQ(TakeViolations().size(), 2u);
}

TEST_F(LoaderTest, GarbageAndBrokenBlocksAreViolationsAndTheLoaderCarriesOn) {
  StartWith();
  Host h(Com());
  Load(h);
  h.Send(Bytes{0x2D, 0x00, 0x13});
  h.Send(Cat({Be(P::kCmdQueryFlashNand), Be(0), Be(0), Be(0xFF00FF01)}));  // no end mark
  h.Send(Block(0xFFFF0042, 0, 0));                                           // unknown command
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(), 0xB1);
  const auto v = TakeViolations();
  ASSERT_EQ(v.size(), 3u);
  EXPECT_NE(v[0].find("3 byte(s) where the handset expects none"), std::string::npos) << v[0];
  EXPECT_NE(v[1].find("without its end mark"), std::string::npos) << v[1];
  EXPECT_NE(v[2].find("unknown command word 0xFFFF0042"), std::string::npos) << v[2];
}

TEST_F(LoaderTest, ReconnectAndOtherLoaderUpload) {
  StartWith();
  Host h(Com());
  Load(h);
  // A running loader takes the other loader in place of a command.
  h.Send(PayloadBytes(NorFlashLoaderImage()));
  h.Send(Block(P::kCmdQueryFlashNor, 0, 0));
  EXPECT_EQ(h.RecvByte(), 0x10);
  // Reconnect: the preloader takes the next upload.
  h.Send(Block(P::kCmdReconnect, 0, 0));
  h.Send(PayloadBytes(SdramInitImage()));
  h.Send(PayloadBytes(PrebootImage()));
  h.Send(PayloadBytes(NandFlashLoaderImage()));
  h.Send(Block(P::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(), 0xB1);
  // End of session: the handset leaves the tool.
  h.Send(Block(P::kCmdEndSession, 0, 0));
  ASSERT_TRUE(Sim().WaitForTranscript("power off (end of session)", 2000));
  EXPECT_EQ(Sim().StateName(), "off");
  // The host purges on its way out and holds the port through its close
  // pause: no new start, however long it holds on.
  h.Link().port->Purge();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Sim().StateName(), "off");
  // A close and a fast reopen is a new start: the operator switches on.
  h.Close();
  h.Open();
  EXPECT_EQ(h.RecvByte(), 0xA5) << "BOOT signal after the reopen";
  EXPECT_EQ(Sim().StateName(), "boot-rom");
}

TEST_F(LoaderTest, FlippedBitIsStoredWhileTheEchoIsRight) {
  StartWith();
  Sim().AddFault(F("flip:nand:0x20010:3"));
  Host h(Com());
  Load(h);
  const Bytes data(0x100, 0x00);
  UartSession(h, 0x20000, data);
  Bytes expect = data;
  expect[0x10] = 0x08;
  EXPECT_EQ(Sim().ReadNand(0x20000, 0x100), expect);
}

TEST_F(LoaderTest, HangUpInTheMiddleOfABlockLeavesANewPort) {
  StartWith(0x400);
  const std::string before = Sim().DevicePath();
  Sim().AddFault(F("hangup:1"));
  Host h(Com());
  Load(h);
  h.Send(Block(P::kCmdImageStart, 0, 0x400));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
  ASSERT_EQ(h.RecvByte(), 0x2E);
  h.Recv(4);
  h.Send(Pattern(0x400));
  ASSERT_TRUE(Sim().WaitForTranscript("line back on a new port", 3000));
  uint8_t b;
  EXPECT_NE(ReceiveExactly(h.Link(), &b, 1, 1), 0);
  h.Close();
  EXPECT_NE(Sim().DevicePath(), before);
  // The new port is reached under the same name; the handset starts over.
  h.Open();
  EXPECT_EQ(h.RecvByte(), 0xA5);
}

}  // namespace
}  // namespace vantrel::sim
