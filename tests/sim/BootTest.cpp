// The boot ROM, the raw uploads and the flash driver, driven with the byte
// sequences of the connect, the NAND flash loader download and a boot stage.
#include <gtest/gtest.h>

#include "protocol/Constants.h"
#include "tests/support/SimFixture.h"
#include "tests/sim/SimHost.h"

namespace vantrel::sim {
namespace {

using namespace vantrel::sim::test;

// Opens the port and hears the boot ROM's BOOT byte.
void HearBootByte(Host& h) {
  h.Open();
  ASSERT_EQ(h.RecvByte(), 0xA5);
}

// The flash driver's rate handshake: its speed request (after any BOOT bytes
// still waiting), the host's rate code, the driver's change-done answer.
void AgreeRate(Host& h, uint8_t code) {
  int b = h.RecvByte();
  while (b == 0xA5) b = h.RecvByte();
  ASSERT_EQ(b, 0x91);  // FP_Speed_Req
  h.Send(code);
  ASSERT_EQ(h.RecvByte(), 0x92);  // FP_Speed_ChgDone
}

// The flash driver's boot image session up to its first block request: the
// start byte, then the image's address and length.
void StartBootImageSession(Host& h, uint32_t address, const Bytes& image) {
  h.Send(0x5A);
  ASSERT_EQ(h.RecvByte(), 0xA5);
  h.Send(Cat({Be(address), Be(static_cast<uint32_t>(image.size()))}));
  ASSERT_EQ(h.RecvByte(), 0x26);
  h.Send(0x2D);
}

// The memory set-up program and the preloader, each on a port of its own as
// the host sends them; the port is open again for the next upload.
void SendSetUpUploads(Host& h) {
  h.Send(PayloadBytes(SdramInitImage()));
  h.Close();
  h.Open();
  h.Send(PayloadBytes(PrebootImage()));
  h.Close();
  h.Open();
}

class BootTest : public SimTest {
 protected:
  // The connect's handshake and the NAND flash loader download on one port
  // that is closed and reopened between the uploads, as the host does.
  void ConnectAndLoadNand(Host& h) {
    HearBootByte(h);
    h.Send(0xB9);
    ASSERT_EQ(h.RecvByte(), 0xB9);
    SendSetUpUploads(h);
    h.Send(PayloadBytes(NandFlashLoaderImage()));
    h.Send(Block(proto::kCmdQueryFlashNand, 0, 0));
    ASSERT_EQ(h.RecvByte(), 0xB1);
  }
};

TEST_F(BootTest, ConnectHandshakeThenNandLoaderAnswersFlashType) {
  StartSim();
  EXPECT_EQ(Sim().StateName(), "off");
  Host h(Com());
  ConnectAndLoadNand(h);
  EXPECT_EQ(Sim().StateName(), "nand-loader");
  const std::vector<std::string> uploads = Sim().Uploads();
  ASSERT_EQ(uploads.size(), 3u);
  EXPECT_EQ(uploads[2], NandFlashLoaderImage().name);
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

TEST_F(BootTest, AlternativeBootByteIsAnsweredWithItsOwnStartSignal) {
  Options o = TestOptions();
  o.bootByte = 0x77;
  StartSim(o);
  Host h(Com());
  h.Open();
  EXPECT_EQ(h.RecvByte(), 0x77);
  h.Send(0x77);
  EXPECT_EQ(h.RecvByte(), 0x77);
}

TEST_F(BootTest, UsbLinkSendsNoBootByteAndAnswersTheFirstStartSignal) {
  Options o = TestOptions();
  o.usb = true;
  StartSim(o);
  Host h(Com());
  h.Open();
  EXPECT_EQ(h.RecvByte(1), -1);  // no BOOT byte
  h.Send(0xB9);
  EXPECT_EQ(h.RecvByte(), 0xB9);
  EXPECT_EQ(h.RecvByte(1), -1);
}

TEST_F(BootTest, ReopeningAnUntouchedBootRomRepeatsTheBootByte) {
  StartSim();
  Host h(Com());
  HearBootByte(h);
  h.Close();
  HearBootByte(h);
}

TEST_F(BootTest, WrongStartSignalIsAViolationAndGetsNoAnswer) {
  StartSim();
  Host h(Com());
  HearBootByte(h);
  h.Send(0x42);
  EXPECT_EQ(h.RecvByte(1), -1);
  ASSERT_TRUE(Sim().WaitForTranscript("VIOLATION", 2000));
  const auto v = TakeViolations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_NE(v[0].find("42"), std::string::npos) << v[0];
}

TEST_F(BootTest, CorruptUploadDoesNotStartTheProgram) {
  StartSim();
  Host h(Com());
  HearBootByte(h);
  Bytes loader = PayloadBytes(NandFlashLoaderImage());
  loader[1000] ^= 0x01;
  h.Send(loader);
  h.Send(Block(proto::kCmdQueryFlashNand, 0, 0));
  EXPECT_EQ(h.RecvByte(1), -1);
  ASSERT_TRUE(Sim().WaitForTranscript("VIOLATION", 2000));
  const auto v = TakeViolations();
  ASSERT_FALSE(v.empty());
  EXPECT_NE(v[0].find("offset 1000"), std::string::npos) << v[0];
  EXPECT_NE(Sim().StateName(), "nand-loader");
}

TEST_F(BootTest, FlashDriverRateHandshakeAndBootImageSession) {
  Options o = TestOptions();
  o.blockSize = 0x400;
  StartSim(o);
  Host h(Com());
  HearBootByte(h);  // heard, not answered: the boot stages start without a handshake
  h.Send(PayloadBytes(SdramInitImage()));
  h.Send(PayloadBytes(PrebootImage()));
  h.Send(PayloadBytes(FlashDriverAllImage()));
  AgreeRate(h, 0x8B);  // the change-done answer still at 115200
  ASSERT_TRUE(Sim().WaitForTranscript("now talks at 921600", 2000));
  EXPECT_EQ(Sim().HandsetRate(), 921600u);
  h.Close();

  h.Open(kBaud921600);
  const Bytes image = PayloadBytes(Boot1aImage());  // 4548 bytes: 4 full blocks and 452
  StartBootImageSession(h, 0x1000, image);
  EXPECT_EQ(SendAskedBlocks(h, image, BlockSum::NotEchoed), 5);
  EXPECT_EQ(Sim().ReadNand(0x1000, static_cast<uint32_t>(image.size())), image);
  ASSERT_TRUE(Sim().WaitForTranscript("back in its boot ROM", 2000));
  EXPECT_EQ(Sim().HandsetRate(), 115200u);
}

// One boot stage as the bootloader job runs it: every upload on its own port,
// sent as soon as the port is open, no handshake.
void BootStage(Host& h, uint32_t address, const Bytes& image) {
  h.Open();
  SendSetUpUploads(h);
  h.Send(PayloadBytes(FlashDriverAllImage()));
  AgreeRate(h, 0x88);
  h.Close();
  h.Open();
  StartBootImageSession(h, address, image);
  ASSERT_EQ(SendAskedBlocks(h, image, BlockSum::NotEchoed), 1);  // the whole image in one block
  h.Close();
}

TEST_F(BootTest, BootStagesBackToBackFromASwitchedOffHandset) {
  StartSim();
  Host h(Com());
  BootStage(h, 0, PayloadBytes(SecBootImage()));
  BootStage(h, 0x1000, PayloadBytes(Boot1aImage()));
  EXPECT_EQ(Sim().ReadNand(0, SecBootImage().size), PayloadBytes(SecBootImage()));
  EXPECT_EQ(Sim().ReadNand(0x1000, Boot1aImage().size), PayloadBytes(Boot1aImage()));
  const std::vector<std::string> uploads = Sim().Uploads();
  ASSERT_EQ(uploads.size(), 6u);
  EXPECT_EQ(uploads[0], SdramInitImage().name);
  EXPECT_EQ(uploads[3], SdramInitImage().name);
}

TEST_F(BootTest, BootImageResendIsEchoed) {
  Options o = TestOptions();
  o.faults.push_back(F("resend:1"));
  StartSim(o);
  Host h(Com());
  HearBootByte(h);
  h.Send(PayloadBytes(FlashDriverAllImage()));
  AgreeRate(h, 0x88);
  const Bytes image = PayloadBytes(SecBootImage());
  StartBootImageSession(h, 0, image);
  ASSERT_EQ(h.RecvByte(), 0x2E);
  ASSERT_EQ(h.Recv(4), Be(static_cast<uint32_t>(image.size())));
  h.Send(image);
  h.Send(Sum(image));
  ASSERT_EQ(h.RecvByte(), 0x2A);  // FP_Resend (fault)
  h.Send(image);
  h.Send(Sum(image));
  EXPECT_EQ(h.RecvByte(), Sum(image));  // the resend is echoed
  ASSERT_EQ(h.RecvByte(), 0x27);
  h.Send(0x2D);
  EXPECT_EQ(h.RecvByte(), 0x29);
  EXPECT_EQ(Sim().ReadNand(0, static_cast<uint32_t>(image.size())), image);
}

TEST_F(BootTest, StrayBytesAndSilenceFaults) {
  Options o = TestOptions();
  Fault stray;
  ASSERT_TRUE(Fault::Parse("stray:speed-req:00,00", &stray, nullptr));
  o.faults.push_back(stray);
  StartSim(o);
  Host h(Com());
  HearBootByte(h);
  h.Send(PayloadBytes(FlashDriverAllImage()));
  EXPECT_EQ(h.Recv(3), (Bytes{0x00, 0x00, 0x91}));
  Fault mute;
  ASSERT_TRUE(Fault::Parse("silence:speed-chg-done", &mute, nullptr));
  Sim().AddFault(mute);
  h.Send(0x8A);
  EXPECT_EQ(h.RecvByte(1), -1);
}

TEST_F(BootTest, AnswerToANonBaudCodeIsAnotherSpeedRequest) {
  StartSim();
  Host h(Com());
  HearBootByte(h);
  h.Send(PayloadBytes(FlashDriverAllImage()));
  ASSERT_EQ(h.RecvByte(), 0x91);
  h.Send(0x89);
  EXPECT_EQ(h.RecvByte(), 0x91);
  EXPECT_EQ(TakeViolations().size(), 1u);
}

}  // namespace
}  // namespace vantrel::sim
