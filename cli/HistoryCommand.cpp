#include "cli/HistoryCommand.h"

#include <cstring>

#include "cli/ExitStatus.h"
#include "history/History.h"

namespace vantrel::cli {

namespace {

const char kHistoryHelp[] =
    "Usage: vantrel-cli history [--since WHEN] [--port COMn] [--failed] [--csv | --json]\n"
    "\n"
    "Prints the station log, one line per handset and run, oldest first:\n"
    "  --since WHEN   runs that began at WHEN or later: 2026-12-08, \"2026-12-08 14:30\",\n"
    "                 2026-12-08T14:30:00 (local time; a trailing Z means UTC)\n"
    "  --port COMn    runs on that port only\n"
    "  --failed       failed runs only\n"
    "  --csv          comma-separated values with a header line, for a spreadsheet\n"
    "  --json         the records themselves, one JSON object per line\n"
    "The log is $XDG_DATA_HOME/vantrel-downloader/history.jsonl\n"
    "(default ~/.local/share/vantrel-downloader/history.jsonl).\n";

}  // namespace

int RunHistoryCommand(const std::vector<std::string>& args, std::FILE* out, std::FILE* err) {
  history::Filter filter;
  bool csv = false, json = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--help" || a == "-h") {
      std::fputs(kHistoryHelp, out);
      return kExitOk;
    } else if (a == "--since" && hasValue) {
      filter.since = history::ParseTime(args[++i]);
      if (!filter.since) {
        std::fprintf(err, "vantrel-cli: history: '%s' is not a date such as 2026-12-08 or \"2026-12-08 14:30\"\n",
                     args[i].c_str());
        return kExitUsage;
      }
    } else if (a == "--port" && hasValue) {
      filter.port = args[++i];
    } else if (a == "--failed") {
      filter.failedOnly = true;
    } else if (a == "--csv") {
      csv = true;
    } else if (a == "--json") {
      json = true;
    } else {
      std::fprintf(err, "vantrel-cli: history: unknown or incomplete option %s (see history --help)\n", a.c_str());
      return kExitUsage;
    }
  }
  if (csv && json) {
    std::fputs("vantrel-cli: history: give --csv or --json, not both\n", err);
    return kExitUsage;
  }
  const std::string path = history::HistoryPath();
  history::Contents log = history::ReadRecords(path);
  if (log.error != 0) {
    std::fprintf(err, "vantrel-cli: history: cannot read %s: %s\n", path.c_str(), std::strerror(log.error));
    return kExitFile;
  }
  if (csv) std::fprintf(out, "%s\r\n", history::CsvHeader().c_str());
  for (const nlohmann::json& r : log.records) {
    if (!history::Matches(r, filter)) continue;
    if (csv) std::fprintf(out, "%s\r\n", history::CsvRow(r).c_str());
    else if (json) std::fprintf(out, "%s\n", r.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    else std::fprintf(out, "%s\n", history::TextLine(r).c_str());
  }
  // A line torn by a crash is left out; say so, so that nobody wonders.
  if (log.damaged > 0)
    std::fprintf(err, "vantrel-cli: history: skipped %d damaged line%s in %s\n", log.damaged,
                 log.damaged == 1 ? "" : "s", path.c_str());
  return kExitOk;
}

}  // namespace vantrel::cli
