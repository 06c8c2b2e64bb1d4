// The three callbacks the protocol routines report through, and the
// flash-region indicator on the file buttons.
#include <utility>

#include "jobs/Console.h"
#include "jobs/ControlIds.h"
#include "jobs/GatedConsole.h"
#include "jobs/Jobs.h"
#include "jobs/OperationRecord.h"
#include "jobs/Printf.h"

namespace vantrel {

namespace {

constexpr uint32_t kDumpBlockBytes = 0x20000;  // NAND block and NOR main block alike

// Cancel becomes available once the transfer has begun. Inside a job started
// by the runner the gate remembers that it is enabled already, so the calls
// made for every 1024-byte chunk stay cheap.
void EnableCancel(Console& con) {
  if (auto* gate = dynamic_cast<GatedConsole*>(&con)) {
    gate->EnableCancelOnce();
  } else {
    con.EnableControl(ctl::kCancel, true);
  }
}

// Runs a group of updates (counters and their display) as one: inside a job
// they either all happen before a Cancel or not at all.
template <class F>
void AsOneUpdate(Console& con, F&& fn) {
  if (auto* gate = dynamic_cast<GatedConsole*>(&con)) {
    gate->RunOpen(fn);
  } else {
    fn();
  }
}

// Percentage of the expected ticks. With no expected count (a run that
// reports a block before any count was set) the percentage stays as it is.
int Percent(int ticks, int expected, int current) {
  if (expected <= 0) return current;
  return static_cast<int>(int64_t{ticks} * 100 / expected);
}

const char* ProgressErrorText(ProgressFault fault) {
  switch (fault) {
    case ProgressFault::ChecksumError: return " Error\n";
    case ProgressFault::Resend: return " Fail -> Resend data\n";
    case ProgressFault::Sync: return " Sync error\n";
    case ProgressFault::InvalidAck: return " Invalid ACK received\n";
    case ProgressFault::NoResponse: return " Not response at the target phone\n";
    default: return " Unknown error\n";
  }
}

// One more block done: the tick counter, the percentage in the record and
// on the bar, and the tick text. Returns the tick count and the percentage.
std::pair<int, int> CountBlock(JobContext& ctx, bool clampAt100) {
  const int ticks = ++ctx.job.progressTicks;
  const int expected = ctx.job.expectedTicks.load();
  int percent = Percent(ticks, expected, ctx.rec.m_nProgress.load());
  if (clampAt100 && percent >= 100) percent = 100;
  ctx.rec.m_nProgress.store(percent);
  ctx.con.SetProgressPos(percent);
  ctx.con.ShowTicks(ticks, expected);
  return {ticks, percent};
}

}  // namespace

void ProgressCallBackFunc(JobContext& ctx, const ProgressEvent& event) {
  Console& con = ctx.con;
  EnableCancel(con);

  if (event.fault) {
    switch (*event.fault) {
      case ProgressFault::Checksum:
        con.AppendLogPlain(" checksum : ");
        con.AppendLog(StrPrintf("0x%X\n", event.value), LogKind::Red);
        break;
      case ProgressFault::ChecksumError:
        con.AppendLogPlain(" checksum ");
        con.AppendLog(ProgressErrorText(*event.fault), LogKind::Red);
        break;
      case ProgressFault::RangeEnd:
        con.AppendLogPlain("\n");
        break;
      default:
        con.AppendLog(ProgressErrorText(*event.fault), LogKind::Red);
        break;
    }
    return;
  }
  if (!event.block) return;  // a piece within a block
  const uint32_t address = event.address;

  AsOneUpdate(con, [&] {
    const auto [ticks, percent] = CountBlock(ctx, true);
    con.ShowPercent(percent);
    const int bytes = static_cast<int>(event.value);
    // Address 0 is short on the screen: a second tab keeps the columns.
    const char* gap = address != 0 ? "\t" : "\t\t";
    con.AppendLogPlain(event.erase ? StrPrintf("\r\n    0 x %X%s Erase   %d bytes\t. . . .    OK ", address, gap, bytes)
                                   : StrPrintf("    0 x %X%s Download   %d bytes\t. . . .  ", address, gap, bytes));
    if (!event.erase) {
      // What --verify reads back and the station log keeps: the block as the
      // handset took it, in the flash of the transfer that sent it.
      ctx.job.outcome.AddWritten(address, event.value);
      con.ShowWrittenBlock({ctx.job.outcome.Region(), address, event.value});
    }
    ShowFlashRegion(ctx, ctx.job.loaderState.load(), ticks % 2, address);
  });
}

void DumpProgressCallBackFunc(JobContext& ctx, uint8_t step, uint32_t address) {
  Console& con = ctx.con;
  EnableCancel(con);
  if (step == 0) return;

  AsOneUpdate(con, [&] {
    // Not clamped here: the title caps what it shows at 100.
    CountBlock(ctx, false);
    con.AppendLogPlain(ctx.rec.m_nDumpAddress == 0 ? std::string("   0x0000 : \t")
                                                    : StrPrintf("\n   0x%x : \t", address));
    const uint8_t op = ctx.job.operation.load();
    if (op == kOpNandDump || op == kOpNorDump) ctx.rec.m_nDumpAddress += kDumpBlockBytes;
    con.AppendLog("   Dump   >>>   OK", LogKind::BlueNote);
  });
}

bool DumpDataCallBackFunc(JobContext& ctx, const uint8_t* data, uint32_t length) {
  if (ctx.rec.m_dumpFile == nullptr) return false;
  if (length == 0) return true;
  return std::fwrite(data, 1, length, ctx.rec.m_dumpFile) == length;
}

ProgressCallBack ProgressTo(JobContext& ctx) {
  return [&ctx](const ProgressEvent& event) { ProgressCallBackFunc(ctx, event); };
}

DumpProgressCallBack DumpProgressTo(JobContext& ctx) {
  return [&ctx](uint8_t step, const uint8_t* /*ignored*/, uint32_t address) {
    DumpProgressCallBackFunc(ctx, step, address);
  };
}

void ShowFlashRegion(JobContext& ctx, uint8_t loaderState, int phase, uint32_t address) {
  if (loaderState != kLoaderNand) return;
  ItemFont font;
  if (phase == 0) {
    font = ItemFont::Active;
  } else if (phase == 1) {
    font = ItemFont::Done;
  } else {
    return;
  }
  int button = 0;
  if (address >= 0x3700000 && address < 0x4FBFFFF) {
    button = ctl::kRsrc1Button;
  } else if (address >= 0xAC0000 && address < 0xCC0000) {
    button = ctl::kRsrc2Button;
  } else if (address >= 0x4A0000 && address < 0x36DFFFF) {
    button = ctl::kImgsetButton;
  } else if (address >= 0x260000 && address <= 0x27FFFF) {
    button = ctl::kCalsetButton;
  } else {
    return;
  }
  ctx.con.ShowItemProgress(button, font);
}

}  // namespace vantrel
