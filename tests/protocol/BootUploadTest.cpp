// Raw uploads to the boot ROM, the flash driver's rate handshake and the
// UART loader uploads, against a scripted handset.
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "payloads/Payloads.h"
#include "protocol/BootUpload.h"
#include "protocol/Constants.h"
#include "tests/protocol/ProtocolFixture.h"
#include "tests/support/PayloadBytes.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

class BootUploadTest : public ProtocolTest {
 protected:
  // The raw uploads get no answer: the pause before the port is closed is
  // all that keeps the close's purge from discarding bytes the handset has
  // not read yet, so those tests let pauses take a little real time.
  static void LetUploadsDrain() { timing::SetPauseScale(0.1); }
};

TEST_F(BootUploadTest, DriverFormsSendTheirPayloadAtTheBaseRateAndClose) {
  LetUploadsDrain();
  ScriptedHandset handset;
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Expect(kPrebootImageSize); });
  link_.baudCode = kBaud921600;
  EXPECT_EQ(TOOL_DownloadDriver(session_, link_, DriverForm::Preboot), 0);
  handset.Join();
  EXPECT_EQ(seen, PayloadBytes(PrebootImage()));
  EXPECT_EQ(link_.baudCode, kBaud115200);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_THAT(PauseLog(), ElementsAre("OpenPort:100", "TOOL_DownloadDriver:250", "ClosePort:1000"));
  EXPECT_THAT(traces_.Lines(),
              ElementsAre("Updater: Entering TOOL_DownloadDriver", "Updater: Downloading driver image"));

  handset.Play([&](ScriptedHandset& h) { seen = h.Expect(kSdramInitImageSize); });
  EXPECT_EQ(TOOL_DownloadDriver(session_, link_, DriverForm::SdramInit), 0);
  handset.Join();
  EXPECT_EQ(seen, PayloadBytes(SdramInitImage()));

  // The connect step leaves the port open: this form sends on it as it is.
  OpenAt(kBaud115200);
  handset.Play([&](ScriptedHandset& h) { seen = h.Expect(kSdramInitImageSize); });
  EXPECT_EQ(TOOL_DownloadDriver(session_, link_, DriverForm::SdramInitOnOpen), 0);
  handset.Join();
  EXPECT_EQ(seen, PayloadBytes(SdramInitImage()));
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_DownloadDriver:250", "ClosePort:1000"));
}

TEST_F(BootUploadTest, DriverRefusesACodeWithoutRateAndStillCloses) {
  ScriptedHandset handset;
  Bytes seen;
  handset.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
  link_.baudCode = 0x87;
  EXPECT_EQ(TOOL_DownloadDriver(session_, link_, DriverForm::Preboot), Result::InvalidValue);
  EXPECT_EQ(TOOL_DownloadFlashDriver(session_, link_), Result::InvalidValue);
  link_.baudCode = 0x89;  // within the driver's range, but no operator's rate
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, proto::kSelectNandLoader), Result::InvalidValue);
  handset.Join();
  EXPECT_TRUE(seen.empty());
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_TRUE(traces_.Contains("Flash driver download error: Closing ComPort\n"));
  EXPECT_TRUE(traces_.Contains("Updater: Closing ComPort"));
  EXPECT_THAT(PauseLog(), ElementsAre("ClosePort:1000", "ClosePort:1000", "TOOL_DownloadFlashDriver:250",
                                      "ClosePort:1000"));
}

TEST_F(BootUploadTest, PortThatCannotBeOpenedIs210) {
  SetComOverride("COM9", scratch_.Root() + "/no-such-tty");
  link_.baudCode = kBaud115200;
  EXPECT_EQ(TOOL_DownloadDriver(session_, link_, DriverForm::SdramInit), Result::ComPort);
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, proto::kSelectNorLoader), Result::ComPort);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_EQ(PausesTagged("OpenPort").size(), 2u * kOpenAttempts);
  SetComOverride("COM9", "");
}

TEST_F(BootUploadTest, FlashDriverSkipsStrayBytesAndAnswersWithTheRequestedCode) {
  ScriptedHandset handset;
  Bytes upload, answer;
  handset.Play([&](ScriptedHandset& h) {
    upload = h.Expect(kFlashDriverAllImageSize);
    h.Send({0x00, 0x00, 0x91});
    answer = h.Expect(1);
    h.SendByte(0x92);
  });
  link_.baudCode = kBaud921600;
  EXPECT_EQ(TOOL_DownloadFlashDriver(session_, link_), 0);
  handset.Join();
  EXPECT_EQ(upload, PayloadBytes(FlashDriverAllImage()));
  EXPECT_THAT(answer, ElementsAre(0x8B));
  EXPECT_EQ(link_.baudCode, kBaud921600);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_THAT(traces_.Lines(),
              ElementsAre("Updater: Entering TOOL_DownloadFlashDriver", "Updater: Waiting for FP_Speed_Req",
                          "Updater: Sync Error on FP_Speed_Req", "Updater: Waiting for FP_Speed_Req",
                          "Updater: Sync Error on FP_Speed_Req", "Updater: Waiting for FP_Speed_Req",
                          "Updater: Received FP_Speed_Req", "Updater: Waiting for FP_Speed_ChgDone",
                          "Updater: Received FP_Speed_ChgDone"));
  EXPECT_THAT(PauseLog(), ElementsAre("OpenPort:100", "TOOL_DownloadFlashDriver:2000", "ClosePort:1000",
                                      "TOOL_DownloadFlashDriver:250"));
}

