// Round trips against the handset simulator: images go in through each
// session form and come back out through the read-back, byte for byte, at
// their addresses; handset faults end the sessions with the codes a real
// handset would cause. The simulator must see no protocol violation.
#include <memory>

#include "link/ResultCodes.h"
#include "payloads/Payloads.h"
#include "protocol/BootUpload.h"
#include "protocol/Constants.h"
#include "protocol/ImageSession.h"
#include "protocol/LoaderCommands.h"
#include "protocol/ReadBack.h"
#include "tests/support/SimFixture.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using sim::FlashPart;
using sim::Fault;

class RoundTripTest : public sim::SimTest {
 protected:
  void SetUp() override {
    sim::SimTest::SetUp();
    // The simulator runs on its own thread: give it idle budgets that a busy
    // machine cannot run out by scheduling alone (6 s of silence is 1.5 s).
    timing::SetPollScale(0.25);
  }

  static sim::Options Opts(bool usb = false) {
    sim::Options o = sim::TestOptions(7);
    o.blockSize = 0x4000;  // several blocks per record
    o.usb = usb;
    // A handset on USB says nothing at power-on: the operator switches it on
    // with the port open, and only then does a start signal reach it.
    o.autoPowerOn = !usb;
    return o;
  }

  std::string WriteFile(const std::string& name, const Bytes& bytes) {
    const std::string path = Config().Root() + "/" + name;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
    return path;
  }

  // The connect step's handshake with the boot ROM, on a port left open:
  // its BOOT byte (none on USB), the start signal and its echo.
  void CatchBootRom(ComLink& record, bool usb) {
    record.SetPortName(Com());
    record.baudCode = kBaud115200;
    ASSERT_EQ(OpenPort(record), 0);
    uint8_t byte = 0;
    if (usb) {
      Sim().PowerOn();
      ASSERT_TRUE(Sim().WaitForTranscript("power on", 5000));
    } else {
      ASSERT_EQ(ReceiveExactly(record, &byte, 1, kIdleDefaultSec), 0);
      ASSERT_EQ(byte, proto::kBootSignal);
    }
    ASSERT_EQ(SendAll(record, &proto::kStartSignal, 1, kIdleDefaultSec), 0);
    ASSERT_EQ(ReceiveExactly(record, &byte, 1, kIdleDefaultSec), 0);
    ASSERT_EQ(byte, proto::kStartSignal);
  }

  // From the boot ROM to a running UART flash loader, as connect does it.
  void BringUpLoader(uint8_t selector, bool usb = false) {
    ComLink record;
    CatchBootRom(record, usb);
    ASSERT_EQ(TOOL_DownloadDriver(session_, record, DriverForm::SdramInitOnOpen), 0);
    ASSERT_EQ(TOOL_DownloadDriver(session_, record, DriverForm::Preboot), 0);
    ASSERT_EQ(TOOL_UploadLoader(session_, record, selector), 0);
    EXPECT_EQ(session_.FlashType(), selector == proto::kSelectNorLoader ? 0x10 : 0xB1);
  }

  LinkPtr Open(uint8_t code = kBaud115200) {
    LinkPtr link = OpenLink(Com(), code);
    EXPECT_TRUE(link != nullptr);
    return link;
  }

  // Reads flash back through the loader.
  Bytes ReadBack(ComLink& link, LinkMode mode, uint32_t command, uint32_t start, uint32_t length) {
    Bytes out;
    const Result rc = TOOL_Dump(session_, mode, "", link, start, length, command, nullptr, [&](const uint8_t* d, uint32_t n) {
      out.insert(out.end(), d, d + n);
      return true;
    });
    EXPECT_EQ(rc, 0);
    return out;
  }

  TraceCapture traces_;  // keeps the session traces out of the test output
  TargetSession session_;
};

// Five imgset records; the selection (head, middle, rest 0) takes three.
struct ImgsetFile {
  std::vector<std::pair<uint32_t, Bytes>> records = {
      {0x100000, Pattern(0x5000, 1)}, {0x200000, Pattern(0x3001, 2)}, {0x300000, Pattern(0x8123, 3)},
      {0x400000, Pattern(0x100, 4)},  {0x500000, Pattern(0x2000, 5)}};
  Bytes Bytes_() const {
    Bytes out;
    for (const auto& [a, d] : records) out = Concat({out, Record(a, d)});
    return out;
  }
};

