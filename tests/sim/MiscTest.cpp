// Raw read-back exchange, persistence of the flash, power scripting, pacing
// and the fault texts.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>

#include "link/SimulatedLine.h"
#include "protocol/Constants.h"
#include "sim/ComName.h"
#include "sim/Wire.h"
#include "tests/support/SimFixture.h"
#include "tests/sim/SimHost.h"

namespace vantrel::sim {
namespace {

using namespace vantrel::sim::test;
namespace P = proto;

// The simulator and a link that follows it read the window-size record alike.
static_assert(kActivityMark == kSimulatorMark);
static_assert(static_cast<int>(Activity::Busy) == static_cast<int>(SimulatorActivity::Busy) &&
              static_cast<int>(Activity::AwaitsTimer) == static_cast<int>(SimulatorActivity::AwaitsTimer) &&
              static_cast<int>(Activity::AwaitsHost) == static_cast<int>(SimulatorActivity::AwaitsHost));

class MiscTest : public SimTest {
 protected:
  // A handset pacing the line at its rate, switched on by the host's open:
  // returns once its BOOT byte arrived (and, with the start signal, once
  // that was echoed).
  std::unique_ptr<Host> OpenPaced(bool startSignal) {
    Options o = TestOptions();
    o.pacing = true;
    StartSim(o);
    auto h = std::make_unique<Host>(Com());
    h->Open();
    EXPECT_EQ(h->RecvByte(), 0xA5);
    if (startSignal) {
      h->Send(0xB9);
      EXPECT_EQ(h->RecvByte(), 0xB9);
    }
    return h;
  }
};

// The host's side of the raw read-back, written out from the exchange's
// description: returns the decoded bytes, the chunk count and the run count.
struct RawResult {
  Bytes data;
  int chunks = 0;
  int runs = 0;
};

RawResult RawExchange(Host& h, uint8_t sumOffset = 0) {
  RawResult r;
  h.Send(0xCF);
  h.Send(0xCC);
  const Bytes ram = h.Recv(4, 15);
  EXPECT_EQ(ram.size(), 4u);
  h.Send(Sum(ram));
  EXPECT_EQ(h.RecvByte(15), 0x77);
  const Bytes len = h.Recv(4, 15);
  EXPECT_EQ(len.size(), 4u);
  const uint32_t length = len[0] | (len[1] << 8) | (len[2] << 16) | (uint32_t{len[3]} << 24);
  h.Send(Sum(len));
  EXPECT_EQ(h.RecvByte(15), 0x77);
  uint32_t remaining = length;
  uint32_t limit = std::min<uint32_t>(8192, remaining);
  uint32_t count = 0;
  unsigned sum = Sum(len);
  while (remaining > 0) {
    const Bytes w = h.Recv(4, 15);
    if (w.size() != 4) {
      ADD_FAILURE() << "word missing";
      return r;
    }
    sum += w[0] + w[1] + w[2] + w[3];
    uint32_t copies = 1;
    if (w[0] == w[1] && w[1] == w[2] && w[2] == w[3]) {
      const int n = h.RecvByte(15);
      sum += static_cast<unsigned>(n);
      copies += static_cast<uint32_t>(n);
      ++r.runs;
    }
    for (uint32_t i = 0; i < copies; ++i) r.data.insert(r.data.end(), w.begin(), w.end());
    count += 4 * copies;
    remaining -= std::min(remaining, 4 * copies);
    if (count >= limit) {
      h.Send(static_cast<uint8_t>(sum + sumOffset));
      sum = 0;
      const int ack = h.RecvByte(15);
      if (ack != 0x77) return r;
      ++r.chunks;
      count = 0;
      limit = std::min<uint32_t>(8192, remaining);
    }
  }
  return r;
}

TEST_F(MiscTest, RawReadBackSendsRunsAndChunkSums) {
  Options o = TestOptions();
  o.rawAddress = 0x40000;
  o.rawLength = 0x4000;
  StartSim(o);
  // Words of four equal bytes come as runs; a long run stops at the chunk's end.
  Bytes content = Pattern(0x4000, 21);
  std::fill(content.begin() + 0x100, content.begin() + 0x180, 0x12);
  std::fill(content.begin() + 0x1800, content.begin() + 0x2800, 0x00);
  Sim().WriteNand(0x40000, content);
  Host h(Com());
  h.Open();
  ASSERT_EQ(h.RecvByte(), 0xA5);
  const RawResult r = RawExchange(h);
  EXPECT_EQ(r.data, content);
  EXPECT_EQ(r.chunks, 2);
  EXPECT_GE(r.runs, 3);
}

TEST_F(MiscTest, RawReadBackRefusesAWrongSum) {
  Options o = TestOptions();
  o.rawLength = 0x2000;
  StartSim(o);
  Host h(Com());
  h.Open();
  ASSERT_EQ(h.RecvByte(), 0xA5);
  const RawResult r = RawExchange(h, 1);
  EXPECT_EQ(r.chunks, 0);
  const auto v = TakeViolations();
  ASSERT_EQ(v.size(), 1u);
  EXPECT_NE(v[0].find("wrong checksum byte"), std::string::npos) << v[0];
}

TEST_F(MiscTest, FlashContentsSurviveARestart) {
  const std::string dir = Config().Root() + "/state";
  Options o = TestOptions();
  o.stateDir = dir;
  {
    Simulator& sim = StartSim(o);
    sim.WriteNand(0x7FFFFF0, Bytes(16, 0x5A));
    sim.WriteNor(0x100, Bytes{1, 2, 3});
    sim.EraseFlash(FlashPart::Nand, 0x7FFFFF8, 4);
    sim.Stop();
  }
  Simulator again(o);
  std::string error;
  ASSERT_EQ(again.Start(&error), 0) << error;
  EXPECT_EQ(again.ReadNand(0x7FFFFF0, 16),
            (Bytes{0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0x5A, 0xFF, 0xFF, 0xFF, 0xFF, 0x5A, 0x5A, 0x5A, 0x5A}));
  EXPECT_EQ(again.ReadNor(0xFF, 5), (Bytes{0xFF, 1, 2, 3, 0xFF}));
  EXPECT_EQ(again.ReadNand(0x8000000 - 2, 4), (Bytes{0x5A, 0x5A, 0xFF, 0xFF}));  // past the end reads erased
  // The state file is sparse: 128 MiB of NAND take almost nothing on disk.
  EXPECT_LT(std::filesystem::file_size(dir + "/nand.flash") / 1024 / 1024, 129u);
  again.Stop();
}

// The simulator's files touch nothing but its own. A file at its COM name, a
// running simulator's link there, or a link planted as its flash state file
// is left as it is, and the simulator does not start; a link that leads
// nowhere (left by a simulator that is gone) is taken over.
TEST_F(MiscTest, TakesNothingThatIsNotItsOwn) {
  namespace fs = std::filesystem;
  const std::string folder = Config().Folder(), com17 = folder + "/COM17", victim = Config().Root() + "/victim";
  const std::string state = Config().Root() + "/state";
  fs::create_directories(state);
  std::ofstream(victim) << "kept";
  Simulator running(TestOptions(18));
  std::string error;
  ASSERT_EQ(running.Start(&error), 0) << error;
  auto content = [](const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  Options withState = TestOptions(19);
  withState.stateDir = state;
  const struct {
    const char* what;
    std::function<void()> make;
    Options options;
    bool starts;
    std::function<bool()> intact;
  } cases[] = {
      {"a file at COM17", [&] { std::ofstream(com17) << "mine"; }, TestOptions(17), false,
       [&] { return content(com17) == "mine"; }},
      {"a running simulator's COM18", [] {}, TestOptions(18), false,
       [&] { return fs::read_symlink(folder + "/COM18") == running.DevicePath(); }},
      {"a link to a state file elsewhere", [&] { fs::create_symlink(victim, state + "/nand.flash"); }, withState, false,
       [&] { return content(victim) == "kept"; }},
      {"a link left behind", [&] { fs::remove(com17), fs::create_symlink("/dev/pts/gone", com17); }, TestOptions(17),
       true, [] { return true; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.make();
    Simulator sim(c.options);
    EXPECT_EQ(sim.Start(&error) == 0, c.starts) << error;
    sim.Stop();
    EXPECT_TRUE(c.intact());
  }
  running.Stop();
}

// After a hang-up the host may still hold the old port open, which keeps
// its device alive: the name is still the simulator's own to take back,
// and only its own.
TEST_F(MiscTest, NewPortAfterAHangUpTakesItsOwnNameBackWhileTheOldOneLives) {
  namespace fs = std::filesystem;
  const std::string old = Config().Root() + "/old-port", fresh = Config().Root() + "/new-port";
  std::ofstream(old) << "";
  std::ofstream(fresh) << "";
  std::string why;
  ASSERT_EQ(0, PublishComName(21, old, "", &why)) << why;
  EXPECT_NE(0, PublishComName(21, fresh, "", &why));
  EXPECT_NE(0, PublishComName(21, fresh, Config().Root() + "/another-port", &why));
  EXPECT_EQ(fs::read_symlink(Config().Folder() + "/COM21"), old);
  ASSERT_EQ(0, PublishComName(21, fresh, old, &why)) << why;
  EXPECT_EQ(fs::read_symlink(Config().Folder() + "/COM21"), fresh);
}

TEST_F(MiscTest, PowerCycleWhenQuietAndFromOutside) {
  Options o = TestOptions();
  StartSim(o);
  Host h(Com());
  h.Open();
  ASSERT_EQ(h.RecvByte(), 0xA5);
  h.Send(PayloadBytes(NandFlashLoaderImage()));
  ASSERT_TRUE(Sim().WaitForTranscript("NAND flash loader starts", 2000));
  Sim().PowerCycleWhenQuiet(30);
  EXPECT_EQ(h.RecvByte(), 0xA5);  // back in the boot ROM
  EXPECT_EQ(Sim().StateName(), "boot-rom");
  Sim().PowerOff();
  ASSERT_TRUE(Sim().WaitForTranscript("power off (switched from outside)", 2000));
  Sim().PowerOn();
  EXPECT_EQ(h.RecvByte(), 0xA5);
  Sim().PowerCycle();
  EXPECT_EQ(h.RecvByte(), 0xA5);
}

TEST_F(MiscTest, NoAutomaticPowerWhenSwitchedOff) {
  Options o = TestOptions();
  o.autoPowerOn = false;
  StartSim(o);
  Host h(Com());
  h.Open();
  EXPECT_EQ(h.RecvByte(1), -1);
  h.Send(Bytes{1, 2, 3});  // lost: nobody listens
  Sim().PowerOn();
  EXPECT_EQ(h.RecvByte(), 0xA5);
}

TEST_F(MiscTest, PacingHoldsTheLineRate) {
  const auto h = OpenPaced(false);
  // 2656 bytes at 115200 bit/s take about 230 ms on the line.
  const auto start = std::chrono::steady_clock::now();
  h->Send(PayloadBytes(SdramInitImage()));
  ASSERT_TRUE(Sim().WaitForTranscript("memory set-up program ran", 5000));
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  EXPECT_GT(ms, 150.0);
}

TEST_F(MiscTest, PacedLineStillTakesEveryByteAndTimesTheHostsAnswer) {
  const auto before = std::chrono::steady_clock::now();
  const auto h = OpenPaced(true);
  // The whole upload arrives although the handset's receiver holds only a
  // few bytes at a time: the rest wait in the host's queue.
  h->Send(PayloadBytes(SdramInitImage()));
  ASSERT_TRUE(Sim().WaitForTranscript("memory set-up program ran", 5000));
  const auto after = std::chrono::steady_clock::now();
  // One turnaround per answer the host followed: the BOOT byte (start
  // signal) and the echo (upload).
  const auto turns = Sim().Turnarounds();
  ASSERT_EQ(turns.size(), 2u);
  for (const auto& t : turns) {
    EXPECT_GE(t.ns, 0);
    EXPECT_GE(t.atNs, std::chrono::duration_cast<std::chrono::nanoseconds>(before.time_since_epoch()).count());
    EXPECT_LE(t.atNs, std::chrono::duration_cast<std::chrono::nanoseconds>(after.time_since_epoch()).count());
  }
}

TEST_F(MiscTest, PurgeAfterTheLastByteWentOutLeavesTheUploadWhole) {
  // The host purges as soon as its driver has handed over the last byte;
  // the tail of the upload is still on the line, and a purge cannot recall
  // it. A purge before the upload went out, by contrast, cuts it short.
  const auto h = OpenPaced(true);
  h->Send(PayloadBytes(SdramInitImage()));
  h->Link().port->Purge();  // waits until the handset has taken every byte
  ASSERT_TRUE(Sim().WaitForTranscript("memory set-up program ran", 5000)) << "the upload was cut short";
}

TEST(FaultText, ParsesAndPrintsEveryKind) {
  const char* texts[] = {"silence:speed-req:1", "silence-after:flash-type:2", "stray:boot:00,7F:1",
                         "bad-echo:3",          "resend:1",                   "failed:2",
                         "refuse:1",            "too-large:4",                "hangup:5",          "hangup-upload:2",
                         "flip:nor:0x1F00:7"};
  for (const char* t : texts) {
    Fault f;
    std::string error;
    ASSERT_TRUE(Fault::Parse(t, &f, &error)) << t << ": " << error;
    Fault again;
    ASSERT_TRUE(Fault::Parse(f.ToString(), &again, &error)) << f.ToString();
    EXPECT_EQ(again.ToString(), f.ToString());
  }
  Fault f;
  ASSERT_TRUE(Fault::Parse("resend", &f, nullptr));
  EXPECT_EQ(f.occurrence, 1u);
  for (const char* bad : {"", "resend:0", "resend:x", "stray:boot", "stray:boot:1FF", "flip:nand:0x10",
                          "flip:emmc:0:1", "flip:nand:0:8", "silence", "nonsense:1"}) {
    std::string error;
    EXPECT_FALSE(Fault::Parse(bad, &f, &error)) << bad;
    EXPECT_FALSE(error.empty());
  }
}

}  // namespace
}  // namespace vantrel::sim