TEST_F(BootUploadTest, FlashDriverAccepts812000AndAnyConfirmationByte) {
  ScriptedHandset handset;
  Bytes answer;
  handset.Play([&](ScriptedHandset& h) {
    h.Expect(kFlashDriverAllImageSize);
    h.SendByte(0x91);
    answer = h.Expect(1);
    h.SendByte(0x55);  // not FP_Speed_ChgDone: still a success
  });
  link_.baudCode = kBaud812000;
  EXPECT_EQ(TOOL_DownloadFlashDriver(session_, link_), 0);
  handset.Join();
  EXPECT_THAT(answer, ElementsAre(0x93));
  EXPECT_FALSE(traces_.Contains("Updater: Received FP_Speed_ChgDone"));
}

TEST_F(BootUploadTest, FlashDriverWithASilentHandsetIs212AndKeepsTheBaseCode) {
  ScriptedHandset handset;
  handset.Play([&](ScriptedHandset& h) { h.Expect(kFlashDriverAllImageSize); });
  link_.baudCode = kBaud460800;
  EXPECT_EQ(TOOL_DownloadFlashDriver(session_, link_), Result::NoResponse);
  handset.Join();
  EXPECT_EQ(link_.baudCode, kBaud115200);
  EXPECT_FALSE(link_.IsOpen());
  EXPECT_TRUE(traces_.Contains("Flash driver download error: Closing ComPort\n"));
}

TEST_F(BootUploadTest, LoaderUploadsQueryTheFlashType) {
  ScriptedHandset handset;
  Bytes upload, query;
  handset.Play([&](ScriptedHandset& h) {
    upload = h.Expect(kNorFlashLoaderImageSize);
    query = h.Expect(16);
    h.SendByte(0x10);
  });
  session_.SetFlashType(0);
  link_.baudCode = kBaud460800;
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, proto::kSelectNorLoader), 0);
  handset.Join();
  EXPECT_EQ(upload, PayloadBytes(NorFlashLoaderImage()));
  EXPECT_EQ(query, WordsBe({0xFFFF0003u, 0, 0, 0xFF00FF00u}));
  EXPECT_EQ(session_.FlashType(), 0x10);
  EXPECT_EQ(link_.baudCode, kBaud115200);
  EXPECT_THAT(PauseLog(), ElementsAre("OpenPort:100", "TOOL_UploadLoader:3000", "ClosePort:1000"));
  EXPECT_THAT(traces_.Lines(), ElementsAre("Updater: Closing ComPort"));

  // NAND loader; a silent loader is no failure of the upload, but its flash
  // type is unknown: the previous handset's id must not stand for it.
  handset.Play([&](ScriptedHandset& h) {
    upload = h.Expect(kNandFlashLoaderImageSize);
    query = h.Expect(16);
  });
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, proto::kSelectNandLoader), 0);
  handset.Join();
  EXPECT_EQ(upload, PayloadBytes(NandFlashLoaderImage()));
  EXPECT_EQ(query, WordsBe({0xFFFF0007u, 0, 0, 0xFF00FF00u}));
  EXPECT_EQ(session_.FlashType(), 0);

  // The preloader selector sends no query and leaves the id alone.
  session_.SetFlashType(0x10);
  LetUploadsDrain();
  handset.Play([&](ScriptedHandset& h) {
    upload = h.Expect(kPrebootImageSize);
    query = h.Drain(100);
  });
  timing::ClearRecording();
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, proto::kSelectPreboot), 0);
  handset.Join();
  EXPECT_EQ(upload, PayloadBytes(PrebootImage()));
  EXPECT_TRUE(query.empty());
  EXPECT_EQ(session_.FlashType(), 0x10);
  EXPECT_THAT(PauseLog(), ElementsAre("OpenPort:100", "TOOL_UploadLoader:1000", "ClosePort:1000"));

  link_.baudCode = kBaud812000;  // the loaders only take the operator's rates
  EXPECT_EQ(TOOL_UploadLoader(session_, link_, proto::kSelectNorLoader), Result::InvalidValue);
}

TEST_F(BootUploadTest, FlashTypeQueryOnUsbIsAFrame) {
  ScriptedHandset handset;
  OpenAt(kBaud115200);
  Bytes frame;
  handset.Play([&](ScriptedHandset& h) { frame = h.Expect(16); });
  (void)TOOL_QueryFlashType(session_, link_, true, LinkMode::Usb);
  handset.Join();
  ASSERT_EQ(frame.size(), 16u);
  EXPECT_EQ(frame[0], 0x33);
  EXPECT_THAT(Bytes(frame.begin() + 4, frame.end()), ElementsAre(0, 0, 0, 0, 0xFF, 0xFF, 0, 7, 0, 0, 0, 0));
}

}  // namespace
}  // namespace vantrel::test
