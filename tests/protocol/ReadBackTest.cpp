// NOR record download and flash read-back against a scripted loader.
#include "link/ResultCodes.h"
#include "protocol/Constants.h"
#include "protocol/ReadBack.h"
#include "tests/protocol/ProtocolFixture.h"

namespace vantrel::test {
namespace {

using ::testing::ElementsAre;

class ReadBackTest : public ProtocolTest {
 protected:
  void SetUp() override {
    ProtocolTest::SetUp();
    OpenAt(kBaud115200);
  }

  // NOR loader: asks for one block of `length`, checks the checksum byte and
  // answers `verdict`; returns the block.
  static Bytes NorBlock(ScriptedHandset& h, uint32_t length, uint8_t verdict = 0x27) {
    h.SendWordBe(length);
    Bytes block = h.Expect(length);
    Bytes sum = h.Expect(1);
    EXPECT_EQ(sum, Bytes{Sum8(block)});
    h.SendByte(verdict);
    return block;
  }
  static void CloseRange(ScriptedHandset& h) { h.Send(WordsBe({0, 0x12345678})); }

  ScriptedHandset handset_;
};

TEST_F(ReadBackTest, NorRecordFileSendsOneStartPerRecord) {
  const Bytes r1 = Pattern(4096 + 100, 31), r2 = Pattern(50, 32);
  const std::string path = WriteFile("cal.bin", Concat({Record(0x10000, r1), Record(0x7F0000, r2)}));
  Bytes start1, start2, data;
  handset_.Play([&](ScriptedHandset& h) {
    start1 = h.Expect(16);
    Bytes b = NorBlock(h, 4096, 0x2A);  // resend: the same bytes again
    EXPECT_EQ(NorBlock(h, 4096), b);
    data = b;
    b = NorBlock(h, 100);
    data.insert(data.end(), b.begin(), b.end());
    CloseRange(h);
    start2 = h.Expect(16);
    b = NorBlock(h, 50);
    data.insert(data.end(), b.begin(), b.end());
    CloseRange(h);
  });
  EXPECT_EQ(TOOL_DownloadNorImage(session_, LinkMode::Uart, link_, path, proto::kNorRecordMarker, 0, progress_.Callback()), 0);
  handset_.Join();
  EXPECT_EQ(start1, WordsBe({0xFFFF0000u, 0x10000, 4196, 0xFF00FF00u}));
  EXPECT_EQ(start2, WordsBe({0xFFFF0000u, 0x7F0000, 50, 0xFF00FF00u}));
  EXPECT_EQ(data, Concat({r1, r2}));
  const Bytes b1(r1.begin(), r1.begin() + 4096);
  EXPECT_THAT(progress_.Only(1, 0),
              ElementsAre(ProgressCall{1, 0, 0x10000, 4096, 0}, ProgressCall{1, 0, 0x10000, 4096, 0},
                          ProgressCall{1, 0, 0x11000, 100, 0}, ProgressCall{1, 0, 0x7F0000, 50, 0}));
  EXPECT_EQ(progress_.Only(1, 1)[1], (ProgressCall{1, 1, 3, 0, 0}));
  EXPECT_EQ(progress_.Only(1, 1)[2], (ProgressCall{1, 1, 0, Sum8(b1), 0}));
  EXPECT_THAT(PausesTagged("TOOL_DownloadNorImage"), ElementsAre(450, 450, 450, 450));
  EXPECT_EQ(PausesTagged("Checksum8").size(), 4u);
}

TEST_F(ReadBackTest, NorPlainLayoutAndItsEnds) {
  const Bytes image = Pattern(600, 33);
  const std::string path = WriteFile("nor.img", image);
  Bytes start, block;
  // Length 0 is still announced; the loader's block lengths decide.
  handset_.Play([&](ScriptedHandset& h) {
    start = h.Expect(16);
    block = NorBlock(h, 600);
    CloseRange(h);
  });
  EXPECT_EQ(TOOL_DownloadNorImage(session_, LinkMode::Usb, link_, path, 0x40000, 0, nullptr), 0);
  handset_.Join();
  EXPECT_EQ(start, WordsBe({0xFFFF0000u, 0x40000, 0, 0xFF00FF00u}));
  EXPECT_EQ(block, image);
  EXPECT_THAT(PausesTagged("TOOL_DownloadNorImage"), ElementsAre(50));
  EXPECT_TRUE(PausesTagged("Checksum8").empty());

  const auto endedBy = [&](std::function<void(ScriptedHandset&)> script) {
    handset_.Play(std::move(script));
    progress_.calls.clear();
    const Result rc = TOOL_DownloadNorImage(session_, LinkMode::Uart, link_, path, 0, 600, progress_.Callback());
    handset_.Join();
    return rc;
  };
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.Expect(16), NorBlock(h, 100, 0x28); }), Result::Internal);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 4, 0, 0}));
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.Expect(16), NorBlock(h, 100, 0x99); }), Result::Internal);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 5, 0, 0}));
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.Expect(16), NorBlock(h, 100); }), Result::NoResponse);
  EXPECT_EQ(progress_.calls.back(), (ProgressCall{1, 1, 6, 0, 0}));
  // Three resends of one block are granted; the fourth ends the download.
  EXPECT_EQ(endedBy([](ScriptedHandset& h) {
              h.Expect(16);
              for (int i = 0; i < 3; ++i) NorBlock(h, 100, 0x2A);
              NorBlock(h, 100);
              for (int i = 0; i < 4; ++i) NorBlock(h, 100, 0x2A);
            }),
            Result::Sync);
  // Past the file's end, or past the work buffer: 205 with nothing sent.
  for (uint32_t length : {601u, 0x100001u}) {
    Bytes after;
    EXPECT_EQ(endedBy([&](ScriptedHandset& h) {
                h.Expect(16);
                h.SendWordBe(length);
                after = h.Drain(100);
              }),
              Result::Internal);
    EXPECT_TRUE(after.empty());
  }
  EXPECT_EQ(TOOL_DownloadNorImage(session_, LinkMode::Uart, link_, scratch_.Root() + "/none", 0, 1, nullptr), Result::FileOpen);
}