TEST_F(RoundTripTest, UartImageSetAtTheRaisedRateReadsBackTheSelectedRecords) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  const ImgsetFile file;
  const std::string path = WriteFile("imgset.bin", file.Bytes_());

  LinkPtr link = Open();
  ASSERT_TRUE(link);
  timing::SetPauseScale(0.01);  // the rate switch needs its pause on the line
  ASSERT_EQ(TOOL_SetTargetBaud(session_, *link, kBaud921600, 1), 0);
  SetHostBaud(*link, kBaud921600);
  session_.SetSelection(1, 1, 0, 0, 0, 0);
  ProgressLog progress;
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, *link, path, proto::kTypeImgset, progress.Callback()), 0);
  const char date[8] = {'2', '0', '2', '4', '0', '6', '0', '1'};
  EXPECT_EQ(TOOL_SendDownloadDate(session_, *link, date, LinkMode::Uart), 0);

  for (int i = 0; i < 3; ++i) {
    const auto& [address, data] = file.records[i];
    EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNandDump, address, static_cast<uint32_t>(data.size())), data)
        << "record " << i;
  }
  for (int i = 3; i < 5; ++i) {  // not selected: still erased
    EXPECT_EQ(s.ReadNand(file.records[i].first, 16), Bytes(16, 0xFF)) << "record " << i;
  }
  ASSERT_EQ(TOOL_SetTargetBaud(session_, *link, kBaud115200, 0), 0);
  SetHostBaud(*link, kBaud115200);
  CloseLink(link);
  EXPECT_EQ(s.LastDownloadDate(), "20240601");
  EXPECT_EQ(s.HandsetRate(), 115200u);
  // One start line per record and a checksum report per written sector.
  EXPECT_EQ(std::count(progress.calls.begin(), progress.calls.end(), ProgressCall{1, 1, 2, 0, 0}), 3);
}

TEST_F(RoundTripTest, UartBoot2AndManualFile) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Uart, *link, "boot2", 0x20000, nullptr), 0);
  const Bytes manual = Pattern(0x6789, 9);
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Uart, *link, WriteFile("manual.img", manual), 0x1000000, nullptr), 0);

  const Payload& boot2 = Boot2Image();
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNandDump, 0x20000, boot2.size),
            Bytes(boot2.data, boot2.data + boot2.size));
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNandDump, 0x1000000, 0x6789), manual);
  CloseLink(link);
  EXPECT_EQ(s.ReadNand(0x1000000, 0x6789), manual);
}

TEST_F(RoundTripTest, StreamFormsFillTheFileSystemArea) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  LinkPtr link = Open();
  ASSERT_TRUE(link);

  const Bytes vlf = Pattern(0x9001, 11);
  session_.SetSelection(0, 0, 0, 0, 0, 1);
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, *link, WriteFile("vlf.bin", vlf), proto::kTypeVlf, nullptr), 0);
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNandDump, 0x5000000, 0x9001), vlf);

  // Entire-flash images carry 4096 spare bytes after each block of data.
  Bytes flashFile, expected;
  for (uint32_t len : {0x4000u, 0x4000u, 0x1234u}) {
    const Bytes data = Pattern(len, static_cast<uint8_t>(len)), spare(4096, 0x5A);
    flashFile = Concat({flashFile, data, spare});
    expected = Concat({expected, data});
  }
  session_.SetSelection(0, 0, 0, 0, 0, 1);
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, *link, WriteFile("flash.bin", flashFile), proto::kTypeVlfFlash,
                                  nullptr),
            0);
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNandDump, 0x5000000, static_cast<uint32_t>(expected.size())),
            expected);
  CloseLink(link);
  EXPECT_EQ(s.ReadNand(0x5000000 + static_cast<uint32_t>(expected.size()), 16), Bytes(16, 0xFF));
}

