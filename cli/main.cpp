// vantrel-cli: the download tool's operations without the window.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "cli/Args.h"
#include "cli/CliConsole.h"
#include "cli/ExitStatus.h"
#include "cli/HistoryCommand.h"
#include "cli/Json.h"
#include "cli/Output.h"
#include "cli/PortReport.h"
#include "cli/RunRecord.h"
#include "cli/Runner.h"
#include "platform/Host.h"
#include "platform/Interrupt.h"
#include "platform/Terminal.h"
#include "platform/TerminalText.h"
#include "history/History.h"
#include "jobs/Console.h"
#include "link/PortList.h"
#include "link/Stop.h"
#include "payloads/Payloads.h"

namespace {

using namespace vantrel::cli;

// The runner while it runs; the interrupt watcher outlives it.
std::atomic<Runner*> g_runner{nullptr};

// Ctrl-C cancels the running job the way the window's Cancel does; a second
// one, or one while nothing runs, ends the program at once.
void OnInterrupt() {
  static int interrupts = 0;  // the calls never overlap
  Runner* runner = g_runner.load();
  if (++interrupts > 1 || runner == nullptr || !runner->Interrupt()) std::_Exit(kExitInterrupted);
}

}  // namespace

int main(int argc, char** argv) {
  vantrel::platform::WriteUtf8ToTheConsole();
  std::vector<std::string> args = vantrel::platform::ProgramArguments(argc, argv);
  if (!args.empty() && args[0] == "history")
    return RunHistoryCommand(std::vector<std::string>(args.begin() + 1, args.end()), stdout, stderr);
  ParseResult parsed = ParseArguments(args);
  const Options& o = parsed.options;
  if (!parsed.ok) {
    if (o.json) {
      std::printf("%s\n", JsonObject("exit").Add("status", kExitUsage).Add("failure", "usage").Add("reason", parsed.error).Text().c_str());
    }
    std::fprintf(stderr, "vantrel-cli: %s\n%s\n", vantrel::platform::EscapeControls(parsed.error).c_str(), UsageHint());
    return kExitUsage;
  }
  if (o.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kExitOk;
  }
  if (o.version) {
    std::printf("vantrel-cli %s%s\n", vantrel::kWindowTitleSuffix,
                vantrel::BuiltInPayloadsAreStandIns() ? " (stand-in handset payloads)" : "");
    return kExitOk;
  }
  if (o.listPorts) {
    PrintPorts(vantrel::BuildPortTable(vantrel::MakeSystemPortLister()->List()), o.json, stdout);
    return kExitOk;
  }
  // Chosen once, before any job: every upload of this run sends this set.
  vantrel::UsePayloads(vantrel::FindPayloads(vantrel::PayloadSearch::FromEnvironment(o.payloadDir)));

  // A reader that goes away (a closed pipe) must not end the program in the
  // middle of a flash write: the output is lost, the operation completes.
  vantrel::platform::IgnoreClosedPipes();
  // Interrupts go to one watcher thread, not into the middle of a transfer.
  vantrel::platform::CatchInterrupts(OnInterrupt);

  // A terminal that cannot take colour and cursor sequences (a console
  // before Windows 10) gets plain lines, as a file does.
  const bool outTty = vantrel::platform::UseTerminalSequences(stdout);
  const bool errTty = vantrel::platform::IsTerminal(stderr);
  const bool color = o.color == ColorMode::Always || (o.color == ColorMode::Auto && outTty);

  // Standard output carries the log (or the JSON events) and nothing else:
  // the core libraries report through the trace sink, never on it.
  std::FILE* out = stdout;

  std::unique_ptr<EventSink> sink;
  if (o.json) sink = std::make_unique<JsonSink>(out);
  else sink = std::make_unique<TextSink>(out, stderr, color, o.progress && outTty, outTty && errTty);
  if (o.json) {
    JsonObject start("start");
    start.Add("program", "vantrel-cli").Add("version", vantrel::kWindowTitleSuffix);
    start.Add("port", o.port).Add("rate", RateName(o.baudIndex)).Add("link", o.commType == 1 ? "usb" : "uart");
    start.Add("operations", static_cast<int>(o.ops.size())).Add("payloads", vantrel::ActivePayloads().Notice());
    static_cast<JsonSink*>(sink.get())->Emit(start.Text());
  }

  // Every run that talks to a handset leaves one record in the station log.
  const bool touchesHandset =
      std::any_of(o.ops.begin(), o.ops.end(), [](const Operation& op) { return NeedsPort(op.kind); });
  RecordingSink recorder(*sink, o, touchesHandset ? vantrel::history::HistoryPath() : "");

  TerminalAsker asker;
  int status;
  {
    Runner runner(o, recorder, &asker);
    g_runner = &runner;
    status = runner.Run();
    g_runner = nullptr;
  }
  std::fflush(out);
  return status;
}