TEST_F(ReadBackTest, NorRecordFileWithoutACompleteRecordSendsNothing) {
  Bytes seen;
  handset_.Play([&](ScriptedHandset& h) { seen = h.Drain(100); });
  const std::string path = WriteFile("cut.bin", Bytes{1, 2, 3, 4, 5, 6, 7});
  EXPECT_EQ(TOOL_DownloadNorImage(session_, LinkMode::Uart, link_, path, proto::kNorRecordMarkerBoot, 0, nullptr),
            Result::FileRead);
  handset_.Join();
  EXPECT_TRUE(seen.empty());
}

// Read-back loader: sends a block of `data` with its checksum.
void DumpBlock(ScriptedHandset& h, const Bytes& data) {
  h.SendByte(0x2E);
  h.SendWordBe(static_cast<uint32_t>(data.size()));
  h.Send(data);
  h.SendByte(Sum8(data));
}

TEST_F(ReadBackTest, DumpHandsBlocksToTheSinkAndPacesSmallOnes) {
  const Bytes flash = Pattern(0x30000, 34);
  Bytes command;
  handset_.Play([&](ScriptedHandset& h) {
    command = h.Expect(16);
    h.SendByte(0x26);
    EXPECT_THAT(h.Expect(1), ElementsAre(0x2D));
    DumpBlock(h, Bytes(flash.begin(), flash.begin() + 0x20000));
    h.SendByte(0x27);
    EXPECT_THAT(h.Expect(1), ElementsAre(0x2D));
    DumpBlock(h, Bytes(flash.begin() + 0x20000, flash.begin() + 0x28000));
    DumpBlock(h, Bytes(flash.begin() + 0x28000, flash.end()));
    h.SendByte(0x29);
  });
  Bytes sunk;
  std::vector<uint32_t> blockAddresses;
  int pieces = 0;
  const auto progress = [&](uint8_t final, const uint8_t*, uint32_t address) {
    if (final) blockAddresses.push_back(address);
    else ++pieces;
  };
  const auto sink = [&](const uint8_t* data, uint32_t length) {
    sunk.insert(sunk.end(), data, data + length);
    return true;
  };
  EXPECT_EQ(TOOL_Dump(session_, LinkMode::Uart, "", link_, 0x500000, 0x30000, proto::kCmdNandDump, progress, sink), 0);
  handset_.Join();
  EXPECT_EQ(command, WordsBe({0xFFFF0005u, 0x500000, 0x30000, 0xFF00FF00u}));
  EXPECT_EQ(sunk, flash);
  EXPECT_THAT(blockAddresses, ElementsAre(0x500000, 0x520000, 0x528000));
  EXPECT_EQ(pieces, 0x30000 / 1024);
  EXPECT_THAT(PauseLog(), ElementsAre("TOOL_Dump:500", "TOOL_Dump:1000", "TOOL_Dump:1000"));
}

TEST_F(ReadBackTest, DumpEndsAndTheirCodes) {
  const auto endedBy = [&](std::function<void(ScriptedHandset&)> script, DumpDataCallBack sink = nullptr) {
    handset_.Play([script](ScriptedHandset& h) {
      h.Expect(16);
      script(h);
    });
    const Result rc = TOOL_Dump(session_, LinkMode::Usb, "", link_, 0, 0x1000, proto::kCmdNorDump, nullptr, sink);
    handset_.Join();
    return rc;
  };
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendByte(0x28); }), Result::Sync);
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendByte(0x2A); }), Result::Error);
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendByte(0x2B); }), Result::InvalidAddress);
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendByte(0x2C); }), Result::InvalidAddress);
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { h.SendByte(0x00); }), Result::Internal);
  EXPECT_EQ(endedBy([](ScriptedHandset&) {}), Result::NoResponse);
  // A block cut short by a silent loader, and a block beyond the buffer.
  EXPECT_EQ(endedBy([](ScriptedHandset& h) {
              h.SendByte(0x2E);
              h.SendWordBe(2000);
              h.Send(Pattern(1500, 1));
            }),
            Result::NoResponse);
  EXPECT_EQ(endedBy([](ScriptedHandset& h) {
              h.SendByte(0x2E);
              h.SendWordBe(0x40001);
            }),
            Result::Internal);
  // A sink that cannot store the block ends the dump as a failure.
  int calls = 0;
  EXPECT_EQ(endedBy([](ScriptedHandset& h) { DumpBlock(h, Pattern(10, 2)), h.SendByte(0x29); },
                    [&](const uint8_t*, uint32_t) { return ++calls, false; }),
            Result::FileWrite);
  EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace vantrel::test
