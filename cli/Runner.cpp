#include "cli/Runner.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>

#include "cli/CountingSerial.h"
#include "cli/ExitStatus.h"
#include "cli/PortAdvice.h"
#include "cli/ProgressMeter.h"
#include "cli/Verify.h"
#include "jobs/DownloadChecks.h"
#include "jobs/FileInfo.h"
#include "jobs/JobState.h"
#include "jobs/Jobs.h"
#include "link/ComNames.h"
#include "link/ResultCodes.h"
#include "link/SerialDevice.h"
#include "link/SimulatedLine.h"
#include "link/Stop.h"
#include "link/Timing.h"
#include "link/Trace.h"
#include "maintenance/OperationControl.h"
#include "payloads/Payloads.h"
#include "platform/Files.h"
#include "platform/TerminalText.h"

namespace vantrel::cli {

namespace {

constexpr int kMaxCom = 50;
// The job's end and Ctrl-C wake the waiting thread; this is only a backstop.
constexpr auto kWaitStep = std::chrono::seconds(1);
constexpr auto kProgressPeriod = std::chrono::milliseconds(250);
constexpr uint32_t kReadBackBlock = 0x20000;

// Why a file the operation reads cannot be used; empty when it can. The open
// never waits: a FIFO without a writer would block it, and SIGTERM with it.
std::string InputProblem(const std::string& path) {
  platform::File file;
  const platform::FileError e = platform::OpenForReading(path, platform::Links::Follow, &file);
  switch (e.fault) {
    case platform::FileFault::None: return file.Size() == 0 ? "it is empty" : "";
    case platform::FileFault::Folder:
    case platform::FileFault::NotRegular: return "it is " + platform::FileErrorText(e);
    default: return std::strerror(e.code);
  }
}

bool IsDownload(const Operation& op) { return op.kind == OpKind::Download || op.kind == OpKind::AutoAll; }

}  // namespace

bool ChoosePort(const std::string& port, PortChoice& out, std::string& error) {
  out = PortChoice{};
  std::string upper;
  for (char c : port) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (upper.size() >= 4 && upper.size() <= 5 && upper.rfind("COM", 0) == 0 &&
      std::all_of(upper.begin() + 3, upper.end(), [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
    int n = std::stoi(upper.substr(3));
    if (n < 1 || n > kMaxCom) {
      error = "port " + port + ": COM names run from COM1 to COM50";
      return false;
    }
    out.comNumber = n;
    out.comName = "COM" + std::to_string(n);
    out.device = ComDevicePath(out.comName);
    return true;
  }
  if (port.empty() || port[0] != '/') {
    error = "port '" + port + "': give COM1..COM50 or a device path such as /dev/ttyUSB0";
    return false;
  }
  // A device path: use the COM name that already leads there, so that the
  // log names the port as the window would; else COM1 for this process only.
  const std::string target = ResolveDevice(port);
  for (int n = 1; n <= kMaxCom; ++n) {
    if (ResolveDevice(ComDevicePath("COM" + std::to_string(n))) == target) {
      out.comNumber = n;
      break;
    }
  }
  if (out.comNumber == 0) out.comNumber = 1;
  out.comName = "COM" + std::to_string(out.comNumber);
  out.device = port;
  out.overridden = true;
  return true;
}

Runner::Runner(const Options& options, EventSink& sink, Asker* asker) : o_(options), sink_(sink), asker_(asker) {}

bool Runner::Interrupt() {
  interrupted_ = true;
  cv_.notify_all();
  switch (phase_.load()) {
    case Phase::Idle: return false;
    case Phase::Job: return true;  // the waiting thread presses Cancel
    case Phase::Verify:
      // Pauses end and no further write starts; the read-back unwinds.
      stop::Request();
      return true;
  }
  return false;
}

ControlValues Runner::ControlsFor(const Operation& op) const {
  ControlValues c;
  c.comPort = port_.comNumber - 1;
  c.baudIndex = o_.baudIndex;
  c.commType = o_.commType;
  c.imgset = o_.imgset;
  c.calset = o_.calset;
  c.rsrc1 = o_.rsrc1;
  c.rsrc2 = o_.rsrc2;
  c.fs = o_.fs;
  c.fsChosen = o_.fs.empty() ? 0 : 1;
  c.reboot = o_.reboot ? 1 : 0;
  c.calsetDefault = o_.calsetDefault ? 1 : 0;
  c.includeBootloader = o_.includeBootloader ? 1 : 0;
  c.nandCalset = o_.withCalset ? 1 : 0;
  if (op.kind == OpKind::AutoAll) c.autoAll = 1;
  if (op.kind == OpKind::Download) {
    c.downloadItem = op.item;
    switch (op.item) {
      case kItemImgset: c.imgset = op.file; break;
      case kItemCalset: c.calset = op.file; break;
      case kItemRsrc1: c.rsrc1 = op.file; break;
      case kItemRsrc2: c.rsrc2 = op.file; break;
      case kItemFs:
        c.fs = op.file;
        c.fsChosen = 1;
        break;
      case kItemEntire: c.entire = op.file; break;
      case kItemNandManual:
        c.nandManual = op.file;
        c.startAddress = op.address;
        break;
      case kItemNorManual:
        c.norManual = op.file;
        c.startAddress = op.address;
        break;
      default: break;
    }
  }
  return c;
}

std::vector<InputFile> OperationInputs(const Options& o, const Operation& op) {
  if (op.kind == OpKind::Download) {
    if (op.item == kItemAll) {
      std::vector<InputFile> files = {{"image set", o.imgset}, {"Rsrc1", o.rsrc1}, {"Rsrc2", o.rsrc2}, {"file system", o.fs}};
      if (o.withCalset) files.push_back({"calset", o.calset});
      return files;
    }
    if (op.item == kItemRsrc1Fs) return {{"Rsrc1", o.rsrc1}, {"file system", o.fs}};
    return {{"image", op.file}};
  }
  if (op.kind == OpKind::AutoAll) {
    std::vector<InputFile> files = {{"image set", o.imgset}, {"Rsrc1", o.rsrc1}, {"Rsrc2", o.rsrc2}, {"file system", o.fs}};
    if (o.calsetDefault) files.push_back({"calset", o.calset});
    return files;
  }
  return {};
}

Judgement Runner::CheckInputs(const Operation& op) const {
  for (const auto& [what, path] : OperationInputs(o_, op)) {
    std::string problem = InputProblem(path);
    if (!problem.empty())
      return {kExitFile,
              std::string("cannot use the ") + what + " file " + platform::EscapeField(path) + ": " + problem};
  }
  return {kExitOk, ""};
}

void Runner::Dispatch(OperationControl& control, const Operation& op) {
  switch (op.kind) {
    case OpKind::Connect:
    case OpKind::AutoAll: control.OnStart(); break;
    case OpKind::Download: control.OnDownload(); break;
    case OpKind::Bootloader: control.OnBootloaderDownload(); break;
    case OpKind::EraseAll: control.OnNandEraseAll(); break;
    case OpKind::EraseBoot: control.OnEraseBootloader(); break;
    case OpKind::NandDump:
    case OpKind::NandErase: control.OnNandDump(); break;
    case OpKind::NorDump: control.OnNorDump(); break;
    case OpKind::NorFormat: control.OnNorAllSectorsErase(); break;
    case OpKind::VlfFormat: control.OnVlfFormat(); break;
    case OpKind::PzlFormat: control.OnPzlFormat(); break;
    case OpKind::RawReadback: control.OnRawDump(); break;
    case OpKind::Disconnect: control.OnDisconnect(); break;
    case OpKind::Info: break;
  }
}

void Runner::WaitForJob(OperationControl& control) {
  bool cancelled = false;
  std::unique_lock<std::mutex> lock(mu_);
  while (control.JobRunning() && !jobEnded_) {
    if (interrupted_ && !cancelled) {
      lock.unlock();
      control.OnCancel();  // the window's Cancel: the job stops before its next exchange
      cancelled = true;
      lock.lock();
      continue;
    }
    cv_.wait_for(lock, kWaitStep);
  }
  lock.unlock();
  control.WaitForJob();
}

Judgement Runner::RunInfo(const Operation& op) {
  std::string problem = InputProblem(op.file);
  std::optional<FileSummary> sum;
  if (problem.empty() || problem == "it is empty") sum = SummariseFile(op.file);
  if (!sum)
    return {kExitFile, "cannot read " + platform::EscapeField(op.file) + (problem.empty() ? "" : ": " + problem)};
  sink_.Info(op.file, sum->length, sum->sum);
  return {kExitOk, ""};
}

Judgement Runner::RunOne(OperationControl& control, CliConsole& console, OperationRecord& rec, const Operation& op) {
  if (op.kind == OpKind::Info) return RunInfo(op);
  Judgement pre = CheckInputs(op);
  if (pre.status != kExitOk) return pre;

  rec.m_strToday = TodayDigits();
  console.BeginOperation(op, ControlsFor(op));
  if (op.kind == OpKind::Download && op.item == kItemNorManual) {
    // The NOR row writes below the address typed whenever its low 7 bits are
    // set; the window shows the address it uses, the command line asks.
    const std::optional<uint32_t> used = NorManualStartAddress(op.address);
    char text[160];
    if (!used) {
      std::snprintf(text, sizeof text, "NOR start address 0x%X: less its low 7 bits x 1024 (0x%X) it falls below 0",
                    op.address, (op.address & 0x7Fu) * 1024u);
      return {kExitUsage, text};
    }
    if (*used != op.address)
      std::snprintf(text, sizeof text, "The file is written into NOR at 0x%X (0x%X less its low 7 bits x 1024).",
                    *used, op.address);
    else
      std::snprintf(text, sizeof text, "The file is written into NOR at 0x%X.", *used);
    if (!console.Confirm("Check the start address", {text, "Are you sure?"})) return Judge({}, console.FirstRefusal());
  }
  if (op.kind == OpKind::NandErase) {
    // The window's dump dialog is the operator's deliberate choice; on the
    // command line a typed range asks first, like the other erasures.
    char range[64];
    std::snprintf(range, sizeof range, "0x%X to 0x%X", op.from, op.to);
    if (!console.Confirm("WARNING!!!!!!!!", {std::string("NAND flash from ") + range + " is erased.", "Are you sure?"}))
      return Judge({}, console.FirstRefusal());
  }

  phase_ = Phase::Job;
  {
    std::lock_guard<std::mutex> lock(mu_);
    jobEnded_ = false;
  }
  Dispatch(control, op);
  WaitForJob(control);
  phase_ = Phase::Idle;
  if (interrupted_) return {kExitInterrupted, "interrupted; the job was cancelled"};

  const OperationOutcome outcome = control.LastOutcome();
  Judgement j = Judge(outcome, console.FirstRefusal());
  if (j.status == kExitPort) {
    const std::string hint = PermissionHintBeyondLink(port_.device);
    if (!hint.empty()) j.reason += "; " + hint;
  }
  if (j.status == kExitOk && o_.verify && IsDownload(op)) {
    Judgement v = Verify(control.Context(), rec, op, outcome.transfers);
    v.written = j.written;
    v.read = j.read;
    j = v;
  }
  return j;
}

Judgement Runner::Verify(JobContext& ctx, OperationRecord& rec, const Operation& op,
                         const std::vector<ImageTransfer>& transfers) {
  if (transfers.empty()) {
    sink_.Verify(op.text, false, 0, -1, "the download reported no written blocks");
    return {kExitVerify, "nothing to verify: the download reported no written blocks"};
  }
  // Only the flash whose loader still runs can be read back.
  const uint8_t loader = ctx.job.loaderState.load();
  uint32_t checked = 0;
  for (const ImageTransfer& transfer : transfers) {
    const std::string name = TransferName(transfer);
    VerifySource src = SourceForTransfer(transfer, rec);
    if (src.layout == Layout::None) {
      sink_.Note("verify: " + name + " is not compared (" + src.why + ")");
      continue;
    }
    // A transfer that wrote nothing reports "Completed" all the same: the
    // file is not in the flash, which is what --verify is there to catch.
    if (transfer.blocks.empty()) {
      std::string detail = name + " wrote no block of " + platform::EscapeField(src.path);
      sink_.Verify(op.text, false, checked, -1, detail);
      return {kExitVerify, "verify: " + detail};
    }
    if ((src.flash == FlashRegion::Nand && loader != kLoaderNand) || (src.flash == FlashRegion::Nor && loader != kLoaderNor)) {
      sink_.Note("verify: " + name + " is not compared (its flash loader no longer runs)");
      continue;
    }
    std::vector<Span> spans;
    std::string error;
    if (!BuildSpans(src, transfer.blocks, spans, error)) {
      sink_.Verify(op.text, false, checked, -1, error);
      return {kExitVerify, "cannot verify " + name + ": " + error};
    }
    sink_.Phase(vantrel::Phase::Verify, transfer.item);
    for (const Span& span : spans) {
      const uint32_t length = static_cast<uint32_t>(span.expected.size());
      char what[96];
      std::snprintf(what, sizeof what, "verify: reading back %s 0x%X..0x%X", FlashRegionName(src.flash),
                    span.address, span.address + length - 1);
      sink_.Note(what);
      // The progress bar starts again for the read-back.
      if (meter_ != nullptr) meter_->Stop();
      ctx.job.progressTicks = 0;
      ctx.job.expectedTicks = static_cast<int32_t>((length + kReadBackBlock - 1) / kReadBackBlock);
      if (meter_ != nullptr) meter_->Start();
      phase_ = Phase::Verify;
      std::vector<uint8_t> actual;
      Result rc = ReadBackFlash(ctx.session, rec, src.flash, span.address, length, actual, [&ctx](uint32_t) { ctx.job.progressTicks++; });
      phase_ = Phase::Idle;
      if (interrupted_) return {kExitInterrupted, "interrupted during the read-back"};
      if (rc != Result::Ok) {
        std::string detail = std::string("read-back failed: ") + ResultText(rc);
        sink_.Verify(op.text, false, checked, -1, detail);
        return {StatusOf(FailureKindOf(rc)), detail, rc};
      }
      if (auto diff = FirstDifference(span.address, span.expected, actual)) {
        size_t i = *diff - span.address;
        char detail[160];
        if (i < actual.size())
          std::snprintf(detail, sizeof detail, "flash holds 0x%02X where the file has 0x%02X", actual[i], span.expected[i]);
        else
          std::snprintf(detail, sizeof detail, "the read-back ended after %zu of %u bytes", actual.size(), length);
        sink_.Verify(op.text, false, checked + static_cast<uint32_t>(i), *diff, detail);
        char reason[320];
        std::snprintf(reason, sizeof reason, "verify: flash differs from the file at address 0x%X (%s)", *diff, detail);
        return {kExitVerify, reason};
      }
      checked += length;
    }
  }
  sink_.Verify(op.text, true, checked, -1, "");
  return {kExitOk, ""};
}

int Runner::Run() {
  timing::SetPauseScale(o_.pauseScale);
  timing::SetPollScale(o_.pollScale);
  // Off again however the run ends.
  struct PauseGate {
    explicit PauseGate(bool on) : on(on) {
      if (on) GatePausesOnSimulators(true);
    }
    ~PauseGate() {
      if (on) GatePausesOnSimulators(false);
    }
    bool on;
  } pauseGate(o_.followSimulator);
  // The link's traces reach the operator only when asked for.
  SetTraceSink([this](std::string_view text) {
    if (o_.trace) sink_.Trace(std::string(text));
  });

  const int count = static_cast<int>(o_.ops.size());
  bool needPort = std::any_of(o_.ops.begin(), o_.ops.end(), [](const Operation& op) { return NeedsPort(op.kind); });
  std::unique_ptr<PortLock> lock;
  if (needPort) {
    // The operator reads first which payloads the handset will get; a refused
    // folder ends the run before the port is touched.
    const PayloadSet& payloads = ActivePayloads();
    sink_.Log(payloads.Notice() + "\n", payloads.From() == PayloadSet::Source::Folder ? LogKind::Black : LogKind::Red);
    if (!payloads.Usable()) {
      sink_.Note("nothing was sent: " + payloads.Notice());
      sink_.Finish(kExitFile, 0, count);
      return kExitFile;
    }
    std::string error;
    if (!ChoosePort(o_.port, port_, error)) {
      sink_.Note(error);
      sink_.Finish(kExitUsage, 0, count);
      return kExitUsage;
    }
    if (port_.overridden) {
      SetComOverride(port_.comName, port_.device);
      sink_.Note(port_.device + " is " + port_.comName + " in this run");
    }
    // One process per port: refuse before touching the line.
    std::string why;
    lock = PortLock::Acquire(port_.device, &why);
    if (!lock) {
      sink_.Note(why);
      sink_.Finish(kExitPort, 0, count);
      return kExitPort;
    }
    if (!why.empty()) sink_.Note(why + "; the port's exclusive open still keeps a second process away");
    {
      // The port must open now; a busy or forbidden port is said plainly at
      // once, instead of after the link's fifty attempts.
      std::unique_ptr<SerialDevice> probe = MakeSerialDevice();
      std::string reason;
      if (probe->Open(port_.device, &reason) != 0) {
        // The link names the group when it can; the hint says the rest.
        const std::string hint = PermissionHintBeyondLink(port_.device);
        sink_.Note(port_.comName + " cannot be opened: " + reason + (hint.empty() ? "" : "; " + hint));
        sink_.Finish(kExitPort, 0, count);
        return kExitPort;
      }
      probe->Close();
    }
    std::string mm = ModemManagerNote(port_.device, ModemManagerRunning());
    if (!mm.empty()) sink_.Log("\n  * Note: " + mm + "\n", LogKind::Red);
    // Count the bytes on the line for the progress bar.
    const bool follow = o_.followSimulator;
    SetSerialFactory([follow] {
      return std::make_unique<CountingSerial>(follow ? FollowSimulator(MakePosixSerial()) : MakePosixSerial());
    });
  }

  OperationRecord rec;
  rec.m_nComPort = port_.comNumber - 1;
  rec.m_nCommType = o_.commType;
  // The window sets the link mode with START; an operation that needs it
  // before any connect in this run finds the operator's choice.
  rec.m_nLinkMode = o_.commType == 1 ? LinkMode::Usb : LinkMode::Uart;
  CliConsole console(sink_, rec, asker_, o_.yes);
  const std::unique_ptr<Console> between = wrap_ ? wrap_(console) : nullptr;
  int status = kExitOk;
  int succeeded = 0;
  {
    OperationControl control(rec, between ? *between : console, nullptr);
    control.OnJobEnd([this](const JobOutcome&) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        jobEnded_ = true;
      }
      cv_.notify_all();
    });
    JobState& job = control.Context().job;
    std::atomic<uint64_t> bytesAtStart{0};
    ProgressMeter meter(
        sink_,
        [&] {
          ProgressSample s;
          s.ticks = job.progressTicks;
          s.expected = job.expectedTicks;
          int fromTicks = s.expected > 0 ? static_cast<int>(int64_t{s.ticks} * 100 / s.expected) : 0;
          s.percent = std::min(100, std::max({rec.m_nProgress.load(), console.RangePercent(), fromTicks}));
          s.bytes = LineBytes().load() - bytesAtStart;
          return s;
        },
        kProgressPeriod);
    meter_ = &meter;
    for (int i = 0; i < count && !interrupted_; ++i) {
      const Operation& op = o_.ops[static_cast<size_t>(i)];
      sink_.OpBegin(i + 1, count, op.text);
      job.progressTicks = 0;
      job.expectedTicks = 0;
      rec.m_nProgress = 0;
      bytesAtStart = LineBytes().load();
      meter.Start();
      Judgement j = RunOne(control, console, rec, op);
      meter.Stop();
      sink_.OpEnd(i + 1, count, op.text, j);
      if (j.status != kExitOk) {
        status = j.status;
        break;
      }
      ++succeeded;
    }
    if (interrupted_ && status == kExitOk) status = kExitInterrupted;
    meter_ = nullptr;
  }
  SetTraceSink(nullptr);
  SetSerialFactory(nullptr);
  if (port_.overridden) SetComOverride(port_.comName, "");
  sink_.Finish(status, succeeded, count);
  return status;
}

}  // namespace vantrel::cli