TEST_F(RoundTripTest, EntireFlashStreamSurvivesResendsWithItsSpareBytes) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  Bytes flashFile, expected;
  for (uint32_t len : {0x4000u, 0x4000u, 0x777u}) {
    const Bytes data = Pattern(len, static_cast<uint8_t>(len + 3)), spare(4096, 0xA5);
    flashFile = Concat({flashFile, data, spare});
    expected = Concat({expected, data});
  }
  const std::string path = WriteFile("flash.bin", flashFile);
  // The handset asks again for the second block after taking it, and for the
  // third after a wrong echo: both times the data and the spare bytes come
  // again, and the stream stays in step to its end.
  for (Fault::Kind kind : {Fault::Kind::Resend, Fault::Kind::BadEcho}) {
    s.ClearFaults();
    Fault f;
    f.kind = kind;
    f.occurrence = kind == Fault::Kind::Resend ? 2 : 3;
    s.AddFault(f);
    ProgressLog progress;
    session_.SetSelection(0, 0, 0, 0, 0, 1);
    EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, *link, path, proto::kTypeVlfFlash, progress.Callback()), 0);
    EXPECT_EQ(std::count(progress.calls.begin(), progress.calls.end(), ProgressCall{1, 1, 3, 0, 0}), 1);
    // A resent block is reported at its own address, and the next one right
    // behind it.
    const auto blocks = progress.Only(1, 0);
    ASSERT_EQ(blocks.size(), 4u);
    const uint32_t second = 0x5000000 + 0x4000, third = second + 0x4000;
    const uint32_t resentAt = kind == Fault::Kind::Resend ? second : third;
    EXPECT_EQ(std::get<2>(blocks[2]), resentAt);
    EXPECT_EQ(std::get<3>(blocks[2]), (resentAt == second ? 0x4000u : 0x777u) + 4096);
    EXPECT_EQ(std::get<2>(blocks[3]), third);
    EXPECT_EQ(s.ReadNand(0x5000000, static_cast<uint32_t>(expected.size())), expected);
    EXPECT_EQ(s.ReadNand(0x5000000 + static_cast<uint32_t>(expected.size()), 16), Bytes(16, 0xFF));
  }
  CloseLink(link);
  s.ClearFaults();
}

TEST_F(RoundTripTest, UsbFormsReadBackTheirRecordsAndFiles) {
  sim::Simulator& s = StartSim(Opts(true));
  BringUpLoader(proto::kSelectNandLoader, true);
  const ImgsetFile file;
  LinkPtr link = Open(kBaud921600);  // rates play no part on USB
  ASSERT_TRUE(link);

  session_.SetSelection(0, 1, 0, 0, 0, 2);  // records 2 to 5
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, WriteFile("imgset.bin", file.Bytes_()), *link,
                                     proto::kTypeImgset, nullptr),
            0);
  const Bytes vlfRecord = Pattern(0x4321, 12);
  EXPECT_EQ(TOOL_DownloadImageSetUsb(session_, LinkMode::Usb, WriteFile("vlf.bin", Record(0x5100000, vlfRecord)), *link,
                                     proto::kTypeVlf, nullptr),
            0);
  const Bytes manual = Pattern(0x5555, 13);
  EXPECT_EQ(TOOL_DownloadFileUsb(session_, LinkMode::Usb, WriteFile("manual.img", manual), *link, 0x2000000, nullptr), 0);
  const Bytes boot2File = Pattern(0x3000, 14);
  EXPECT_EQ(TOOL_DownloadBoot2(session_, LinkMode::Usb, *link, WriteFile("boot2.img", boot2File), 0x3000000, nullptr), 0);

  EXPECT_EQ(s.ReadNand(file.records[0].first, 16), Bytes(16, 0xFF));
  for (int i = 1; i < 5; ++i) {
    const auto& [address, data] = file.records[i];
    EXPECT_EQ(ReadBack(*link, LinkMode::Usb, proto::kCmdNandDump, address, static_cast<uint32_t>(data.size())), data)
        << "record " << i;
  }
  EXPECT_EQ(ReadBack(*link, LinkMode::Usb, proto::kCmdNandDump, 0x5100000, 0x4321), vlfRecord);
  EXPECT_EQ(ReadBack(*link, LinkMode::Usb, proto::kCmdNandDump, 0x2000000, 0x5555), manual);
  EXPECT_EQ(ReadBack(*link, LinkMode::Usb, proto::kCmdNandDump, 0x3000000, 0x3000), boot2File);
  CloseLink(link);
}

TEST_F(RoundTripTest, BootImageThroughTheFlashDriver) {
  sim::Simulator& s = StartSim(Opts());
  ComLink record;
  CatchBootRom(record, false);
  ASSERT_EQ(TOOL_DownloadDriver(session_, record, DriverForm::SdramInitOnOpen), 0);
  ASSERT_EQ(TOOL_DownloadDriver(session_, record, DriverForm::Preboot), 0);
  record.baudCode = kBaud921600;
  ASSERT_EQ(TOOL_DownloadFlashDriver(session_, record), 0);
  EXPECT_EQ(record.baudCode, kBaud921600);
  session_.SetImageCursor(0);
  EXPECT_EQ(TOOL_DownloadImage(session_, record, 0x1000, nullptr, proto::kSelectBoot1a), 0);
  EXPECT_EQ(session_.ImageCursor(), kBoot1aImageSize);

  // The handset is back in its boot ROM: bring up the loader to read it back.
  BringUpLoader(proto::kSelectNandLoader);
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  const Payload& image = Boot1aImage();
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNandDump, 0x1000, image.size),
            Bytes(image.data, image.data + image.size));
  CloseLink(link);
  EXPECT_EQ(s.ReadNand(0x1000 + image.size, 8), Bytes(8, 0xFF));
}

TEST_F(RoundTripTest, NorRecordDownloadReadsBack) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNorLoader);
  const Bytes r1 = Pattern(0x21000, 21), r2 = Pattern(0x9000, 22);  // r1 crosses a sector boundary
  const std::string path = WriteFile("cal.bin", Concat({Record(0x10000, r1), Record(0x1FE4000, r2)}));
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  EXPECT_EQ(TOOL_DownloadNorImage(session_, LinkMode::Uart, *link, path, proto::kNorRecordMarker, 0, nullptr), 0);
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNorDump, 0x10000, 0x21000), r1);
  EXPECT_EQ(ReadBack(*link, LinkMode::Uart, proto::kCmdNorDump, 0x1FE4000, 0x9000), r2);
  CloseLink(link);
  EXPECT_EQ(s.ReadNor(0x10000 + 0x21000, 4), Bytes(4, 0xFF));
}

TEST_F(RoundTripTest, HandsetFaultsGiveTheirCodes) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  const Bytes image = Pattern(0x9000, 31);  // three blocks
  const std::string path = WriteFile("img.bin", Record(0x800000, image));
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  const auto session = [&](Fault::Kind kind, uint32_t occurrence, const std::string& event = "") {
    s.ClearFaults();
    Fault f;
    f.kind = kind;
    f.occurrence = occurrence;
    f.event = event;
    s.AddFault(f);
    session_.SetSelection(1, 0, 0, 0, 0, 0);
    return TOOL_DownloadImageSet(session_, LinkMode::Uart, *link, path, proto::kTypeImgset, nullptr);
  };
  // A wrong echo once is mended by the resend; the data still arrives whole.
  EXPECT_EQ(session(Fault::Kind::BadEcho, 2), 0);
  EXPECT_EQ(s.ReadNand(0x800000, 0x9000), image);
  EXPECT_EQ(session(Fault::Kind::Resend, 1), 0);
  EXPECT_EQ(session(Fault::Kind::Failed, 2), Result::Sync);
  EXPECT_EQ(session(Fault::Kind::RefuseAddress, 1), Result::InvalidAddress);
  EXPECT_EQ(session(Fault::Kind::TooLarge, 1), Result::InvalidAddress);
  // A cable pulled in the middle of a block.
  EXPECT_EQ(session(Fault::Kind::HangUp, 2), Result::ComPort);
  CloseLink(link);
  s.ClearFaults();
}

TEST_F(RoundTripTest, HandsetThatFallsSilentIs212) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  Fault f;
  f.kind = Fault::Kind::Silence;
  f.event = "block-request";
  s.AddFault(f);
  session_.SetSelection(1, 0, 0, 0, 0, 0);
  ProgressLog progress;
  const std::string path = WriteFile("img.bin", Record(0x800000, Pattern(0x100, 1)));
  EXPECT_EQ(TOOL_DownloadImageSet(session_, LinkMode::Uart, *link, path, proto::kTypeImgset, progress.Callback()),
            Result::NoResponse);
  EXPECT_EQ(progress.calls.back(), (ProgressCall{1, 1, 6, 0, 0}));
  CloseLink(link);
}

TEST_F(RoundTripTest, ReadBackRefusalsAndAPulledCable) {
  sim::Simulator& s = StartSim(Opts());
  BringUpLoader(proto::kSelectNandLoader);
  LinkPtr link = Open();
  ASSERT_TRUE(link);
  const auto dump = [&](Fault::Kind kind) {
    s.ClearFaults();
    Fault f;
    f.kind = kind;
    s.AddFault(f);
    return TOOL_Dump(session_, LinkMode::Uart, "", *link, 0, 0x8000, proto::kCmdNandDump, nullptr, nullptr);
  };
  EXPECT_EQ(dump(Fault::Kind::RefuseAddress), Result::InvalidAddress);
  EXPECT_EQ(dump(Fault::Kind::TooLarge), Result::InvalidAddress);
  EXPECT_EQ(dump(Fault::Kind::Resend), Result::Error);
  EXPECT_EQ(dump(Fault::Kind::Failed), Result::Sync);
  // A dump past the end of the flash is refused by the handset itself.
  EXPECT_EQ(TOOL_Dump(session_, LinkMode::Uart, "", *link, sim::kNandBytes - 0x100, 0x200, proto::kCmdNandDump, nullptr,
                      nullptr),
            Result::InvalidAddress);
  EXPECT_EQ(dump(Fault::Kind::HangUp), Result::ComPort);
  CloseLink(link);
  s.ClearFaults();
}

}  // namespace
}  // namespace vantrel::test
